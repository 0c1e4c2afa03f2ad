// Drives copies of the real lu14-updater.exe in end-to-end tests under Wine:
// places a copy in a folder, starts it, finds its windows and works them
// through the Windows API, and waits for its exit code.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lu14::win32 {

inline constexpr std::chrono::seconds kWindowTimeout{60};

// The folder of the running test program, where the stand-ins are.
std::filesystem::path TestsFolder();
// lu14-updater.exe as built.
std::filesystem::path UpdaterProgram();

// A folder under %TEMP% holding a copy of lu14-updater.exe and the stand-in
// taskkill.exe. Removed on destruction.
class ProgramFolder {
 public:
  explicit ProgramFolder(const std::wstring& name);
  ~ProgramFolder();
  const std::filesystem::path& Path() const { return folder_; }
  std::filesystem::path Program() const { return folder_ / L"lu14-updater.exe"; }
  // The lines the stand-in taskkill wrote, in the order the processes started.
  std::vector<std::string> CommandsStarted() const;

 private:
  std::filesystem::path folder_;
};

class ProgramCopy {
 public:
  // kSuspended: the process is made but its main thread waits for Resume().
  enum class Start { kRunning, kSuspended };

  explicit ProgramCopy(const std::filesystem::path& program, Start start = Start::kRunning);
  ~ProgramCopy();  // ends a copy that is still running, so no test leaves one behind
  ProgramCopy(const ProgramCopy&) = delete;
  ProgramCopy& operator=(const ProgramCopy&) = delete;

  DWORD ProcessId() const { return processId_; }
  // The main thread, which makes and runs the window.
  DWORD MainThreadId() const { return mainThreadId_; }
  // Lets a copy started suspended run; false when it was not suspended.
  bool Resume();
  // The visible main window (class TMForm) of this process, waiting for it.
  HWND WaitForMainWindow() const;
  // The main window now, or null.
  HWND MainWindow() const;
  // A message box (dialog class #32770) of this process, waiting for it.
  HWND WaitForMessageBox() const;
  // Exit code once the process has ended, waiting for it; nothing on time-out.
  std::optional<DWORD> WaitForExit() const;
  bool Running() const;
  // What became of the copy, for a failure's message: not started (and the
  // system's error), running, or ended (and its exit code).
  std::string State() const;

 private:
  DWORD startError_ = 0;  // CreateProcess's error when it failed
  HANDLE process_ = nullptr;
  HANDLE suspendedThread_ = nullptr;  // until Resume()
  DWORD processId_ = 0;
  DWORD mainThreadId_ = 0;
};

// A top-level window of this class belonging to the process, visible or not.
HWND FindWindowOfProcess(DWORD processId, const wchar_t* className);
// The same, visible ones only.
HWND FindVisibleWindowOfProcess(DWORD processId, const wchar_t* className);

// The text through WM_GETTEXT, which the window's thread answers.
std::wstring WindowText(HWND window);
// The text the system keeps for the window (InternalGetWindowText), read
// without a message to its thread: readable while that thread is held. An
// edit box keeps its text itself; this is then the text it was made with.
std::wstring StoredText(HWND window);
std::wstring ClassName(HWND window);
// The dialog's child with this id, or null.
HWND DialogItem(HWND dialog, int id);
// The position and size of a child window relative to its parent's client area.
RECT ChildRect(HWND child);

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

}  // namespace lu14::win32
