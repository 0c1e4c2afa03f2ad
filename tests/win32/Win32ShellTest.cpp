// The Win32 adapter of the shell against the real Windows API (run under Wine).
#include "window/win32/Win32Shell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "window/MessageBoxes.h"
#include "tests/win32/WaitFor.h"

namespace lu14::win32 {
namespace {

using namespace std::chrono_literals;

std::filesystem::path FreshFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::filesystem::path folder =
      std::filesystem::path(temp) / (std::wstring(name) + L"-" + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

TEST(Win32Shell, ProgramPathIsTheWholeModulePath) {
  Win32Shell shell;
  wchar_t expected[4096];
  const DWORD length = GetModuleFileNameW(nullptr, expected, 4096);
  const std::u16string path = shell.ProgramPath();
  EXPECT_EQ(std::wstring(path.begin(), path.end()), std::wstring(expected, length));
}

TEST(Win32Shell, NamedSemaphoreGuardsOneCopyAndDisappearsWithItsLastHandle) {
  Win32Shell shell;
  const std::u16string name = u"Z:/lu14-test/guard-" + [] {
    const std::wstring id = std::to_wstring(GetCurrentProcessId());
    return std::u16string(id.begin(), id.end());
  }();
  auto first = shell.CreateNamedSemaphore(name, 1, 1);
  auto second = shell.CreateNamedSemaphore(name, 1, 1);  // opens the same one
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(first->Wait(50ms));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(second->Wait(50ms));
  EXPECT_GE(std::chrono::steady_clock::now() - started, 40ms);
  second->Release(0);  // gives nothing back
  EXPECT_FALSE(second->Wait(0ms));
  first->Release(1);
  EXPECT_TRUE(second->Wait(0ms));
  first.reset();
  second.reset();
  const std::wstring wideName(name.begin(), name.end());
  EXPECT_EQ(OpenSemaphoreW(SYNCHRONIZE, FALSE, wideName.c_str()), nullptr);
}

TEST(Win32Shell, AGuardNameTakenByAnotherKindOfObjectTurnsTheCopyAway) {
  Win32Shell shell;
  const std::wstring name = L"Z:/lu14-test/event-" + std::to_wstring(GetCurrentProcessId());
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(shell.CreateNamedSemaphore(std::u16string(name.begin(), name.end()), 1, 1), nullptr);
  CloseHandle(event);
}

TEST(Win32Shell, TimersTickThroughTheMessageLoop) {
  struct Counter : EventSink {
    void TimerTick(TimerId id) override { ticks += id == 5 ? 1 : 0; }
    int ticks = 0;
  } counter;
  Win32Shell shell;
  shell.SetEventSink(&counter);
  ASSERT_TRUE(shell.StartTimer(5, 20ms));
  EXPECT_TRUE(PumpUntil([&] { return counter.ticks >= 3; }, 10s));
  shell.StopTimer(5);
  const int stopped = counter.ticks;
  PumpFor(100ms);
  EXPECT_EQ(counter.ticks, stopped);
}

TEST(Win32Shell, FilesAreCreatedWrittenFlushedAndMovedInPlace) {
  Win32Shell shell;
  const std::filesystem::path folder = FreshFolder(L"lu14-files");
  const std::filesystem::path sub = folder / L"lu14";
  EXPECT_EQ(shell.MakeDirectory(sub), 0u);
  EXPECT_EQ(shell.MakeDirectory(sub), kErrorAlreadyExists);
  EXPECT_NE(shell.MakeDirectory(folder / L"a" / L"b"), 0u);

  const std::filesystem::path temporary = sub / L"Пинцет_0930_101226.hex.tmp";
  const std::filesystem::path final = sub / L"Пинцет_0930_101226.hex";
  auto file = shell.CreateOutputFile(temporary);
  ASSERT_TRUE(file);
  // Others may read the file while it is written, but not write to it.
  HANDLE reader = CreateFileW(temporary.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  HANDLE writer = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  const std::uint8_t line[] = {'0', '1', '\r', '\n'};
  EXPECT_TRUE(file->Write(line));
  EXPECT_TRUE(file->FlushToDisk());
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(shell.MoveFileNoReplace(temporary, final), MoveOutcome::Moved);
  EXPECT_EQ(std::filesystem::file_size(final), 4u);
  EXPECT_FALSE(std::filesystem::exists(temporary));

  // A file of the target's name is never replaced; the one to move stays.
  auto second = shell.CreateOutputFile(temporary);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->Close());
  EXPECT_EQ(shell.MoveFileNoReplace(temporary, final), MoveOutcome::TargetExists);
  EXPECT_EQ(std::filesystem::file_size(final), 4u);
  EXPECT_TRUE(std::filesystem::exists(temporary));
  EXPECT_EQ(shell.MoveFileNoReplace(sub / L"missing", sub / L"other"), MoveOutcome::Failed);
  EXPECT_TRUE(shell.RemoveFile(temporary));

  // A file held open without sharing cannot be created again.
  HANDLE locked = CreateFileW(final.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  EXPECT_EQ(shell.CreateOutputFile(final), nullptr);
  EXPECT_FALSE(shell.RemoveFile(final));
  CloseHandle(locked);
  EXPECT_TRUE(shell.RemoveFile(final));
  std::filesystem::remove_all(folder);
}

TEST(Win32Shell, DocumentsFolderExists) {
  Win32Shell shell;
  const auto documents = shell.DocumentsFolder();
  ASSERT_TRUE(documents);
  EXPECT_TRUE(std::filesystem::is_directory(*documents));
}

TEST(Win32Shell, HiddenCommandStartsWithoutWaiting) {
  Win32Shell shell;
  const std::filesystem::path folder = FreshFolder(L"lu14-command");
  const std::filesystem::path marker = folder / L"ran.txt";
  const std::string command = "cmd.exe /c echo ran> \"" + marker.string() + "\"";
  EXPECT_TRUE(shell.StartHiddenCommand(command));
  EXPECT_TRUE(PumpUntil([&] { return std::filesystem::exists(marker); }, 30s));
  EXPECT_FALSE(shell.StartHiddenCommand("no-such-program-lu14.exe"));
  std::filesystem::remove_all(folder);
}

// What a box looked like to the user, read by a helper thread while it is open.
struct SeenBox {
  std::wstring caption;
  std::wstring text;
  HWND owner = nullptr;
  bool icon = false;
  bool cancel = false;
};

// Shows `box` through the adapter and answers it with OK from another thread.
SeenBox ShowAndAnswer(Win32Shell& shell, const MessageBoxRequest& box) {
  SeenBox seen;
  std::atomic<bool> answered{false};
  const DWORD process = GetCurrentProcessId();
  std::thread user([&] {
    for (int attempt = 0; attempt < 6000 && !answered; ++attempt) {
      HWND dialog = FindWindowW(L"#32770", nullptr);
      DWORD owner = 0;
      if (dialog) GetWindowThreadProcessId(dialog, &owner);
      if (dialog && owner == process && IsWindowVisible(dialog)) {
        wchar_t text[512] = {};
        GetWindowTextW(dialog, text, 512);
        seen.caption = text;
        GetDlgItemTextW(dialog, 0xFFFF, text, 512);
        seen.text = text;
        seen.owner = GetWindow(dialog, GW_OWNER);
        seen.icon = SendMessageW(GetDlgItem(dialog, 0x0440), STM_GETICON, 0, 0) != 0;
        seen.cancel = GetDlgItem(dialog, IDCANCEL) != nullptr;
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        answered = true;
      }
      Sleep(10);
    }
  });
  shell.ShowMessageBox(box);
  answered = true;
  user.join();
  return seen;
}

TEST(Win32Shell, MessageBoxesOfBothKinds) {
  Win32Shell shell;
  const SeenBox device = ShowAndAnswer(shell, DeviceProblemBox("Ошибка записи"));
  EXPECT_EQ(device.text, L"Ошибка записи");
  EXPECT_EQ(device.caption, L"");
  EXPECT_EQ(device.owner, nullptr);
  EXPECT_FALSE(device.icon);
  EXPECT_FALSE(device.cancel);

  HWND active = CreateWindowExW(0, L"STATIC", L"active", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                nullptr, nullptr);
  SetActiveWindow(active);
  const SeenBox failure = ShowAndAnswer(shell, FailureBox("Unable to insert a line.", "Lu14-updater"));
  EXPECT_EQ(failure.text, L"Unable to insert a line.");
  EXPECT_EQ(failure.caption, L"Lu14-updater");
  EXPECT_EQ(failure.owner, active);
  EXPECT_TRUE(failure.icon);
  DestroyWindow(active);
}

TEST(Win32Shell, EnvironmentVariablesAreReadWholeInUtf8) {
  Win32Shell shell;
  SetEnvironmentVariableW(L"LU14_SHELL_TEST", L"Пинцет=1");
  EXPECT_EQ(shell.EnvironmentVariable("LU14_SHELL_TEST"), "Пинцет=1");
  SetEnvironmentVariableW(L"LU14_SHELL_TEST", L"");
  EXPECT_EQ(shell.EnvironmentVariable("LU14_SHELL_TEST"), "");
  SetEnvironmentVariableW(L"LU14_SHELL_TEST", nullptr);
  EXPECT_EQ(shell.EnvironmentVariable("LU14_SHELL_TEST"), std::nullopt);
}

}  // namespace
}  // namespace lu14::win32
