// The real lu14-updater.exe under Wine with simulated meters behind the
// stand-in hid.dll and setupapi.dll: what the user sees in the window, and
// what the meter and the Documents folder hold afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "window/WindowTexts.h"
#include "tests/e2e/EndToEndSupport.h"
#include "tests/win32/WaitFor.h"

namespace lu14::e2e {
namespace {

using namespace std::chrono_literals;
using win32::Utf8;

// A whole update streams 3760 chunks, one per Timer2 tick.
constexpr std::chrono::milliseconds kUpdateTimeout = 180s;

const std::wstring kStartCaption = L"Прошивка версии  D1.50 для ЛУ-14";
const std::wstring kMeterCaption = L"Прошивка версии D1.50 для пинцет ЛУ-14";
const std::wstring kConnected = L"Пинцет ЛУ-14 подключен";
const std::wstring kDisconnected = L"Пинцет ЛУ-14 отключен";
const std::wstring kConnectMeter = L"Подключите устройство ";
const std::wstring kReloadFirmware = L"Перезагрузите прошивку ";
const std::wstring kBackupSaved = L"Настройки прибора сохранены в";
const std::wstring kBackupFolder = L"папку \"Мои документы/lu14\"";
const std::wstring kChunkFailedBox = L"Сбой записи 1 ";

constexpr int kQuery30 = 30;  // sent once by every poll tick that reaches the meter
constexpr std::size_t kVersionAddress = 832;
constexpr std::size_t kAfterUpdateAddress = 958;
constexpr std::size_t kFlagAddress = 1023;
constexpr int kFlagUpdating = 0x88;

// Lets the program run for a while, to show that something does not happen.
void ObserveQuietly(std::chrono::milliseconds duration) { win32::PumpFor(duration); }

// `expected` appears in the log in this order, other lines possibly in between.
bool LogHasInOrder(const WindowDriver& window, const std::vector<std::wstring>& expected) {
  const std::vector<std::wstring> log = window.Log();
  auto next = log.begin();
  for (const std::wstring& line : expected) {
    next = std::find(next, log.end(), line);
    if (next == log.end()) return false;
    ++next;
  }
  return true;
}

bool Streaming(const WindowDriver& window) { return StreamingPast(window, 2); }

bool SemaphoreExists(const std::filesystem::path& program) {
  std::wstring name = program.wstring();
  std::replace(name.begin(), name.end(), L'\\', L'/');
  HANDLE semaphore = OpenSemaphoreW(SYNCHRONIZE, FALSE, name.c_str());
  if (!semaphore) return false;
  CloseHandle(semaphore);
  return true;
}

std::string TempFile(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return Utf8((std::filesystem::path(temp) / (name + L"-" + std::to_wstring(GetCurrentProcessId()))).wstring());
}

// Waits until a whole poll tick has run after this call. A poll tick that
// opens no box never looks at the program's queue, so control commands never
// run inside one: a tick counted here began after everything sent before.
bool WaitForNextPoll(const ProgramWithMeters& program, std::uint32_t meterId) {
  const std::optional<MeterDump> before = program.Meters().Dump(meterId);
  if (!before) return false;
  return Eventually([&] {
    const std::optional<MeterDump> now = program.Meters().Dump(meterId);
    return now && now->Received(kQuery30) > before->Received(kQuery30);
  });
}

// --- discovery and the status poll ---------------------------------------------------

TEST(EndToEnd, WithoutAMeterTheWindowAsksForOneAndFollowsPlugAndUnplug) {
  ProgramWithMeters program(L"no-meter", {});
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  const MeterControl& meters = program.Meters();

  ASSERT_TRUE(Eventually([&] { return window.Label() == kConnectMeter; })) << Describe(window);
  EXPECT_FALSE(window.Enabled(ControlId::B1));
  EXPECT_FALSE(window.Enabled(ControlId::G6));
  EXPECT_EQ(window.Caption(), kStartCaption);
  EXPECT_TRUE(window.Log().empty());

  // A mouse arriving changes nothing on the window; the meter is found when it comes.
  ASSERT_TRUE(meters.Send("plug 9 0x046D 0xC077"));
  ASSERT_TRUE(meters.Send("plug 1"));
  ASSERT_TRUE(program.WaitForPoll(L"D1.50")) << Describe(window);
  EXPECT_EQ(window.Log(), std::vector<std::wstring>{kConnected});
  EXPECT_EQ(window.Caption(), kMeterCaption);
  EXPECT_TRUE(window.Enabled(ControlId::G6));

  // Another device leaving makes the program look again and find the meter again.
  ASSERT_TRUE(meters.Send("unplug 9"));
  ASSERT_TRUE(Eventually([&] { return window.Log().size() == 2; })) << Describe(window);
  EXPECT_EQ(window.Log(), (std::vector<std::wstring>{kConnected, kConnected}));

  ASSERT_TRUE(meters.Send("unplug 1"));
  ASSERT_TRUE(Eventually([&] { return window.Label() == kConnectMeter && !window.Enabled(ControlId::B1); }))
      << Describe(window);
  EXPECT_EQ(window.Log(), (std::vector<std::wstring>{kConnected, kConnected, kDisconnected}));
  EXPECT_FALSE(window.Enabled(ControlId::G6));
  EXPECT_EQ(window.Caption(), kMeterCaption);  // stays once a meter was seen

  const std::optional<MeterDump> meter = meters.Dump(1);
  ASSERT_TRUE(meter);
  EXPECT_FALSE(meter->present);
  EXPECT_EQ(meter->setsOpen, 0);  // every interface set was destroyed again
  EXPECT_EQ(meter->refusedCalls, 0);

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

TEST(EndToEnd, AMeterPresentAtStartIsFoundOnceAndPolled) {
  ProgramWithMeters program(L"meter-at-start", {"plug 1", "version 1 D1.42"});
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();

  ASSERT_TRUE(program.WaitForPoll(L"D1.42")) << Describe(window);
  EXPECT_EQ(window.Caption(), kMeterCaption);
  EXPECT_EQ(window.Log(), std::vector<std::wstring>{kConnected});
  EXPECT_TRUE(window.Enabled(ControlId::G6));
  EXPECT_EQ(window.Progress(), 0);
  EXPECT_EQ(window.ProgressMax(), 127);

  const std::optional<MeterDump> meter = program.Meters().Dump(1);
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->Received(kWriteEeprom), 0u);  // polling writes nothing
  EXPECT_EQ(meter->refusedCalls, 0);
  EXPECT_EQ(meter->setsOpen, 0);

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

// --- the window's fonts ----------------------------------------------------------------

// A font of the design: its face, the height of its characters in pixels, and
// whether it is bold; as the program must create it.
FontSeen Font(const char* face, int pixels, bool bold) { return {-pixels, bold ? FW_BOLD : FW_NORMAL, face}; }

TEST(EndToEnd, TheWindowAndItsControlsUseTheFontsOfTheDesign) {
  // Written out here rather than taken from the layout table the program is
  // built from, so that a wrong entry there shows.
  const struct {
    ControlId id;
    FontSeen font;
  } kDesign[] = {
      {ControlId::Label1, Font("MS Sans Serif", 16, true)}, {ControlId::B1, Font("MS Sans Serif", 13, true)},
      {ControlId::Pr1, Font("Tahoma", 11, false)},          {ControlId::LB, Font("Tahoma", 12, false)},
      {ControlId::G6, Font("Tahoma", 13, false)},           {ControlId::C1, Font("Tahoma", 13, false)},
      {ControlId::C2, Font("Tahoma", 13, false)},           {ControlId::C3, Font("Tahoma", 13, false)},
      {ControlId::C4, Font("Tahoma", 13, false)},           {ControlId::Button1, Font("Tahoma", 11, false)},
      {ControlId::E1, Font("Tahoma", 11, false)},
  };
  ProgramWithMeters program(L"fonts", {});
  ASSERT_TRUE(program.Started());
  const std::optional<WindowFonts> fonts = program.Meters().Fonts();
  ASSERT_TRUE(fonts);
  EXPECT_EQ(fonts->hints, Font("Tahoma", 11, false));
  EXPECT_EQ(fonts->controls.size(), std::size(kDesign));
  for (const auto& designed : kDesign) {
    const int id = 100 + static_cast<int>(designed.id);
    SCOPED_TRACE("control " + std::to_string(id));
    const auto found = fonts->controls.find(id);
    ASSERT_NE(found, fonts->controls.end());
    EXPECT_EQ(found->second, designed.font);
  }
  program.Window().Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

// --- options -------------------------------------------------------------------------

struct OptionBytes {
  int at947, at856, at1022, at957;
  bool c1, c2, c3, c4;  // ticked
};

TEST(EndToEnd, TheOptionBoxesShowTheMetersBytesWithoutWritingThem) {
  ProgramWithMeters program(L"options", {"plug 1"});
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  const MeterControl& meters = program.Meters();
  ASSERT_TRUE(program.WaitForPoll(L"D1.50")) << Describe(window);

  // C1 counts only 1, C3 anything but 0; C2 and C4 are ticked by a 0.
  const OptionBytes kCases[] = {
      {0, 1, 0, 1, false, false, false, false},  // the fresh meter: every option off
      {1, 0, 5, 7, true, true, true, false},
      {2, 9, 0, 0, false, false, false, true},
      {1, 0, 0xFF, 0, true, true, true, true},
      {0xFF, 0xFF, 1, 0xFF, false, false, true, false},
  };
  for (const OptionBytes& bytes : kCases) {
    SCOPED_TRACE(std::to_string(bytes.at947) + " " + std::to_string(bytes.at856) + " " +
                 std::to_string(bytes.at1022) + " " + std::to_string(bytes.at957));
    ASSERT_TRUE(meters.Send("eeprom 1 947 " + std::to_string(bytes.at947)));
    ASSERT_TRUE(meters.Send("eeprom 1 856 " + std::to_string(bytes.at856)));
    ASSERT_TRUE(meters.Send("eeprom 1 1022 " + std::to_string(bytes.at1022)));
    ASSERT_TRUE(meters.Send("eeprom 1 957 " + std::to_string(bytes.at957)));
    ASSERT_TRUE(WaitForNextPoll(program, 1));
    EXPECT_EQ(window.Checked(ControlId::C1), bytes.c1);
    EXPECT_EQ(window.Checked(ControlId::C2), bytes.c2);
    EXPECT_EQ(window.Checked(ControlId::C3), bytes.c3);
    EXPECT_EQ(window.Checked(ControlId::C4), bytes.c4);
  }
  const std::optional<MeterDump> meter = meters.Dump(1);
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->Received(kWriteEeprom), 0u);

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

struct OptionClick {
  ControlId box;
  std::size_t address;
  int ticked;
  int cleared;
};

TEST(EndToEnd, TickingAnOptionBoxWritesItsByteAndClearingItWritesItBack) {
  ProgramWithMeters program(L"option-click", {"plug 1"});
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  const MeterControl& meters = program.Meters();
  ASSERT_TRUE(program.WaitForPoll(L"D1.50")) << Describe(window);

  const OptionClick kClicks[] = {
      {ControlId::C2, 856, 0, 1},
      {ControlId::C3, 1022, 1, 0},
  };
  for (const OptionClick& click : kClicks) {
    SCOPED_TRACE(click.address);
    ASSERT_FALSE(window.Checked(click.box));  // the fresh meter has every option off
    const auto byteIs = [&](int value) {
      const std::optional<MeterDump> meter = meters.Dump(1);
      return meter && meter->eeprom.at(click.address) == value;
    };
    window.Click(click.box);
    ASSERT_TRUE(Eventually([&] { return byteIs(click.ticked) && window.Checked(click.box); }));
    // The next poll reads the byte back and leaves the box as the user set it.
    ASSERT_TRUE(WaitForNextPoll(program, 1));
    EXPECT_TRUE(window.Checked(click.box));
    window.Click(click.box);
    ASSERT_TRUE(Eventually([&] { return byteIs(click.cleared) && !window.Checked(click.box); }));
  }
  const std::optional<MeterDump> meter = meters.Dump(1);
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->Received(kWriteEeprom), 4u);  // one write per click, nothing more

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

// --- the keyboard ----------------------------------------------------------------------

// Presses Tab and waits for the focus to move; the focus it moved to, or null.
HWND TabOnce(const WindowDriver& window) {
  const HWND from = window.Focus();
  window.PressTab();
  HWND to = nullptr;
  return Eventually([&] { return (to = window.Focus()) != from; }) ? to : nullptr;
}

TEST(EndToEnd, AnOptionBoxWithTheFocusGivesItUpWhenTheMeterLeaves) {
  ProgramWithMeters program(L"focus-in-group", {"plug 1"});
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  ASSERT_TRUE(program.WaitForPoll(L"D1.50")) << Describe(window);

  // With the meter B1 and the group take part: Tab goes B1, LB, C2.
  const HWND c2 = window.Control(ControlId::C2);
  for (int presses = 0; presses < 3 && window.Focus() != c2; ++presses) ASSERT_NE(TabOnce(window), nullptr);
  ASSERT_EQ(window.Focus(), c2);

  // The poll disables the group; the box inside it gives the focus up to the
  // window (the system would leave it there, and Tab would stay on it).
  ASSERT_TRUE(program.Meters().Send("unplug 1"));
  ASSERT_TRUE(Eventually([&] { return !window.Enabled(ControlId::G6); })) << Describe(window);
  EXPECT_EQ(window.Focus(), window.Window());
  // Tab starts over, past the disabled B1 and group: LB, then Button1.
  EXPECT_EQ(TabOnce(window), window.Control(ControlId::LB));
  EXPECT_EQ(TabOnce(window), window.Control(ControlId::Button1));

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

// --- the update ------------------------------------------------------------------------

TEST(EndToEnd, AWholeUpdateLeavesTheImageTheVersionAndABackupOfTheSettings) {
  std::vector<std::string> start{"plug 1", "version 1 D1.42", "latency 50"};
  for (const std::string& command : IdentityCommands(1)) start.push_back(command);
  ProgramWithMeters program(L"update", start);
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  const MeterControl& meters = program.Meters();
  ASSERT_TRUE(program.WaitForPoll(L"D1.42")) << Describe(window);

  const std::optional<MeterDump> before = meters.Dump(1);
  ASSERT_TRUE(before);
  const std::string dateAtStart = LocalDate();

  window.Click(ControlId::B1);
  ASSERT_TRUE(Eventually([&] { return window.Label() == kUpdating; })) << Describe(window);
  EXPECT_FALSE(window.Enabled(ControlId::B1));
  EXPECT_FALSE(window.Enabled(ControlId::G6));
  ASSERT_TRUE(Eventually([&] { return LogHas(window, kUpdateDone); }, kUpdateTimeout)) << Describe(window);
  const std::string dateAtEnd = LocalDate();

  EXPECT_EQ(window.Log(), (std::vector<std::wstring>{kConnected, kBackupSaved, kBackupFolder, kUpdateDone}));
  EXPECT_EQ(window.Progress(), kPages);
  EXPECT_EQ(window.ProgressMax(), kPages);
  // The poll runs again and reads the new version.
  ASSERT_TRUE(program.WaitForPoll(L"D1.50")) << Describe(window);
  EXPECT_TRUE(window.Enabled(ControlId::G6));

  const std::optional<MeterDump> after = meters.Dump(1);
  ASSERT_TRUE(after);
  EXPECT_TRUE(after->flash == StreamedImage()) << "the meter's flash differs from the carried image";
  EXPECT_EQ(after->flag, kFlagComplete);
  EXPECT_EQ(after->version, "D1.50");
  EXPECT_EQ(after->eeprom.at(kAfterUpdateAddress), 0);
  std::vector<int> pages(kPages);
  for (int page = 0; page < kPages; ++page) pages[static_cast<std::size_t>(page)] = page;
  EXPECT_EQ(after->commits, pages);
  EXPECT_EQ(after->refusedCommits, 0u);
  EXPECT_EQ(after->Received(kWriteChunk), kChunks);
  EXPECT_EQ(after->Received(kCommitPage), static_cast<std::size_t>(kPages));
  EXPECT_EQ(after->Received(kReadChecksum), 1u);
  // Nothing else of the EEPROM changed: only the version, byte 958 and the flag.
  ASSERT_EQ(after->eeprom.size(), before->eeprom.size());
  for (std::size_t address = 0; address < after->eeprom.size(); ++address) {
    const bool written = (address >= kVersionAddress && address < kVersionAddress + 5) ||
                         address == kAfterUpdateAddress || address == kFlagAddress;
    if (!written) {
      EXPECT_EQ(after->eeprom[address], before->eeprom[address]) << "EEPROM " << address;
    }
  }
  EXPECT_EQ(after->refusedCalls, 0);

  // The backup: one new file, named after the identity, the version and the
  // time, holding the EEPROM as it was before the update.
  const std::vector<std::filesystem::path> written = program.Backups().Written();
  ASSERT_EQ(written.size(), 1u) << Utf8(program.Backups().Folder().wstring());
  EXPECT_TRUE(IsBackup(written.front(), kIdentityText + "D1.42", {dateAtStart, dateAtEnd}, before->eeprom));

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

// --- the settings backup when a read of it fails ---------------------------------------

// Reading an EEPROM byte is a command whose reply says "done", then a second
// read of that reply, from which the byte is taken. When the second read
// fails the buffer still holds the request (its high byte) or an older reply:
// that is no byte of the meter. A backup must hold only the meter's bytes, so
// such a read is asked again, and a byte that cannot be read stops the update
// before anything is written to the meter.
struct FailedBackupRead {
  const char* name;
  std::string fault;  // the stand-in command that fails the second read of byte 300
  bool lasting;       // every attempt to read the byte fails
};

void PrintTo(const FailedBackupRead& read, std::ostream* os) { *os << "\"" << read.fault << "\""; }

class BackupWithAFailedSecondRead : public testing::TestWithParam<FailedBackupRead> {};

TEST_P(BackupWithAFailedSecondRead, IsTheMetersEepromOrNoneAndTheMeterIsUpdatedOrUntouched) {
  const FailedBackupRead& read = GetParam();
  // Byte 300 is read by the backup only (not by the poll). What a failed
  // second read leaves, 0x01 (the address's high byte) or 0x2A (the reply for
  // byte 299), differs from the byte, 0x31.
  std::vector<std::string> start{"plug 1", "version 1 D1.42", "eeprom 1 299 0x2A", "eeprom 1 300 0x31", read.fault};
  for (const std::string& command : IdentityCommands(1)) start.push_back(command);
  ProgramWithMeters program(win32::Wide(read.name), start);
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  const MeterControl& meters = program.Meters();
  ASSERT_TRUE(program.WaitForPoll(L"D1.42")) << Describe(window);
  const std::optional<MeterDump> before = meters.Dump(1);
  ASSERT_TRUE(before);
  ASSERT_EQ(before->failedReplyReads, 0u);  // the poll never read byte 300
  const std::string dateAtStart = LocalDate();

  window.Click(ControlId::B1);
  HWND box = nullptr;
  ASSERT_TRUE(Eventually(
      [&] { return LogHas(window, kUpdateDone) || (box = FindMessageBox(program.Copy().ProcessId())) != nullptr; },
      kUpdateTimeout))
      << Describe(window);
  const std::string dateAtEnd = LocalDate();
  const std::optional<MeterDump> after = meters.Dump(1);
  ASSERT_TRUE(after);
  EXPECT_GE(after->failedReplyReads, 1u) << "the fault never met the backup";

  // Whatever happened: the backup holds the meter's EEPROM, or there is none.
  const std::vector<std::filesystem::path> written = program.Backups().Written();
  ASSERT_LE(written.size(), 1u);
  if (!written.empty()) {
    EXPECT_TRUE(IsBackup(written.front(), kIdentityText + "D1.42", {dateAtStart, dateAtEnd}, before->eeprom));
  }

  if (!read.lasting) {
    // The byte is read again: the backup is whole and the update completes.
    EXPECT_EQ(after->failedReplyReads, 1u);
    EXPECT_EQ(box, nullptr) << "a box saying \"" << Utf8(box ? MessageBoxText(box) : L"") << "\"";
    EXPECT_EQ(written.size(), 1u);
    EXPECT_EQ(window.Log(), (std::vector<std::wstring>{kConnected, kBackupSaved, kBackupFolder, kUpdateDone}));
    EXPECT_TRUE(after->flash == StreamedImage()) << "the meter's flash differs from the carried image";
    EXPECT_EQ(after->flag, kFlagComplete);
    EXPECT_EQ(after->version, "D1.50");
  } else {
    // The byte cannot be read: the update stops before it writes anything,
    // with a log line and a box, and leaves no backup.
    const std::wstring readFailed = win32::Wide(std::string(kBackupReadFailed));
    ASSERT_NE(box, nullptr) << "no box; " << Describe(window);
    EXPECT_EQ(MessageBoxText(box), readFailed);
    EXPECT_EQ(win32::WindowText(box), L"");
    EXPECT_EQ(window.Log(), (std::vector<std::wstring>{kConnected, readFailed}));
    EXPECT_TRUE(written.empty()) << "a backup was left: " << Utf8(written.front().filename().wstring());
    AnswerOk(box);
    // The window goes back to the poll, and nothing reaches the meter after
    // the box either.
    ASSERT_TRUE(program.WaitForPoll(L"D1.42")) << Describe(window);
    EXPECT_TRUE(window.Enabled(ControlId::G6));
    const std::optional<MeterDump> later = meters.Dump(1);
    ASSERT_TRUE(later);
    for (const MeterDump* meter : {&*after, &*later}) {
      EXPECT_EQ(meter->flag, before->flag);
      EXPECT_EQ(meter->Received(kWriteEeprom), 0u);
      EXPECT_EQ(meter->Received(kWriteChunk), 0u);
      EXPECT_EQ(meter->Received(kCommitPage), 0u);
      EXPECT_TRUE(meter->eeprom == before->eeprom) << "the meter's EEPROM changed";
      EXPECT_TRUE(meter->flash == before->flash) << "the meter's flash changed";
    }
    EXPECT_TRUE(program.Backups().Written().empty());
  }
  EXPECT_EQ(after->refusedCalls, 0);

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, BackupWithAFailedSecondRead,
    testing::Values(FailedBackupRead{"Once", "fail-reply-read 1 21 300 2", false},
                    FailedBackupRead{"EveryAttempt", "fail-reply-read 1 21 300 2 all all", true}),
    [](const testing::TestParamInfo<FailedBackupRead>& param) { return std::string(param.param.name); });

// How an update is cut short, and what the log shows before the meter is gone.
struct Interruption {
  const char* name;
  std::vector<std::string> beforeStart;     // sent before B1 is pressed
  // Sent once pages are going out; `queued`, so that each lands between two
  // chunk ticks (a plain command may run inside one, where the window moves
  // its progress bar between a page's last chunk and its commit).
  std::vector<std::string> whileStreaming;
  bool chunkFailedBox;                      // "Сбой записи 1 " comes up
  bool stillPluggedAfterBox;                // the test then pulls the meter out
  std::vector<std::wstring> logBeforeRemoval;
};

class InterruptedUpdate : public testing::TestWithParam<Interruption> {};

TEST_P(InterruptedUpdate, LeavesTheMeterMarkedIncompleteAndAskingForAReload) {
  const Interruption& cut = GetParam();
  std::vector<std::string> start{"plug 1"};
  start.insert(start.end(), cut.beforeStart.begin(), cut.beforeStart.end());
  ProgramWithMeters program(win32::Wide(cut.name), start);
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  const MeterControl& meters = program.Meters();
  ASSERT_TRUE(program.WaitForPoll(L"D1.50")) << Describe(window);

  window.Click(ControlId::B1);
  if (!cut.whileStreaming.empty()) {
    ASSERT_TRUE(Eventually([&] { return Streaming(window); })) << Describe(window);
    for (const std::string& command : cut.whileStreaming) ASSERT_TRUE(meters.Send(command)) << command;
  }

  if (cut.chunkFailedBox) {
    HWND box = nullptr;
    ASSERT_TRUE(Eventually([&] { return (box = FindMessageBox(program.Copy().ProcessId())) != nullptr; }))
        << Describe(window);
    EXPECT_EQ(MessageBoxText(box), kChunkFailedBox);
    EXPECT_EQ(win32::WindowText(box), L"");
    if (cut.stillPluggedAfterBox) {
      // The stream stopped at the failed chunk and stays stopped after OK.
      const std::optional<MeterDump> atBox = meters.Dump(1);
      ASSERT_TRUE(atBox);
      AnswerOk(box);
      ASSERT_TRUE(Eventually([&] { return FindMessageBox(program.Copy().ProcessId()) == nullptr; }));
      ObserveQuietly(1500ms);  // longer than a poll period and many chunk periods
      const std::optional<MeterDump> stalled = meters.Dump(1);
      ASSERT_TRUE(stalled);
      EXPECT_EQ(stalled->Received(kWriteChunk), atBox->Received(kWriteChunk));
      EXPECT_EQ(stalled->transfers, atBox->transfers);
      EXPECT_EQ(stalled->flag, kFlagUpdating);
      EXPECT_EQ(window.Label(), kUpdating);
      EXPECT_FALSE(window.Enabled(ControlId::B1));
      ASSERT_TRUE(meters.Send("unplug 1"));
    } else {
      AnswerOk(box);
    }
  }

  ASSERT_TRUE(Eventually([&] {
    return LogHas(window, kDisconnected) && window.Label() == kConnectMeter && !window.Enabled(ControlId::B1);
  })) << Describe(window);
  EXPECT_EQ(window.Progress(), 0);
  std::vector<std::wstring> expected = cut.logBeforeRemoval;
  expected.push_back(kDisconnected);
  EXPECT_TRUE(LogHasInOrder(window, expected)) << Describe(window);
  EXPECT_FALSE(LogHas(window, kUpdateDone));
  const HWND strayBox = FindMessageBox(program.Copy().ProcessId());
  EXPECT_EQ(strayBox, nullptr) << "a box saying \"" << Utf8(strayBox ? MessageBoxText(strayBox) : L"") << "\"; "
                               << Describe(window);

  const std::optional<MeterDump> meter = meters.Dump(1);
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->refusedQueued, 0);
  EXPECT_FALSE(meter->present);
  EXPECT_EQ(meter->flag, kFlagUpdating);
  EXPECT_LT(meter->Received(kWriteChunk), kChunks);
  EXPECT_EQ(meter->Received(kReadChecksum), 0u);

  // Plugged in again: the poll finds the mark and asks for a reload.
  ASSERT_TRUE(meters.Send("plug 1"));
  ASSERT_TRUE(program.WaitForPoll(L"D1.50", kReloadFirmware)) << Describe(window);
  EXPECT_EQ(window.Log().back(), kConnected);

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, InterruptedUpdate,
    testing::Values(
        Interruption{"SumMismatch", {"sum-mismatch-at-chunk 1 40"}, {}, true, true, {kConnected, kBackupSaved}},
        // A chunk the meter never finishes: the transaction gives up and the stream stops.
        Interruption{"MeterBusyForever",
                     {"busy-forever 1 23 30"},
                     {},
                     true,
                     true,
                     {kConnected, kBackupSaved, L"команда 23"}},
        Interruption{"PulledOutBetweenChunks", {}, {"queued unplug 1"}, false, false, {kConnected, kBackupSaved}},
        // Gone after the chunk went out, before its answer could be read.
        Interruption{"PulledOutInsideAChunk",
                     {},
                     {"queued unplug-at-transfer 2 1"},
                     true,
                     false,
                     {kConnected, kBackupSaved, L"Сбой чтения", L"Ошибка протокола 23"}}),
    [](const testing::TestParamInfo<Interruption>& param) { return std::string(param.param.name); });

TEST(EndToEnd, DuringALongBackupTheWindowAnswersAndTheBarMoves) {
  // 1 ms per transfer: the backup's 2048 reads take about six seconds, longer
  // than the system waits before it calls a silent window "not responding".
  ProgramWithMeters program(L"slow-backup", {"plug 1", "latency 1000"});
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  ASSERT_TRUE(program.WaitForPoll(L"D1.50")) << Describe(window);
  window.Click(ControlId::B1);
  std::set<int> positions;
  int unanswered = 0;
  ASSERT_TRUE(Eventually(
      [&] {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(window.Window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &result)) ++unanswered;
        positions.insert(window.Progress());
        return window.Label() == kUpdating;
      },
      kUpdateTimeout));
  EXPECT_EQ(unanswered, 0);
  EXPECT_GE(positions.size(), 5u);  // seen at several points of the backup, not only at its end
  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

TEST(EndToEnd, ClosingDuringAnUpdateEndsTheProgramWithoutFinishingIt) {
  const std::string exitDump = TempFile(L"lu14-e2e-exit-dump");
  std::filesystem::remove(win32::Wide(exitDump));
  ProgramWithMeters program(L"close-updating", {"plug 1", "version 1 D1.42", "dump-at-exit 1 " + exitDump});
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  ASSERT_TRUE(program.WaitForPoll(L"D1.42")) << Describe(window);

  window.Click(ControlId::B1);
  ASSERT_TRUE(Eventually([&] { return Streaming(window); })) << Describe(window);
  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
  EXPECT_FALSE(SemaphoreExists(program.Folder().Program()));

  // What the meter holds as the process ended.
  const std::optional<MeterDump> meter = MeterDump::Read(win32::Wide(exitDump));
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->flag, kFlagUpdating);
  EXPECT_EQ(meter->version, "D1.42");  // the finishing step never ran
  EXPECT_LT(meter->Received(kWriteChunk), kChunks);
  EXPECT_EQ(meter->Received(kReadChecksum), 0u);
  // The program gave back everything it had from the HID services.
  EXPECT_EQ(meter->setsOpen, 0);
  EXPECT_EQ(meter->preparsedLive, 0);
  std::filesystem::remove(win32::Wide(exitDump));
}

}  // namespace
}  // namespace lu14::e2e
