// The settings backup: the meter's whole EEPROM as a hex text file in the
// user's Documents folder, written before an update touches the meter.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/MeterMemory.h"
#include "ports/Shell.h"
#include "ports/UpdateView.h"
#include "update/UpdateOutcome.h"

namespace lu14 {

// The file name part taken from the meter's identity: characters a file name
// cannot hold (path separators, ":*?\"<>|", control characters) become "_".
std::u32string FileNameSafe(std::u32string_view identity);

// The 128 lines of 32 upper-case hex digits and CR LF for one EEPROM image.
std::string BackupLine(const std::uint8_t* sixteenBytes);

class SettingsBackup {
 public:
  SettingsBackup(MeterMemory& memory, Shell& shell);

  // Reads the 2048 EEPROM bytes in ascending order, one transaction each, into
  // a file named after `identity` and the time, never replacing a file.
  // lineWritten: called with the line's index after every line. stop: asked
  // before every line; true abandons the backup (Failed, Interrupted). A
  // backup that fails leaves no file.
  BackupOutcome SaveSettingsBackup(const std::u32string& identity, BackupFolderRule rule,
                                   const std::function<void(int)>& lineWritten,
                                   const std::function<bool()>& stop = {});

  // The same backup into the file `file`, for a user who names it: written
  // into a part file beside it and then moved to its name, which is never
  // replaced (a file of that name fails the backup, and stays).
  BackupOutcome SaveSettingsBackupAs(const std::filesystem::path& file, const std::function<void(int)>& lineWritten,
                                     const std::function<bool()>& stop = {});

  // The same backup written to `output` as it is read (standard output, for
  // a user who pipes it): Written (with no file), or Failed with the fault
  // that stopped it part-way; what was written then stays written.
  BackupOutcome SaveSettingsBackupTo(OutputFile& output, const std::function<void(int)>& lineWritten,
                                     const std::function<bool()>& stop = {});

  // The Documents folder and "lu14"; the root's "lu14" when it is unknown;
  // and the folder of KeepApartIn below that.
  std::filesystem::path BackupFolder();

  // Backups made from now on go to `subfolder` of the backup folder (one
  // level), kept apart from a real meter's: a simulated meter's settings.
  void KeepApartIn(std::string subfolder) { apartIn_ = std::move(subfolder); }

 private:
  // Reads the EEPROM into `output`, the part file `part`: nothing when it is
  // whole on disk, else the failed outcome (the part file removed).
  std::optional<BackupOutcome> WritePart(std::unique_ptr<OutputFile> output, const std::filesystem::path& part,
                                         const std::filesystem::path& folder,
                                         const std::function<void(int)>& lineWritten,
                                         const std::function<bool()>& stop);
  // Reads the EEPROM line by line into `output`: nothing when every line was
  // written, else the fault that stopped it.
  std::optional<UpdateFault> WriteLines(OutputFile& output, const std::function<void(int)>& lineWritten,
                                        const std::function<bool()>& stop);
  // The outcomes of a failed file call, with the shell's reason for it.
  BackupOutcome Abandon(const std::filesystem::path& part, const std::filesystem::path& folder, UpdateFault fault);
  BackupOutcome Unwritable(const std::filesystem::path& folder);
  BackupOutcome Skipped(const std::filesystem::path& folder);

  MeterMemory& memory_;
  Shell& shell_;
  std::string apartIn_;
};

}  // namespace lu14
