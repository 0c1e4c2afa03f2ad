// End to end: a second meter plugged in while the real lu14-updater.exe
// updates the first. The update stays with the meter it started on and
// completes there; the newcomer receives none of its chunks, commits, EEPROM
// writes or checksum request.
#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/MeterControl.h"
#include "tests/e2e/WindowDriver.h"
#include "tests/win32/ProgramCopy.h"
#include "tests/win32/WaitFor.h"
#include "update/FirmwarePayload.h"

namespace lu14::e2e {
namespace {

using namespace std::chrono_literals;
using win32::Utf8;

constexpr std::chrono::milliseconds kPollTimeout = 60s;
// A backup at 1 ms a transfer and a whole stream, on a loaded machine.
constexpr std::chrono::milliseconds kUpdateTimeout = 240s;

const std::wstring kCurrentVersion = L"Текущая версия прошивки D1.50";
const std::wstring kUpdating = L"Обновление прошивки";
const std::wstring kUpdateDone = L"Процесс завершен успешно !!";

constexpr int kWriteEeprom = 20;
constexpr int kCommitPage = 22;
constexpr int kWriteChunk = 23;
constexpr int kReadChecksum = 25;
constexpr int kFlagComplete = 1;
constexpr std::size_t kStreamed = 60160;
constexpr std::size_t kChunks = kStreamed / 16;
constexpr int kPages = 235;

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  return win32::PumpUntil(condition, limit);
}

std::string Describe(const WindowDriver& window) {
  std::string text = "label \"" + Utf8(window.Label()) + "\", B1 " +
                     (window.Enabled(ControlId::B1) ? "enabled" : "disabled") + ", Pr1 " +
                     std::to_string(window.Progress()) + "/" + std::to_string(window.ProgressMax()) + ", log:";
  for (const std::wstring& line : window.Log()) text += " [" + Utf8(line) + "]";
  return text;
}

bool LogHas(const WindowDriver& window, const std::wstring& line) {
  const std::vector<std::wstring> log = window.Log();
  return std::find(log.begin(), log.end(), line) != log.end();
}

// The commands that write to a meter or check its image, with how many of
// each the meter received.
std::map<int, std::size_t> UpdateCommandsReceived(const MeterDump& meter) {
  std::map<int, std::size_t> received;
  for (const int code : {kWriteEeprom, kCommitPage, kWriteChunk, kReadChecksum}) {
    if (meter.Received(code) != 0) received[code] = meter.Received(code);
  }
  return received;
}

// The image the meter must hold after an update: the carried payload with each
// of its four segments reversed.
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

// Removes the settings backups written while it lives from the Documents
// folder, which Wine may share with the desktop user's own.
class BackupCleanup {
 public:
  BackupCleanup() : before_(FilesIn(Folder())) {}
  ~BackupCleanup() {
    std::error_code ignored;
    for (const auto& [file, time] : FilesIn(Folder())) {
      const auto old = before_.find(file);
      if (old == before_.end() || old->second != time) std::filesystem::remove(file, ignored);
    }
  }
  BackupCleanup(const BackupCleanup&) = delete;
  BackupCleanup& operator=(const BackupCleanup&) = delete;

 private:
  using Listing = std::map<std::filesystem::path, std::filesystem::file_time_type>;
  static std::filesystem::path Folder() {
    wchar_t documents[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, documents, CSIDL_PERSONAL, TRUE);
    return std::filesystem::path(documents) / L"lu14";
  }
  static Listing FilesIn(const std::filesystem::path& folder) {
    Listing files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      files[entry.path()] = entry.last_write_time();
    }
    return files;
  }

  Listing before_;
};

// When meter 2 is plugged in.
struct Arrival {
  const char* name;
  std::vector<std::string> start;                   // bus commands at start, besides "plug 1"
  std::function<bool(const WindowDriver&)> moment;  // the window shows the update there
  std::vector<std::string> afterPlug;               // sent once meter 2 is in
  bool streaming;                                   // meter 1 has taken pages by then
};

void PrintTo(const Arrival& arrival, std::ostream* os) { *os << arrival.name; }

class SecondMeterDuringAnUpdate : public testing::TestWithParam<Arrival> {};

TEST_P(SecondMeterDuringAnUpdate, ReceivesNoneOfItAndTheFirstMeterCompletes) {
  const Arrival& arrival = GetParam();
  const BackupCleanup backups;
  std::vector<std::string> start{"plug 1"};
  start.insert(start.end(), arrival.start.begin(), arrival.start.end());
  const win32::ProgramFolder folder(L"second-meter-" + win32::Wide(arrival.name));
  InstallStandIns(folder.Path(), start);
  const win32::ProgramCopy copy(folder.Program());
  const WindowDriver window(copy.WaitForMainWindow());
  ASSERT_NE(window.Window(), nullptr);
  const MeterControl meters(copy.ProcessId());
  ASSERT_TRUE(Eventually([&] { return window.Label() == kCurrentVersion && window.Enabled(ControlId::B1); },
                         kPollTimeout))
      << Describe(window);

  window.Click(ControlId::B1);
  ASSERT_TRUE(Eventually([&] { return arrival.moment(window); }, kUpdateTimeout)) << Describe(window);
  ASSERT_TRUE(meters.Send("plug 2"));
  const std::optional<MeterDump> atArrival = meters.Dump(1);
  ASSERT_TRUE(atArrival);
  if (arrival.streaming) {
    ASSERT_GE(atArrival->commits.size(), 10u);
    ASSERT_LT(atArrival->Received(kWriteChunk), kChunks);
  } else {
    ASSERT_EQ(atArrival->Received(kWriteChunk), 0u);
  }
  for (const std::string& command : arrival.afterPlug) ASSERT_TRUE(meters.Send(command)) << command;

  // The end of the update, one way or the other: the success line, or the
  // poll running again (which enables B1).
  ASSERT_TRUE(Eventually([&] { return LogHas(window, kUpdateDone) || window.Enabled(ControlId::B1); },
                         kUpdateTimeout))
      << Describe(window);
  ASSERT_TRUE(Eventually([&] { return window.Enabled(ControlId::B1); }, kPollTimeout)) << Describe(window);

  // Which meter the window shows now is left open; only what each one got counts.
  const std::optional<MeterDump> second = meters.Dump(2);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->present);
  EXPECT_EQ(UpdateCommandsReceived(*second), (std::map<int, std::size_t>{}));
  const std::optional<MeterDump> first = meters.Dump(1);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->flash == StreamedImage()) << "meter 1's flash differs from the carried image";
  EXPECT_EQ(first->flag, kFlagComplete);
  EXPECT_EQ(first->Received(kWriteChunk), kChunks);
  EXPECT_TRUE(LogHas(window, kUpdateDone)) << Describe(window);

  window.Close();
  EXPECT_EQ(copy.WaitForExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, SecondMeterDuringAnUpdate,
    testing::Values(
        // Past ten pages, well before the end. (Until the first page is
        // committed the bar still shows the backup's 127.)
        Arrival{"DuringTheStream",
                {"latency 50"},
                [](const WindowDriver& window) {
                  const int pages = window.Progress();
                  return window.ProgressMax() == kPages && pages >= 10 && pages <= 100 && window.Label() == kUpdating;
                },
                {},
                true},
        // 1 ms a transfer: the backup's 2048 reads take seconds, and meter 2
        // comes in the middle of them; the stream then runs at full speed.
        Arrival{"DuringTheSettingsBackup",
                {"latency 1000"},
                [](const WindowDriver& window) {
                  return window.ProgressMax() != kPages && window.Progress() >= 16 && window.Label() != kUpdating;
                },
                {"latency 50"},
                false}),
    [](const testing::TestParamInfo<Arrival>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace lu14::e2e
