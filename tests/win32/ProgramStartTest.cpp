// The real lu14-updater.exe under Wine: single instance, start-up caption and
// controls, the companion command lines, and a clean exit.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>

#include "app/ShellTexts.h"
#include "resources/WindowLayout.h"
#include "tests/win32/ProgramCopy.h"
#include "tests/win32/WaitFor.h"

namespace lu14::win32 {
namespace {

using namespace std::chrono_literals;

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

TEST(ProgramStart, WindowShowsItsControlsAtTheirPlaces) {
  ProgramFolder folder(L"window");
  ProgramCopy copy(folder.Program());
  HWND window = copy.WaitForMainWindow();
  ASSERT_NE(window, nullptr);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, kClientWidth);
  EXPECT_EQ(client.bottom, kClientHeight);
  EXPECT_EQ(GetWindowLongW(window, GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);

  for (const ControlLayout& layout : kControlLayouts) {
    const HWND parent = layout.insideGroup ? GetDlgItem(window, 100 + static_cast<int>(ControlId::G6)) : window;
    const HWND control = GetDlgItem(parent, 100 + static_cast<int>(layout.id));
    ASSERT_NE(control, nullptr) << layout.text;
    const RECT place = ChildRect(control);
    EXPECT_EQ(place.left, layout.left) << layout.text;
    EXPECT_EQ(place.top, layout.top) << layout.text;
    if (layout.kind != ControlKind::Label) {  // the label takes the size of its text
      EXPECT_EQ(place.right - place.left, layout.width) << layout.text;
      EXPECT_EQ(place.bottom - place.top, layout.height) << layout.text;
    }
    EXPECT_EQ(IsWindowEnabled(control) != FALSE, layout.enabled) << layout.text;
    EXPECT_EQ(IsWindowVisible(control) != FALSE, layout.visible) << layout.text;
    if (layout.kind != ControlKind::ProgressBar && layout.kind != ControlKind::ListBox) {
      EXPECT_EQ(WindowText(control), Wide(std::string(layout.text)));
    }
  }

  // The first poll finds no meter; the label takes the width of its new text
  // and keeps its left edge.
  HWND label = GetDlgItem(window, 100 + static_cast<int>(ControlId::Label1));
  const RECT before = ChildRect(label);
  ASSERT_TRUE(PumpUntil([&] { return WindowText(label) == L"Подключите устройство "; }, kWindowTimeout));
  const RECT after = ChildRect(label);
  EXPECT_EQ(after.left, before.left);
  EXPECT_GT(after.right - after.left, before.right - before.left);

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
  for (int presses = 0; presses < 10 && FocusOf(window) != button1; ++presses) {
    PostMessageW(FocusOf(window) ? FocusOf(window) : window, WM_KEYDOWN, VK_TAB, 0);
    PumpUntil([&, before = FocusOf(window)] { return FocusOf(window) != before; }, 10s);
  }
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

TEST(ProgramStart, WithoutTheHidServicesTheProgramStillRunsAndNeverScans) {
  ProgramFolder folder(L"nohid");
  // The notification window exists only where the HID services could be bound.
  constexpr wchar_t kNotificationWindow[] = L"LU14HidNotifications";
  ProgramCopy normal(folder.Program());
  ASSERT_NE(normal.WaitForMainWindow(), nullptr);
  EXPECT_NE(FindWindowOfProcess(normal.ProcessId(), kNotificationWindow), nullptr);
  EXPECT_EQ(Close(normal), 0u);

  std::filesystem::copy_file(TestsFolder() / L"lu14-empty-library.dll", folder.Path() / L"hid.dll");
  ProgramCopy withoutHid(folder.Program());
  HWND window = withoutHid.WaitForMainWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(WindowText(window), kStartCaption);
  EXPECT_EQ(FindWindowOfProcess(withoutHid.ProcessId(), kNotificationWindow), nullptr);
  EXPECT_EQ(Close(withoutHid), 0u);
}

}  // namespace
}  // namespace lu14::win32
