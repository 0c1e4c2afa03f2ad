// The settings backup: the meter's whole EEPROM as a hex text file in the
// user's Documents folder, written before an update touches the meter.
#pragma once

#include <filesystem>
#include <string>

#include "app/Shell.h"
#include "device/MeterMemory.h"

namespace lu14 {

class TMForm;

// The file name part taken from the meter's identity: characters a file name
// cannot hold (path separators, ":*?\"<>|", control characters) become "_".
std::u32string FileNameSafe(std::u32string_view identity);

// The 128 lines of 32 upper-case hex digits and CR LF for one EEPROM image.
std::string BackupLine(const std::uint8_t* sixteenBytes);

class SettingsBackup {
 public:
  enum class Outcome {
    Written,  // the whole file is in place; logged
    Skipped,  // the folder or the file could not be created: silently none
    Failed,   // begun but not finished (a read or the disk failed): told, nothing left
  };

  SettingsBackup(TMForm& form, MeterMemory& memory, Shell& shell);

  // Reads the 2048 EEPROM bytes in ascending order, one transaction each,
  // moving Pr1 to the line number after every line.
  Outcome SaveSettingsBackup();

  // The Documents folder and "lu14"; the root's "lu14" when it is unknown.
  std::filesystem::path BackupFolder();
  // Where the last written backup went.
  const std::filesystem::path& LastFile() const { return lastFile_; }

 private:
  Outcome Abandon(const std::filesystem::path& part, std::string_view message);

  TMForm& form_;
  MeterMemory& memory_;
  Shell& shell_;
  std::filesystem::path lastFile_;
};

}  // namespace lu14
