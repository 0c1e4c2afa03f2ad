// The Shell over the Windows API: message timers on a hidden window of our own,
// MessageBoxW, GetLocalTime, WinExec, GetModuleFileNameW, named semaphores,
// SHGetSpecialFolderPathW and the file API (Win32Files.h). Paths stay UTF-16
// throughout.
#pragma once

#include <windows.h>

#include <set>

#include "ports/Shell.h"
#include "os/win32/PreciseTimers.h"

namespace lu14::win32 {

class Win32Shell : public Shell {
 public:
  Win32Shell();
  ~Win32Shell() override;
  Win32Shell(const Win32Shell&) = delete;
  Win32Shell& operator=(const Win32Shell&) = delete;

  void SetEventSink(EventSink* sink) override { sink_ = sink; }
  bool StartTimer(TimerId id, Milliseconds interval) override;
  void StopTimer(TimerId id) override;
  void Sleep(Milliseconds duration) override;
  void ShowMessageBox(const MessageBoxRequest& box) override;
  LocalTime Now() override;
  std::optional<std::string> EnvironmentVariable(const std::string& name) override;
  bool StartHiddenCommand(const std::string& commandLine) override;
  std::uint32_t ProcessId() override { return GetCurrentProcessId(); }
  std::u16string ProgramPath() override;
  std::unique_ptr<NamedSemaphore> CreateNamedSemaphore(const std::u16string& name, std::int32_t initialCount,
                                                       std::int32_t maximumCount) override;
  std::optional<std::filesystem::path> DocumentsFolder() override;
  std::uint32_t MakeDirectory(const std::filesystem::path& path) override;
  std::unique_ptr<OutputFile> CreateOutputFile(const std::filesystem::path& path) override;
  MoveOutcome MoveFileNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) override;
  bool RemoveFile(const std::filesystem::path& path) override;
  // The window's texts are fixed and name no reasons: it keeps none.
  std::string LastFileError() override { return {}; }

  // Drives this timer with a precise period instead of a message timer. Its
  // ticks are handed out by the main loop through DispatchDuePreciseTick.
  void DrivePrecisely(TimerId id) { preciseIds_.insert(id); }
  // Handle the main loop waits on besides its messages; null without timers.
  HANDLE PreciseTimerHandle() const { return precise_.WaitHandle(); }
  // Runs one due precise tick; false when none is due.
  bool DispatchDuePreciseTick();

 private:
  static LRESULT CALLBACK TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // Receives WM_TIMER for the form's timers, the way the toolkit's timers each
  // own a hidden window. A plain hidden top-level window, so that it can also
  // receive broadcasts later.
  HWND timerWindow_ = nullptr;
  EventSink* sink_ = nullptr;
  std::set<TimerId> preciseIds_;
  PreciseTimers precise_;
};

}  // namespace lu14::win32
