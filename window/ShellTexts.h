// Fixed texts and parameters of the application shell: start-up, the
// single-instance guard, the failure report and the message boxes.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <string_view>

namespace lu14 {

inline constexpr std::string_view kAlreadyRunningText = "Вы пытаетесь запустить программу повторно";

// GetModuleFileNameW buffer of the guard: 255 code units and the terminating zero.
inline constexpr std::size_t kInstanceNameCapacity = 256;
inline constexpr std::chrono::milliseconds kInstanceWait{50};

// Started hidden at every accepted start, in this order, to end companion
// meter programs that could hold the meter. There is no program numbered 13.
inline constexpr std::array<std::string_view, 4> kCompanionKillCommands{
    "TASKKILL /F /IM RLC_l11.exe",
    "TASKKILL /F /IM RLC_l10.exe",
    "TASKKILL /F /IM RLC_l12.exe",
    "TASKKILL /F /IM RLC_l14.exe",
};

// The start-up caption is put together from these pieces around the carried
// firmware's version text; the result has two blanks before the version.
inline constexpr std::string_view kStartCaptionHead = "Прошивка версии ";
inline constexpr std::string_view kStartCaptionGap = " ";
inline constexpr std::string_view kStartCaptionTail = " для ЛУ-14";

// Failure texts of the window toolkit.
inline constexpr std::string_view kListRefusedLineText = "Unable to insert a line";
inline constexpr std::string_view kNoTimersText = "Not enough timers available";

}  // namespace lu14
