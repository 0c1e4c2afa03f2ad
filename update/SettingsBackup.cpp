#include "update/SettingsBackup.h"

#include <array>

#include "ports/Utf.h"
#include "update/UpdateParameters.h"

namespace lu14 {
namespace {

std::u32string TwoDigits(int value) {
  const int twoDigits = value % 100;
  return {static_cast<char32_t>(U'0' + twoDigits / 10), static_cast<char32_t>(U'0' + twoDigits % 10)};
}

std::filesystem::path PathOf(const std::u32string& text) {
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(CodePointsToUtf8(text).c_str())));
}

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
  const std::optional<std::filesystem::path> documents = shell_.DocumentsFolder();
  const std::filesystem::path base = documents ? *documents : std::filesystem::path("/");
  return base / std::string(kBackupFolderName);
}

BackupOutcome SettingsBackup::Abandon(const std::filesystem::path& part, UpdateFault fault) {
  shell_.RemoveFile(part);
  return {BackupResult::Failed, {}, fault};
}

BackupOutcome SettingsBackup::SaveSettingsBackup(const std::u32string& identity,
                                                 const std::function<void(int)>& lineWritten) {
  const std::filesystem::path folder = BackupFolder();
  const std::uint32_t made = shell_.MakeDirectory(folder);
  if (made != 0 && made != kErrorAlreadyExists) return {};  // skipped

  // The time is read before the date, each at its own moment.
  const LocalTime time = shell_.Now();
  std::u32string name = FileNameSafe(identity);
  name.append(U"_").append(TwoDigits(time.hour)).append(TwoDigits(time.minute));
  const LocalTime date = shell_.Now();
  name.append(U"_").append(TwoDigits(date.day)).append(TwoDigits(date.month)).append(TwoDigits(date.year));
  for (const char c : kBackupExtension) name += static_cast<char32_t>(c);
  const std::filesystem::path file = folder / PathOf(name);
  std::filesystem::path part = file;
  part += std::string(kBackupPartSuffix);

  std::unique_ptr<OutputFile> output = shell_.CreateOutputFile(part);
  if (!output) return {};  // skipped

  for (std::size_t line = 0; line < kBackupLines; ++line) {
    std::array<std::uint8_t, kBytesPerBackupLine> bytes{};
    for (std::size_t k = 0; k < kBytesPerBackupLine; ++k) {
      const auto address = static_cast<std::uint16_t>(line * kBytesPerBackupLine + k);
      // A failed read gives no faithful byte: such a file would not be the
      // user's settings, so none is kept and the update does not go on.
      if (!memory_.ReadEeprom(address, bytes[k])) {
        output.reset();
        return Abandon(part, UpdateFault::BackupReadFailed);
      }
    }
    const std::string text = BackupLine(bytes.data());
    if (!output->Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()})) {
      output.reset();
      return Abandon(part, UpdateFault::BackupWriteFailed);
    }
    if (lineWritten) lineWritten(static_cast<int>(line));
  }
  const bool flushed = output->FlushToDisk();
  const bool closed = output->Close();
  output.reset();
  if (!flushed || !closed || !shell_.MoveFileReplacing(part, file)) {
    return Abandon(part, UpdateFault::BackupWriteFailed);
  }
  return {BackupResult::Written, file};
}

}  // namespace lu14
