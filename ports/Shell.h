// Shell: everything the core needs from the operating system's application
// services. The core includes no OS header; the Win32 program, the simulated
// runtime and (later) the console front end each implement this interface.
//
// All calls come from the one user-interface thread. Texts are UTF-8; the
// program path and the semaphore name stay UTF-16 code units, exactly as the
// operating system reports and matches them; file paths are native paths.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace lu14 {

using Milliseconds = std::chrono::milliseconds;

// Identifies one of the form's timers towards the runtime. Ticks come back to
// the form through EventSink::TimerTick with the same id.
using TimerId = int;

// A modal message box. The four kinds the program shows are made by the
// functions in MessageBoxes.h.
struct MessageBoxRequest {
  std::string text;
  std::string caption;
  bool errorIcon = false;
  // true: owned by the program's active window, which it disables while open
  // (the failure report). false: no owner window (device and guard boxes).
  bool ownedByActiveWindow = false;
  friend bool operator==(const MessageBoxRequest&, const MessageBoxRequest&) = default;
};

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// A named semaphore handle. Destroying it closes the handle; the semaphore
// itself disappears with its last handle.
class NamedSemaphore {
 public:
  virtual ~NamedSemaphore() = default;
  // Waits at most `timeout` for one unit. true: a unit was taken. false: time-out or failure.
  virtual bool Wait(Milliseconds timeout) = 0;
  // Gives `count` units back; a count of 0 gives nothing back.
  virtual void Release(std::int32_t count) = 0;
};

// A file opened for writing in create-always mode. Destroying it closes it.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // false: the bytes were not all written (disk full, device error).
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
  // Flushes everything written so far to the storage device. false on failure.
  virtual bool FlushToDisk() = 0;
  // Closes the file; false when closing reported an error.
  virtual bool Close() = 0;
};

// What MoveFileNoReplace did.
enum class MoveOutcome {
  Moved,
  TargetExists,  // a file of that name is there already; nothing was moved
  Failed,
};

// What the runtime calls back into the core: timer ticks. Every entry point is a
// dispatch boundary that catches what a handler throws.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void TimerTick(TimerId id) = 0;
};

class Shell {
 public:
  virtual ~Shell() = default;

  // --- event delivery -------------------------------------------------------
  // The sink that receives timer ticks; null detaches it (ticks then dropped).
  virtual void SetEventSink(EventSink* sink) = 0;

  // --- timers ---------------------------------------------------------------
  // Starts a message timer: the first tick comes one full interval later; ticks
  // are queued through the message loop and never pile up (at most one waiting).
  // Starting a running id again restarts it; the form's timers never do that.
  // Returns false when the platform refuses the timer.
  virtual bool StartTimer(TimerId id, Milliseconds interval) = 0;
  // Stops the timer and drops its waiting tick. Stopping a stopped id is harmless.
  virtual void StopTimer(TimerId id) = 0;

  // --- pauses ---------------------------------------------------------------
  // Blocks the user-interface thread; nothing is dispatched meanwhile.
  virtual void Sleep(Milliseconds duration) = 0;

  // --- message boxes --------------------------------------------------------
  // Shows a modal box and returns when the user dismisses it. Meanwhile the
  // box's own loop goes on dispatching timer ticks, device notices and clicks.
  virtual void ShowMessageBox(const MessageBoxRequest& box) = 0;

  // --- clock ----------------------------------------------------------------
  virtual LocalTime Now() = 0;

  // --- processes ------------------------------------------------------------
  // Starts a command line as a new process with no visible window and returns
  // without waiting for it. false when it could not be started.
  virtual bool StartHiddenCommand(const std::string& commandLine) = 0;
  // This process's id: no other process running now has it. A backup names
  // its part file with it, so that backups made at once by several processes
  // never write into one file.
  virtual std::uint32_t ProcessId() = 0;

  // --- environment ----------------------------------------------------------
  // The value of an environment variable of the process; nothing when unset.
  virtual std::optional<std::string> EnvironmentVariable(const std::string& name) = 0;

  // --- single instance ------------------------------------------------------
  // Full path of the running program file, as UTF-16 code units, whole.
  virtual std::u16string ProgramPath() = 0;
  // Creates the named semaphore or opens the existing one of that name (which
  // keeps its count). Null when that fails.
  virtual std::unique_ptr<NamedSemaphore> CreateNamedSemaphore(const std::u16string& name,
                                                               std::int32_t initialCount,
                                                               std::int32_t maximumCount) = 0;

  // --- files ----------------------------------------------------------------
  // The user's Documents folder, created if missing; nothing when unknown.
  virtual std::optional<std::filesystem::path> DocumentsFolder() = 0;
  // Creates one directory level. 0 on success, else the platform's error code
  // (kErrorAlreadyExists when it is there already).
  virtual std::uint32_t MakeDirectory(const std::filesystem::path& path) = 0;
  // Creates or truncates a file for writing; null when it cannot be opened.
  virtual std::unique_ptr<OutputFile> CreateOutputFile(const std::filesystem::path& path) = 0;
  // Moves `from` to `to`, durably, unless a file named `to` exists: that one is
  // never replaced. The check and the move are one step.
  virtual MoveOutcome MoveFileNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // Deletes a file; false when it could not be removed.
  virtual bool RemoveFile(const std::filesystem::path& path) = 0;
  // What went wrong in the last file call of this thread that failed (the
  // calls above and an OutputFile's), naming the path, in the platform's
  // words: "/home/u/Documents: Read-only file system". Empty when the
  // platform gave no reason. A caller asks right after the failed call.
  virtual std::string LastFileError() = 0;
};

// The Windows error code for "already exists", which every adapter reports for
// a directory that is present.
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

}  // namespace lu14
