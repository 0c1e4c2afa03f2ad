#include "update/SettingsBackup.h"

#include <array>
#include <mutex>
#include <set>

#include "ports/Utf.h"
#include "update/UpdateParameters.h"

namespace lu14 {
namespace {

std::u32string TwoDigits(int value) {
  const auto twoDigits = static_cast<char32_t>(value % 100);
  return {U'0' + twoDigits / 10, U'0' + twoDigits % 10};
}

std::filesystem::path PathOf(const std::u32string& text) {
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(CodePointsToUtf8(text).c_str())));
}

std::u32string AsCodePoints(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// The Documents folder's "lu14", or the root's "lu14" when Documents is unknown.
std::filesystem::path BackupFolderIn(const std::optional<std::filesystem::path>& documents) {
  return documents.value_or(std::filesystem::path("/")) / std::string(kBackupFolderName);
}

// The part file a backup is written into before it takes its name, one
// backup's alone. Backups of one name in the same minute would otherwise
// write into one part file and spoil each other: in other processes (several
// lu14 backup started at once), so the name holds the process id,
// "<name>.hex.<id>.part"; and in this one (two meters of one identity updated
// at once), so a later one takes the next free part name, "<name>.hex.<id>.2.part" ...
class PartFile {
 public:
  PartFile(const std::filesystem::path& file, std::uint32_t processId) {
    const std::lock_guard<std::mutex> hold(Lock());
    for (int copy = 1; !Taken().insert(path_ = Named(file, processId, copy)).second; ++copy) {
    }
  }
  ~PartFile() {
    const std::lock_guard<std::mutex> hold(Lock());
    Taken().erase(path_);
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  static std::filesystem::path Named(const std::filesystem::path& file, std::uint32_t processId, int copy) {
    std::filesystem::path part = file;
    part += '.' + std::to_string(processId);
    if (copy > 1) part += '.' + std::to_string(copy);
    return part += std::string(kBackupPartSuffix);
  }
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static std::set<std::filesystem::path>& Taken() {
    static std::set<std::filesystem::path> taken;
    return taken;
  }

  std::filesystem::path path_;
};

}  // namespace

std::u32string FileNameSafe(std::u32string_view identity) {
  std::u32string safe(identity);
  for (char32_t& c : safe) {
    const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
    if (control || std::u32string_view(U"\\/:*?\"<>|").find(c) != std::u32string_view::npos) c = U'_';
  }
  return safe;
}

std::string BackupLine(const std::uint8_t* sixteenBytes) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string line;
  for (std::size_t k = 0; k < kBytesPerBackupLine; ++k) {
    line += kDigits[sixteenBytes[k] >> 4];
    line += kDigits[sixteenBytes[k] & 0x0F];
  }
  return line + "\r\n";
}

SettingsBackup::SettingsBackup(MeterMemory& memory, Shell& shell) : memory_(memory), shell_(shell) {}

std::filesystem::path SettingsBackup::BackupFolder() {
  const std::filesystem::path folder = BackupFolderIn(shell_.DocumentsFolder());
  return apartIn_.empty() ? folder : folder / apartIn_;
}

BackupOutcome SettingsBackup::Abandon(const std::filesystem::path& part, const std::filesystem::path& folder,
                                      UpdateFault fault) {
  // Asked before the removal, which is a file call of its own.
  std::string reason = fault == UpdateFault::BackupWriteFailed ? shell_.LastFileError() : std::string();
  shell_.RemoveFile(part);
  return {BackupResult::Failed, folder, {}, fault, std::move(reason)};
}

BackupOutcome SettingsBackup::Unwritable(const std::filesystem::path& folder) {
  return {BackupResult::Failed, folder, {}, UpdateFault::BackupWriteFailed, shell_.LastFileError()};
}

BackupOutcome SettingsBackup::Skipped(const std::filesystem::path& folder) {
  return {BackupResult::Skipped, folder, {}, UpdateFault::BackupWriteFailed, shell_.LastFileError()};
}

std::optional<UpdateFault> SettingsBackup::WriteLines(OutputFile& output, const std::function<void(int)>& lineWritten,
                                                      const std::function<bool()>& stop) {
  for (std::size_t line = 0; line < kBackupLines; ++line) {
    // A backup cut short is no backup.
    if (stop && stop()) return UpdateFault::Interrupted;
    std::array<std::uint8_t, kBytesPerBackupLine> bytes{};
    for (std::size_t k = 0; k < kBytesPerBackupLine; ++k) {
      const auto address = static_cast<std::uint16_t>(line * kBytesPerBackupLine + k);
      // Only a byte the meter confirmed goes into the file: a backup with one
      // wrong byte would not be the user's settings, so none is kept then and
      // the update does not go on.
      const std::optional<std::uint8_t> byte = memory_.ReadEepromConfirmed(address);
      if (!byte) return UpdateFault::BackupReadFailed;
      bytes[k] = *byte;
    }
    const std::string text = BackupLine(bytes.data());
    if (!output.Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})) {
      return UpdateFault::BackupWriteFailed;
    }
    if (lineWritten) lineWritten(static_cast<int>(line));
  }
  return std::nullopt;
}

std::optional<BackupOutcome> SettingsBackup::WritePart(std::unique_ptr<OutputFile> output,
                                                       const std::filesystem::path& part,
                                                       const std::filesystem::path& folder,
                                                       const std::function<void(int)>& lineWritten,
                                                       const std::function<bool()>& stop) {
  if (const std::optional<UpdateFault> fault = WriteLines(*output, lineWritten, stop)) {
    // Nothing of a backup cut short is kept.
    output.reset();
    return Abandon(part, folder, *fault);
  }
  const bool flushed = output->FlushToDisk();
  const bool closed = output->Close();
  output.reset();
  if (!flushed || !closed) return Abandon(part, folder, UpdateFault::BackupWriteFailed);

  return std::nullopt;
}

BackupOutcome SettingsBackup::SaveSettingsBackupAs(const std::filesystem::path& file,
                                                   const std::function<void(int)>& lineWritten,
                                                   const std::function<bool()>& stop) {
  const std::filesystem::path folder = file.parent_path();
  const PartFile partFile(file, shell_.ProcessId());
  const std::filesystem::path& part = partFile.Path();
  std::unique_ptr<OutputFile> output = shell_.CreateOutputFile(part);
  if (!output) return Unwritable(folder);
  if (std::optional<BackupOutcome> failed = WritePart(std::move(output), part, folder, lineWritten, stop)) {
    return *failed;
  }
  if (shell_.MoveFileNoReplace(part, file) == MoveOutcome::Moved) return {BackupResult::Written, folder, file};
  return Abandon(part, folder, UpdateFault::BackupWriteFailed);
}

BackupOutcome SettingsBackup::SaveSettingsBackupTo(OutputFile& output, const std::function<void(int)>& lineWritten,
                                                   const std::function<bool()>& stop) {
  BackupOutcome outcome;
  outcome.result = BackupResult::Written;
  std::optional<UpdateFault> fault = WriteLines(output, lineWritten, stop);
  if (!fault && !(output.FlushToDisk() && output.Close())) fault = UpdateFault::BackupWriteFailed;
  if (fault) {
    outcome.result = BackupResult::Failed;
    outcome.fault = *fault;
  }
  return outcome;
}

BackupOutcome SettingsBackup::SaveSettingsBackup(const std::u32string& identity, BackupFolderRule rule,
                                                 const std::function<void(int)>& lineWritten,
                                                 const std::function<bool()>& stop) {
  const std::optional<std::filesystem::path> documents = shell_.DocumentsFolder();
  if (!documents && rule == BackupFolderRule::DocumentsOnly) return Skipped({});
  const std::filesystem::path root = BackupFolderIn(documents);
  const std::filesystem::path folder = apartIn_.empty() ? root : root / apartIn_;
  const auto made = [this](const std::filesystem::path& level) {
    const std::uint32_t error = shell_.MakeDirectory(level);
    return error == 0 || error == kErrorAlreadyExists;
  };
  // One level at a time: "lu14", then the folder kept apart within it.
  if (!made(root) || (folder != root && !made(folder))) return Skipped(folder);

  // The time is read before the date, each at its own moment.
  const LocalTime time = shell_.Now();
  std::u32string name = FileNameSafe(identity);
  name.append(U"_").append(TwoDigits(time.hour)).append(TwoDigits(time.minute));
  const LocalTime date = shell_.Now();
  name.append(U"_").append(TwoDigits(date.day)).append(TwoDigits(date.month)).append(TwoDigits(date.year));
  const PartFile partFile(folder / PathOf(name + AsCodePoints(kBackupExtension)), shell_.ProcessId());
  const std::filesystem::path& part = partFile.Path();

  std::unique_ptr<OutputFile> output = shell_.CreateOutputFile(part);
  if (!output) return Skipped(folder);
  if (std::optional<BackupOutcome> failed = WritePart(std::move(output), part, folder, lineWritten, stop)) {
    return *failed;
  }

  // A backup is never replaced: a retry within the same minute (after a
  // failed update, when the meter already reads 0x88) must not lose the record
  // of the settings from before. A name that is taken gets _2, _3 ... before
  // the extension.
  for (int copy = 1; copy <= kMostBackupsOfAName; ++copy) {
    std::u32string numbered = name;
    if (copy > 1) numbered.append(U"_").append(AsCodePoints(std::to_string(copy)));
    const std::filesystem::path file = folder / PathOf(numbered + AsCodePoints(kBackupExtension));
    switch (shell_.MoveFileNoReplace(part, file)) {
      case MoveOutcome::Moved: return {BackupResult::Written, folder, file};
      case MoveOutcome::TargetExists: continue;
      case MoveOutcome::Failed: return Abandon(part, folder, UpdateFault::BackupWriteFailed);
    }
  }
  return Abandon(part, folder, UpdateFault::BackupWriteFailed);
}

}  // namespace lu14
