// What the window shows of the meter: the caption, the status label, the
// message log's lines and the device boxes. The core reports events and
// outcomes as values; these are the words the window gives them.
#pragma once

#include <cstdint>
#include <string_view>

namespace lu14 {

// --- finding and losing the meter ---
// The caption once a meter has been matched: this, then ModelSuffix ("14").
inline constexpr std::string_view kMatchedCaptionHead = "Прошивка версии D1.50 для пинцет ЛУ-";
inline constexpr std::string_view kMatchedModelSuffix = "14";
inline constexpr std::uint8_t kMatchedModelCode = 14;
// Log lines: this, ModelSuffix, then the event.
inline constexpr std::string_view kLogMeterHead = "Пинцет ЛУ-";
inline constexpr std::string_view kLogConnectedTail = " подключен";
inline constexpr std::string_view kLogDisconnectedTail = " отключен";

// --- the command transaction ---
// Each of these ending in a blank is followed by the command code in decimal.
inline constexpr std::string_view kLogResend = "Повтор команды ";
inline constexpr std::string_view kLogReadFailed = "Сбой чтения";
inline constexpr std::string_view kLogProtocolError = "Ошибка протокола ";
inline constexpr std::string_view kLogStillBusy = "команда ";
inline constexpr std::string_view kLogEchoMismatch = "Сбой записи";
inline constexpr std::string_view kLogRewrite = "Повтор записи";
inline constexpr std::string_view kWriteErrorBox = "Ошибка записи";
// Our own line: a device whose feature reports are not 19 bytes gets no
// transfer at all; this, then the length.
inline constexpr std::string_view kLogWrongReportLength = "Неверная длина отчёта устройства: ";

// --- the status poll ---
// Label1 texts. The version lines are followed by the meter's version text.
inline constexpr std::string_view kLabelConnectMeter = "Подключите устройство ";
inline constexpr std::string_view kLabelChargeBattery = "Зарядите батарею";
inline constexpr std::string_view kLabelCurrentVersion = "Текущая версия прошивки ";
inline constexpr std::string_view kLabelReloadFirmware = "Перезагрузите прошивку ";
// Logged when characters 2, 4 and 5 of the version text are not a number.
inline constexpr std::string_view kLogVersionNotANumber = "облом2";

// --- the settings backup ---
inline constexpr std::string_view kLogBackupSaved = "Настройки прибора сохранены в";
inline constexpr std::string_view kLogBackupFolder = "папку \"Мои документы/lu14\"";
// Our own messages: a backup that was begun but could not be finished stops
// the update before anything is written to the meter.
inline constexpr std::string_view kBackupReadFailed =
    "Не удалось прочитать настройки прибора, обновление отменено";
inline constexpr std::string_view kBackupWriteFailed =
    "Не удалось сохранить настройки прибора в папку \"Мои документы/lu14\", обновление отменено";

// --- the update ---
inline constexpr std::string_view kLabelUpdating = "Обновление прошивки";
inline constexpr std::string_view kChunkFailedBox = "Сбой записи 1 ";
inline constexpr std::string_view kLogChecksumFailed = "Ошибка проверки CRC";
inline constexpr std::string_view kLogUpdateDone = "Процесс завершен успешно !!";
// Our own lines for failures that must not pass for success.
inline constexpr std::string_view kLogFlagRefused = "Прибор не принял отметку начала обновления, обновление отменено";
inline constexpr std::string_view kLogVersionWriteFailed = "Ошибка записи версии прошивки";
inline constexpr std::string_view kLogCompleteFlagFailed = "Ошибка записи отметки о полной прошивке";
// A build that carries the test placeholder instead of the meter's firmware
// writes nothing to a meter unless its environment allows it.
inline constexpr std::string_view kPlaceholderFirmwareRefused =
    "Программа собрана с испытательной заглушкой вместо прошивки, обновление отменено";
// The failure report's words for the link's refusals.
inline constexpr std::string_view kNoDeviceText = "Устройство не подключено";
inline constexpr std::string_view kDeviceBusyText = "Устройство занято другой командой";

}  // namespace lu14
