// What the window shows when the meter is found or lost.
#pragma once

#include <cstdint>
#include <string_view>

namespace lu14 {

// The caption once a meter has been matched: this, then ModelSuffix ("14").
inline constexpr std::string_view kMatchedCaptionHead = "Прошивка версии D1.50 для пинцет ЛУ-";
inline constexpr std::string_view kMatchedModelSuffix = "14";
inline constexpr std::uint8_t kMatchedModelCode = 14;

// Log lines: this, ModelSuffix, then the event.
inline constexpr std::string_view kLogMeterHead = "Пинцет ЛУ-";
inline constexpr std::string_view kLogConnectedTail = " подключен";
inline constexpr std::string_view kLogDisconnectedTail = " отключен";

}  // namespace lu14
