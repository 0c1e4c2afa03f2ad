#include "tests/e2e/EndToEndSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <utility>

#include "tests/win32/WaitFor.h"
#include "update/FirmwarePayload.h"

namespace lu14::e2e {
namespace {

using win32::Utf8;

std::filesystem::path BackupFolder() {
  wchar_t documents[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, documents, CSIDL_PERSONAL, TRUE);
  return std::filesystem::path(documents) / L"lu14";
}

// The suite puts the stand-ins into the prefix's system folder as its tests
// need them; afterwards the prefix gets Wine's own libraries back.
class SystemLibrariesRestored : public testing::Environment {
 public:
  void TearDown() override { RestoreSystemLibraries(); }
};
[[maybe_unused]] testing::Environment* const kSystemLibrariesRestored =
    testing::AddGlobalTestEnvironment(new SystemLibrariesRestored);

}  // namespace

std::vector<std::string> IdentityCommands(int meter) {
  // The information bytes the poll reads for the identity: command, selector, byte.
  constexpr struct {
    int command;
    int selector;
    int value;
  } kIdentity[] = {
      {29, 0x0093, 3},    {24, 0x0800, 0x11}, {24, 0x0900, 0x22}, {24, 0x0A00, 0x33}, {24, 0x0B00, 0x44},
      {24, 0x0C00, 0x55}, {24, 0x0D00, 0x66}, {24, 0x1000, 0x77}, {24, 0x1200, 0x88}, {24, 0x1300, 0x99},
      {24, 0x1400, 0xAA}, {24, 0x1500, 0xBB}, {28, 0x0000, 0xCC}, {28, 0x0100, 0xDD}, {28, 0x0200, 0xEE},
      {28, 0x0400, 0x0F}, {28, 0x0500, 0x10}, {29, 0x01D0, 0x5A},
  };
  std::vector<std::string> commands;
  for (const auto& byte : kIdentity) {
    commands.push_back("info " + std::to_string(meter) + " " + std::to_string(byte.command) + " " +
                       std::to_string(byte.selector) + " " + std::to_string(byte.value));
  }
  return commands;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  return win32::PumpUntil(condition, limit);
}

std::string Describe(const WindowDriver& window) {
  std::string text = "caption \"" + Utf8(window.Caption()) + "\", label \"" + Utf8(window.Label()) + "\", B1 " +
                     (window.Enabled(ControlId::B1) ? "enabled" : "disabled") + ", Pr1 " +
                     std::to_string(window.Progress()) + "/" + std::to_string(window.ProgressMax()) + ", log:";
  for (const std::wstring& line : window.Log()) text += " [" + Utf8(line) + "]";
  return text;
}

bool LogHas(const WindowDriver& window, const std::wstring& line) {
  const std::vector<std::wstring> log = window.Log();
  return std::find(log.begin(), log.end(), line) != log.end();
}

bool StreamingPast(const WindowDriver& window, int pages) {
  const int committed = window.Progress();
  return window.ProgressMax() == kPages && committed >= pages && committed <= 100 && window.Label() == kUpdating;
}

std::string LocalDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  char text[8];
  std::strftime(text, sizeof(text), "%d%m%y", &local);
  return text;
}

testing::AssertionResult IsBackup(const std::filesystem::path& file, const std::string& head,
                                  const std::vector<std::string>& dates, const std::vector<std::uint8_t>& eeprom) {
  const std::string name = Utf8(file.filename().wstring());
  const auto digits = [](const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  const std::string rest = name.starts_with(head) ? name.substr(head.size()) : std::string();
  if (rest.size() != 16 || rest[0] != '_' || !digits(rest.substr(1, 4)) || rest[5] != '_' ||
      std::find(dates.begin(), dates.end(), rest.substr(6, 6)) == dates.end() || !rest.ends_with(".hex")) {
    return testing::AssertionFailure() << "the backup is named " << name << ", not " << head << "_HHMM_DDMMYY.hex";
  }
  std::string expected;
  char byte[3];
  for (std::size_t i = 0; i < eeprom.size(); ++i) {
    std::snprintf(byte, sizeof(byte), "%02X", static_cast<unsigned>(eeprom[i]));
    expected += byte;
    if (i % 16 == 15) expected += "\r\n";
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string held = text.str();
  if (held == expected) return testing::AssertionSuccess();
  testing::AssertionResult failure = testing::AssertionFailure() << name << " does not hold the meter's EEPROM";
  // Where it first differs: 34 characters a line, two hex digits a byte.
  const std::size_t at = static_cast<std::size_t>(
      std::mismatch(held.begin(), held.end(), expected.begin(), expected.end()).first - held.begin());
  if (at < held.size() && at < expected.size() && at % 34 < 32) {
    const std::size_t first = at - at % 2;
    failure << ": byte " << first / 34 * 16 + first % 34 / 2 << " saved as " << held.substr(first, 2)
            << ", the meter holds " << expected.substr(first, 2);
  }
  return failure;
}

std::vector<std::uint8_t> StreamedImage() {
  constexpr std::array<std::pair<std::size_t, std::size_t>, 4> kSegments{
      {{0, 437}, {437, 8645}, {8645, 46548}, {46548, 65536}}};
  std::vector<std::uint8_t> image(FirmwareBlob.size());
  for (const auto& [first, end] : kSegments) {
    for (std::size_t k = 0; k < end - first; ++k) image[first + k] = FirmwareBlob[end - 1 - k];
  }
  image.resize(kStreamed);
  return image;
}

BackupWatch::BackupWatch() : folder_(BackupFolder()), before_(FilesIn(folder_)) {}

BackupWatch::~BackupWatch() {
  std::error_code ignored;
  for (const std::filesystem::path& file : Written()) std::filesystem::remove(file, ignored);
}

std::vector<std::filesystem::path> BackupWatch::Written() const {
  std::vector<std::filesystem::path> written;
  for (const auto& [file, time] : FilesIn(folder_)) {
    const auto old = before_.find(file);
    if (old == before_.end() || old->second != time) written.push_back(file);
  }
  return written;
}

BackupWatch::Listing BackupWatch::FilesIn(const std::filesystem::path& folder) {
  Listing files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    files[entry.path()] = entry.last_write_time();
  }
  return files;
}

ProgramWithMeters::ProgramWithMeters(const std::wstring& name, const std::vector<std::string>& startCommands)
    : folder_(name),
      installed_(InstallStandIns(folder_.Path(), startCommands)),
      copy_(folder_.Program()),
      window_(copy_.WaitForMainWindow()),
      meters_(copy_.ProcessId()) {}

bool ProgramWithMeters::WaitForPoll(const std::wstring& version, const std::wstring& labelHead) const {
  return Eventually([&] { return window_.Label() == labelHead + version && window_.Enabled(ControlId::B1); });
}

}  // namespace lu14::e2e
