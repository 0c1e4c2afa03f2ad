// Fixed texts and parameters of the settings backup and the update sequence.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lu14 {

// --- settings backup ---
inline constexpr std::string_view kBackupFolderName = "lu14";
inline constexpr std::string_view kBackupExtension = ".hex";
// The backup is written under this suffix and renamed when complete, so a
// file with the final name is always a whole one.
inline constexpr std::string_view kBackupPartSuffix = ".part";
inline constexpr std::size_t kBackupLines = 128;
inline constexpr std::size_t kBytesPerBackupLine = 16;
inline constexpr std::string_view kLogBackupSaved = "Настройки прибора сохранены в";
inline constexpr std::string_view kLogBackupFolder = "папку \"Мои документы/lu14\"";
// Our own messages: a backup that was begun but could not be finished stops
// the update before anything is written to the meter.
inline constexpr std::string_view kBackupReadFailed =
    "Не удалось прочитать настройки прибора, обновление отменено";
inline constexpr std::string_view kBackupWriteFailed =
    "Не удалось сохранить настройки прибора в папку \"Мои документы/lu14\", обновление отменено";

// --- update sequence ---
inline constexpr std::size_t kChunkSize = 16;
inline constexpr std::size_t kPageSize = 256;
inline constexpr int kProgressPages = 235;  // the progress bar's maximum while streaming
inline constexpr std::uint8_t kPageTag = 14;
inline constexpr std::chrono::milliseconds kCommitPause{10};
inline constexpr std::chrono::milliseconds kVersionBytePause{20};
inline constexpr std::chrono::milliseconds kChecksumPause{10};
inline constexpr std::uint8_t kAfterUpdateValue = 0;

inline constexpr std::string_view kLabelUpdating = "Обновление прошивки";
inline constexpr std::string_view kChunkFailedBox = "Сбой записи 1 ";
inline constexpr std::string_view kLogChecksumFailed = "Ошибка проверки CRC";
inline constexpr std::string_view kLogUpdateDone = "Процесс завершен успешно !!";
// Our own lines for failures that must not pass for success.
inline constexpr std::string_view kLogFlagRefused = "Прибор не принял отметку начала обновления, обновление отменено";
inline constexpr std::string_view kLogVersionWriteFailed = "Ошибка записи версии прошивки";
inline constexpr std::string_view kLogCompleteFlagFailed = "Ошибка записи отметки о полной прошивке";

}  // namespace lu14
