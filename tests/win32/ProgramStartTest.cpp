// The real lu14-updater.exe under Wine: single instance, start-up caption and
// controls, the companion command lines, the HID libraries it binds, and a
// clean exit.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "window/ShellTexts.h"
#include "resources/WindowLayout.h"
#include "tests/win32/FirstTickHold.h"
#include "tests/win32/ProgramCopy.h"
#include "tests/win32/WaitFor.h"

namespace lu14::win32 {
namespace {


const std::wstring kStartCaption = L"Прошивка версии  D1.50 для ЛУ-14";
constexpr int kMessageBoxTextId = 0xFFFF;  // the static text of a message box
constexpr int kMessageBoxIconId = 0x0440;  // its icon

std::wstring ForwardSlashes(std::wstring path) {
  std::replace(path.begin(), path.end(), L'\\', L'/');
  return path;
}

// Closes the window as the user does and returns the exit code.
std::optional<DWORD> Close(const ProgramCopy& copy) {
  PostMessageW(copy.MainWindow(), WM_CLOSE, 0, 0);
  return copy.WaitForExit();
}

bool SemaphoreExists(const std::filesystem::path& program) {
  HANDLE semaphore = OpenSemaphoreW(SYNCHRONIZE, FALSE, ForwardSlashes(program.wstring()).c_str());
  if (!semaphore) return false;
  CloseHandle(semaphore);
  return true;
}

TEST(ProgramStart, SecondCopyOfTheSameFileIsTurnedAwayAndTheFirstGoesOn) {
  ProgramFolder folder(L"same");
  ProgramCopy first(folder.Program());
  HWND window = first.WaitForMainWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(WindowText(window), kStartCaption);
  ASSERT_TRUE(PumpUntil([&] { return folder.CommandsStarted().size() >= 4; }, kWindowTimeout));

  ProgramCopy second(folder.Program());
  HWND box = second.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(WindowText(box), ForwardSlashes(folder.Program().wstring()));
  EXPECT_EQ(WindowText(DialogItem(box, kMessageBoxTextId)), Wide(std::string(kAlreadyRunningText)));
  EXPECT_NE(DialogItem(box, kMessageBoxIconId), nullptr);
  EXPECT_NE(DialogItem(box, IDOK), nullptr);
  EXPECT_EQ(DialogItem(box, IDCANCEL), nullptr);
  EXPECT_EQ(second.MainWindow(), nullptr);

  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(second.WaitForExit(), 0u);
  EXPECT_EQ(folder.CommandsStarted().size(), 4u);  // the turned-away copy started none
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.MainWindow(), window);

  EXPECT_EQ(Close(first), 0u);
  EXPECT_FALSE(SemaphoreExists(folder.Program()));  // given back and closed

  ProgramCopy later(folder.Program());  // accepted again
  EXPECT_NE(later.WaitForMainWindow(), nullptr);
  EXPECT_EQ(Close(later), 0u);
}

TEST(ProgramStart, CopiesInTwoFoldersRunSideBySide) {
  ProgramFolder a(L"a"), b(L"b");
  ProgramCopy first(a.Program());
  ASSERT_NE(first.WaitForMainWindow(), nullptr);
  ProgramCopy second(b.Program());
  ASSERT_NE(second.WaitForMainWindow(), nullptr);
  EXPECT_EQ(Close(first), 0u);
  EXPECT_EQ(Close(second), 0u);
}

TEST(ProgramStart, StartEndsTheCompanionProgramsInOrder) {
  ProgramFolder folder(L"commands");
  ProgramCopy copy(folder.Program());
  ASSERT_NE(copy.WaitForMainWindow(), nullptr);
  ASSERT_TRUE(PumpUntil([&] { return folder.CommandsStarted().size() >= 4; }, kWindowTimeout));
  std::vector<std::string> expected(kCompanionKillCommands.begin(), kCompanionKillCommands.end());
  EXPECT_EQ(folder.CommandsStarted(), expected);
  EXPECT_EQ(Close(copy), 0u);
}

// The window as designed, written out here rather than taken from the layout
// table the program is built from, so that a wrong entry there shows.
struct DesignedControl {
  ControlId id;
  bool inGroup;  // a child of G6, placed relative to it
  int left, top;
  int width, height;  // 0: sized to its text
  const wchar_t* text;  // nullptr: no text to read (the bar, the list)
  bool enabled, visible;
};
// C1 begins with a Latin "A" and C2 holds a Latin "U"; C4 has two blanks
// before "(см. форум)". Button1 and E1 lie below the client area.
const DesignedControl kDesign[] = {
    {ControlId::Label1, false, 16, 80, 0, 0, L"Пинцет ЛУ", true, true},
    {ControlId::B1, false, 8, 8, 369, 42, L"Обновить прошивку", false, true},
    {ControlId::Pr1, false, 8, 56, 369, 16, nullptr, true, true},
    {ControlId::LB, false, 383, 8, 202, 206, nullptr, true, true},
    {ControlId::G6, false, 8, 112, 369, 102, L"Дополнительно", true, true},
    {ControlId::C1, true, 15, 93, 258, 17, L"Aвто сохранение последнего режима", false, false},
    {ControlId::C2, true, 15, 24, 322, 17, L"Изменение U при подключенной емкости >1мкФ", true, true},
    {ControlId::C3, true, 15, 47, 194, 17, L"Рокировка действий в меню", true, true},
    {ControlId::C4, true, 15, 70, 298, 17, L"Доработка прибора ЛУ14  (см. форум)", false, true},
    {ControlId::Button1, false, 16, 232, 75, 25, L"Button1", true, true},
    {ControlId::E1, false, 104, 234, 121, 21, L"E1", true, true},
};

TEST(ProgramStart, WindowShowsItsControlsAtTheirPlaces) {
  ProgramFolder folder(L"window");
  ProgramCopy copy(folder.Program(), ProgramCopy::Start::kSuspended);
  // The start state is read while the program is held at its first tick, the
  // first status poll, which changes it: under load the window can come up
  // when that tick is already due. Nothing read while held needs an answer
  // from the program's thread.
  FirstTickHold hold(copy);
  ASSERT_TRUE(hold.WaitUntilHeld(kWindowTimeout));
  HWND window = copy.MainWindow();
  ASSERT_NE(window, nullptr);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 587);
  EXPECT_EQ(client.bottom, 217);
  EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);

  const HWND group = GetDlgItem(window, 100 + static_cast<int>(ControlId::G6));
  // An edit box keeps its text itself, out of reach while the program is
  // held: it is asked once the program runs again (the poll leaves E1 alone).
  std::vector<std::pair<HWND, const DesignedControl*>> askLater;
  for (const DesignedControl& designed : kDesign) {
    const std::string name = designed.text ? Utf8(designed.text) : std::to_string(static_cast<int>(designed.id));
    const HWND control = GetDlgItem(designed.inGroup ? group : window, 100 + static_cast<int>(designed.id));
    ASSERT_NE(control, nullptr) << name;
    const RECT place = ChildRect(control);
    EXPECT_EQ(place.left, designed.left) << name;
    EXPECT_EQ(place.top, designed.top) << name;
    if (designed.width != 0) {
      EXPECT_EQ(place.right - place.left, designed.width) << name;
      EXPECT_EQ(place.bottom - place.top, designed.height) << name;
    }
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, designed.enabled) << name;
    EXPECT_EQ(IsWindowVisible(control) != FALSE, designed.visible) << name;
    if (!designed.text) continue;
    if (ClassName(control) == L"Edit") {
      askLater.emplace_back(control, &designed);
    } else {
      EXPECT_EQ(StoredText(control), designed.text) << name;
    }
  }

  // The first poll finds no meter; the label takes the width of its new text
  // and keeps its left edge.
  HWND label = GetDlgItem(window, 100 + static_cast<int>(ControlId::Label1));
  const RECT before = ChildRect(label);
  hold.Release();
  ASSERT_TRUE(PumpUntil([&] { return WindowText(label) == L"Подключите устройство "; }, kWindowTimeout));
  const RECT after = ChildRect(label);
  EXPECT_EQ(after.left, before.left);
  EXPECT_GT(after.right - after.left, before.right - before.left);
  EXPECT_FALSE(IsWindowEnabled(group));
  for (const auto& [control, designed] : askLater) EXPECT_EQ(WindowText(control), designed->text);

  // Hints for C1, C2 and C3 only (C1 is hidden), up after 500 ms for 2500 ms.
  HWND hints = FindWindowOfProcess(copy.ProcessId(), L"tooltips_class32");
  ASSERT_NE(hints, nullptr);
  EXPECT_EQ(SendMessageW(hints, TTM_GETTOOLCOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessageW(hints, TTM_GETDELAYTIME, TTDT_INITIAL, 0), 500);
  EXPECT_EQ(SendMessageW(hints, TTM_GETDELAYTIME, TTDT_AUTOPOP, 0), 2500);
  EXPECT_EQ(Close(copy), 0u);
}

// The keyboard focus inside another process's window.
HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

TEST(ProgramStart, Button1BelowTheWindowIsReachedWithTabAndPressedWithSpace) {
  ProgramFolder folder(L"keyboard");
  ProgramCopy copy(folder.Program());
  HWND window = copy.WaitForMainWindow();
  ASSERT_NE(window, nullptr);
  HWND button1 = GetDlgItem(window, 100 + static_cast<int>(ControlId::Button1));
  HWND e1 = GetDlgItem(window, 100 + static_cast<int>(ControlId::E1));
  HWND list = GetDlgItem(window, 100 + static_cast<int>(ControlId::LB));
  HWND label = GetDlgItem(window, 100 + static_cast<int>(ControlId::Label1));
  HWND group = GetDlgItem(window, 100 + static_cast<int>(ControlId::G6));
  // Keys go in once the first poll has found no meter and disabled B1 and
  // the options group, which every later poll leaves so: from then on the
  // tab order is fixed. (A poll that disables the group under the focus is
  // the case of EndToEnd.AnOptionBoxWithTheFocusGivesItUpWhenTheMeterLeaves.)
  ASSERT_TRUE(PumpUntil([&] { return WindowText(label) == L"Подключите устройство " && !IsWindowEnabled(group); },
                        kWindowTimeout));
  // Tab goes to the control with the focus, or to the window when none has it.
  std::vector<HWND> path;
  for (int presses = 0; presses < 2; ++presses) {
    const HWND focus = FocusOf(window);
    PostMessageW(focus ? focus : window, WM_KEYDOWN, VK_TAB, 0);
    ASSERT_TRUE(PumpUntil([&] { return FocusOf(window) != focus; }, kWindowTimeout)) << "press " << presses;
    path.push_back(FocusOf(window));
  }
  // B1, Pr1 and the group are passed over; Button1 comes after the list.
  EXPECT_EQ(path, (std::vector<HWND>{list, button1}));
  ASSERT_EQ(FocusOf(window), button1);
  PostMessageW(button1, WM_KEYDOWN, VK_SPACE, 0);
  PostMessageW(button1, WM_KEYUP, VK_SPACE, 0xC0000001);
  // Without a meter the checksum readout fails: the failure report, owned by
  // the window, with the application title and the error icon; E1 keeps its text.
  HWND box = copy.WaitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(WindowText(box), L"lu14-updater");
  EXPECT_EQ(WindowText(DialogItem(box, kMessageBoxTextId)), L"Устройство не подключено.");
  EXPECT_NE(SendMessageW(DialogItem(box, kMessageBoxIconId), STM_GETICON, 0, 0), 0);
  EXPECT_EQ(GetWindow(box, GW_OWNER), window);
  EXPECT_FALSE(IsWindowEnabled(window));  // disabled while its box is open
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(PumpUntil([&] { return IsWindowEnabled(window) != FALSE; }, kWindowTimeout));
  EXPECT_EQ(WindowText(e1), L"E1");
  EXPECT_EQ(Close(copy), 0u);
}

// The notification window exists only where the HID services could be bound.
constexpr wchar_t kNotificationWindow[] = L"LU14HidNotifications";

TEST(ProgramStart, LibrariesBesideTheProgramAreNeverLoaded) {
  ProgramFolder folder(L"planted");
  const std::filesystem::path planted = TestsFolder() / L"lu14-planted-library.dll";
  {
    // The mark shows a load: a copy loaded here leaves one.
    const std::filesystem::path probe = folder.Path() / L"lu14-planted-probe.dll";
    std::filesystem::copy_file(planted, probe);
    const HMODULE loaded = LoadLibraryW(probe.c_str());
    ASSERT_NE(loaded, nullptr);
    FreeLibrary(loaded);
    ASSERT_TRUE(std::filesystem::exists(probe.wstring() + L".loaded")) << "the planted library leaves no mark";
  }
  for (const wchar_t* library : {L"hid.dll", L"setupapi.dll"}) {
    std::filesystem::copy_file(planted, folder.Path() / library);
  }

  ProgramCopy copy(folder.Program());
  ASSERT_NE(copy.WaitForMainWindow(), nullptr);
  // Bound (the HID controller binds before the window is made): the program
  // took the HID services from the system folder.
  EXPECT_NE(FindWindowOfProcess(copy.ProcessId(), kNotificationWindow), nullptr);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / L"hid.dll.loaded"));
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / L"setupapi.dll.loaded"));
  EXPECT_EQ(Close(copy), 0u);
}

// Wine's load order for one program name with hid.dll switched off, as on a
// system that lacks it. The setting is removed again afterwards.
class HidSwitchedOffFor {
 public:
  explicit HidSwitchedOffFor(const std::wstring& programName)
      : key_(L"Software\\Wine\\AppDefaults\\" + programName) {
    const std::wstring overrides = key_ + L"\\DllOverrides";
    constexpr wchar_t kOff[] = L"";
    RegSetKeyValueW(HKEY_CURRENT_USER, overrides.c_str(), L"hid", REG_SZ, kOff, sizeof(kOff));
  }
  ~HidSwitchedOffFor() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
  HidSwitchedOffFor(const HidSwitchedOffFor&) = delete;
  HidSwitchedOffFor& operator=(const HidSwitchedOffFor&) = delete;

 private:
  std::wstring key_;
};

TEST(ProgramStart, WithoutTheHidServicesTheProgramStillRunsAndNeverScans) {
  ProgramFolder folder(L"nohid");
  // A copy under a name of its own, so that the setting reaches no other copy.
  const std::filesystem::path program = folder.Path() / L"lu14-updater-without-hid.exe";
  std::filesystem::copy_file(folder.Program(), program);
  const HidSwitchedOffFor switchedOff(program.filename().wstring());

  ProgramCopy withoutHid(program);
  HWND window = withoutHid.WaitForMainWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(WindowText(window), kStartCaption);
  // The HID controller binds before the window is made.
  EXPECT_EQ(FindWindowOfProcess(withoutHid.ProcessId(), kNotificationWindow), nullptr);
  EXPECT_EQ(Close(withoutHid), 0u);
}

}  // namespace
}  // namespace lu14::win32
