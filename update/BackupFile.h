// Reading a settings backup back: the file's text checked line by line into
// an EEPROM image, and the meter's identity and version read from its name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "device/MeterMemory.h"
#include "update/UpdateParameters.h"

namespace lu14 {

using EepromImage = std::array<std::uint8_t, kEepromSize>;

// The first thing in a backup's text that is not a backup line.
enum class BackupTextFault {
  BadCharacter,  // not a hex digit where one belongs (a lone CR included)
  ShortLine,     // the line ends before its 32 digits
  LongLine,      // more than 32 characters before the line end
  MissingLines,  // the text ends before line 128
  ExtraData,     // something follows line 128
};

struct BackupTextError {
  BackupTextFault fault = BackupTextFault::BadCharacter;
  std::size_t line = 1;    // 1-based
  std::size_t column = 1;  // 1-based, in bytes
  char found = 0;          // BadCharacter: the byte found there
};

struct BackupText {
  std::optional<EepromImage> image;  // nothing: see error
  BackupTextError error;
};

// Exactly 128 lines of 32 hex digits (either case), each ended by CR LF or
// LF; the last line's end may be missing. Anything else gives the line and
// column of the first fault and no image.
BackupText ReadBackupText(std::string_view text);

// The longest text ReadBackupText takes: 128 lines of 32 digits and CR LF,
// 4352 bytes, the size of every backup the tool writes.
inline constexpr std::size_t kLongestBackupText = kBackupLines * (2 * kBytesPerBackupLine + 2);

// What a backup's file name, as SaveSettingsBackup makes it, says about the
// meter: "<identity><version>_HHMM_DDMMYY[_N].hex", in the file-name-safe
// form. UTF-8.
struct BackupName {
  std::string identity;
  std::string versionText;  // the last five characters before the time
};

// A meter's identity: a letter and 34 hex digits.
inline constexpr std::size_t kIdentityLength = 35;

// Nothing when the name is not of that form (a file saved under a name of
// the user's choosing). Words a user put before the identity ("my backup
// B4C….hex") are not part of it.
std::optional<BackupName> BackupNameOf(const std::filesystem::path& file);

// Whether a backup's name names the meter with this identity (as the status
// poll reads it, without the version text).
bool NamesMeter(const BackupName& name, const std::u32string& identity);

}  // namespace lu14
