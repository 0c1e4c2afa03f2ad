// What the end-to-end suites share: the meter's commands and the window's
// texts they look for, waiting while the test's own messages flow, reading the
// window for a failure message, the image a meter holds after an update, the
// settings backups a test leaves behind, and a program copy with its meters.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/MeterControl.h"
#include "tests/e2e/WindowDriver.h"
#include "tests/win32/ProgramCopy.h"

namespace lu14::e2e {

// Generous: Wine on a loaded CI machine is slow to start a program.
inline constexpr std::chrono::milliseconds kScreenTimeout{60'000};

// Meter commands and the update's extent.
inline constexpr int kWriteEeprom = 20;
inline constexpr int kCommitPage = 22;
inline constexpr int kWriteChunk = 23;
inline constexpr int kReadChecksum = 25;
inline constexpr int kFlagComplete = 1;
inline constexpr std::size_t kStreamed = 60160;
inline constexpr std::size_t kChunks = kStreamed / 16;
inline constexpr int kPages = 235;

// The identity the meters of the update tests are given, as the poll reads
// it: one letter, then hex (the commands that set its bytes: IdentityCommands).
inline const std::string kIdentityText = "D112233445566778899AABBCCDDEE0F105A";
std::vector<std::string> IdentityCommands(int meter);

inline const std::wstring kCurrentVersion = L"Текущая версия прошивки ";
inline const std::wstring kUpdating = L"Обновление прошивки";
inline const std::wstring kUpdateDone = L"Процесс завершен успешно !!";

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = kScreenTimeout);

// What the window shows, for the message of a failed expectation.
std::string Describe(const WindowDriver& window);
bool LogHas(const WindowDriver& window, const std::wstring& line);
// The stream is past `pages` pages and well before its end. (Until the first
// page is committed the bar still shows the backup's 127.)
bool StreamingPast(const WindowDriver& window, int pages);

// Today's date as a backup's name gives it: DDMMYY.
std::string LocalDate();
// A settings backup: named "<head>_HHMM_DDMMYY.hex" with one of `dates`, and
// holding `eeprom` as 128 lines of 16 bytes in upper-case hex.
testing::AssertionResult IsBackup(const std::filesystem::path& file, const std::string& head,
                                  const std::vector<std::string>& dates, const std::vector<std::uint8_t>& eeprom);

// The image the meter must hold after an update: the carried payload with each
// of its four segments reversed, as far as it is streamed.
std::vector<std::uint8_t> StreamedImage();

// The settings backups written into the Documents folder while it lives, which
// Wine may share with the desktop user's own: removed again afterwards.
class BackupWatch {
 public:
  BackupWatch();
  ~BackupWatch();
  BackupWatch(const BackupWatch&) = delete;
  BackupWatch& operator=(const BackupWatch&) = delete;

  const std::filesystem::path& Folder() const { return folder_; }
  // Files made or changed since the watch began.
  std::vector<std::filesystem::path> Written() const;

 private:
  using Listing = std::map<std::filesystem::path, std::filesystem::file_time_type>;
  static Listing FilesIn(const std::filesystem::path& folder);

  std::filesystem::path folder_;
  Listing before_;
};

// A copy of the program in a folder of its own, against the simulated meters
// that `startCommands` set up (InstallStandIns), with its window found.
class ProgramWithMeters {
 public:
  ProgramWithMeters(const std::wstring& name, const std::vector<std::string>& startCommands);

  bool Started() const { return installed_ && window_.Window() != nullptr; }
  const WindowDriver& Window() const { return window_; }
  const MeterControl& Meters() const { return meters_; }
  const win32::ProgramCopy& Copy() const { return copy_; }
  const win32::ProgramFolder& Folder() const { return folder_; }
  const BackupWatch& Backups() const { return backups_; }

  // Waits for a poll tick that read the meter whole: the label shows its
  // version. The tick that set it has also set the option boxes: a poll tick
  // never looks at the program's queue, so the window is read before or
  // after one, never in the middle.
  bool WaitForPoll(const std::wstring& version, const std::wstring& labelHead = kCurrentVersion) const;

 private:
  BackupWatch backups_;
  win32::ProgramFolder folder_;
  bool installed_;
  win32::ProgramCopy copy_;
  WindowDriver window_;
  MeterControl meters_;
};

}  // namespace lu14::e2e
