#include "tests/e2e/EndToEndSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <array>
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
