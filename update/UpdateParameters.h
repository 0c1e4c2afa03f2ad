// Fixed parameters of the settings backup and the update sequence.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lu14 {

// --- settings backup ---
inline constexpr std::string_view kBackupFolderName = "lu14";
inline constexpr std::string_view kBackupExtension = ".hex";
// The backup is written into a part file, "<name>.<process id>.part", and
// renamed when complete, so a file with the final name is always a whole one.
inline constexpr std::string_view kBackupPartSuffix = ".part";
inline constexpr std::size_t kBackupLines = 128;
inline constexpr std::size_t kBytesPerBackupLine = 16;
// Backups of one meter within one minute: _2 ... up to this before the extension.
inline constexpr int kMostBackupsOfAName = 999;

// --- update sequence ---
// One chunk goes out every chunk tick; the finishing step runs one finish
// tick after the last chunk.
inline constexpr std::chrono::milliseconds kChunkTickPeriod{2};
inline constexpr std::chrono::milliseconds kFinishTickDelay{1};
inline constexpr int kProgressPages = 235;  // pages streamed: the progress maximum while writing
inline constexpr std::chrono::milliseconds kVersionBytePause{20};
inline constexpr std::uint8_t kAfterUpdateValue = 0;

}  // namespace lu14
