// A wall-clock runtime over the standard library: a message loop with timers
// and posted messages, precise pauses, the local clock and the file system.
// It serves the console front end and the benchmarks.
//
// Timers (and tasks posted for later) follow the same rules as the window's: a tick only while on, the
// first one a full interval after switching on, never more than one waiting,
// and posted messages before due ticks. Pauses and waits end on time to a
// few microseconds (see PosixWait.cpp and WindowsWait.cpp). The time a
// blocking call takes (Spend: a simulated meter's transfer) is owed rather
// than slept at once, and waited out with the loop's next wait or pause, or
// once it adds up to 10 ms: the same wall time in a quarter of the waits,
// each of which costs processor time to wake from.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "ports/EventLoop.h"
#include "ports/Shell.h"

namespace lu14 {

class RealTimeRuntime : public Shell, public EventLoop {
 public:
  using Clock = std::chrono::steady_clock;

  // documents: the folder that stands for the user's Documents; nothing when
  // the user has none.
  // boxes: where the text of a message box goes (nobody answers it: it is
  // dismissed at once).
  RealTimeRuntime(std::optional<std::filesystem::path> documents, std::ostream& boxes);

  // --- Shell ---
  void SetEventSink(EventSink* sink) override { sink_ = sink; }
  bool StartTimer(TimerId id, Milliseconds interval) override;
  void StopTimer(TimerId id) override { timers_.erase(id); }
  void Sleep(Milliseconds duration) override;
  void ShowMessageBox(const MessageBoxRequest& box) override;
  LocalTime Now() override;
  std::optional<std::string> EnvironmentVariable(const std::string& name) override;
  bool StartHiddenCommand(const std::string& commandLine) override;
  std::uint32_t ProcessId() override;  // PosixFiles.cpp, WindowsFiles.cpp
  std::u16string ProgramPath() override { return u"lu14"; }
  std::unique_ptr<NamedSemaphore> CreateNamedSemaphore(const std::u16string& name, std::int32_t initialCount,
                                                       std::int32_t maximumCount) override;
  std::optional<std::filesystem::path> DocumentsFolder() override;
  std::uint32_t MakeDirectory(const std::filesystem::path& path) override;
  std::unique_ptr<OutputFile> CreateOutputFile(const std::filesystem::path& path) override;
  MoveOutcome MoveFileNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) override;
  bool RemoveFile(const std::filesystem::path& path) override;
  std::string LastFileError() override { return lastFileError_; }

  // --- EventLoop ---
  void Post(std::function<void()> message) override { posted_.push_back(std::move(message)); }
  void PostAfter(std::chrono::microseconds delay, std::function<void()> task) override {
    delayed_.emplace(Present() + delay, std::move(task));
  }
  void Spend(std::chrono::microseconds duration) override;

  bool RunUntil(const std::function<bool()>& condition, std::chrono::microseconds limit) override;


  // Time asked for in pauses (Sleep) since the runtime was made.
  Clock::duration Paused() const { return paused_; }

 private:
  struct Timer {
    Clock::duration interval;
    Clock::time_point due;
  };
  // Returns at `deadline`, to a few microseconds (PosixWait.cpp, WindowsWait.cpp).
  static void WaitUntil(Clock::time_point deadline);
  // Waits out the time Spend owes.
  void PayOwedTime();
  // The time a delay counts from: the end of the owed time, when it lies ahead.
  Clock::time_point Present() const { return std::max(Clock::now(), busyUntil_); }
  // The platform's file calls (PosixFiles.cpp, WindowsFiles.cpp): a file
  // opened for writing, null when it cannot be; the move of MoveFileNoReplace.
  static std::unique_ptr<OutputFile> OpenOutputFile(const std::filesystem::path& path);
  static MoveOutcome MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
  // The platform's words for why its last call of this thread failed
  // (errno, GetLastError), read right after the call.
  static std::string PlatformErrorText();
  // Keeps what went wrong with `path` for LastFileError.
  void NoteFileError(const std::filesystem::path& path, const std::string& reason);

  std::optional<std::filesystem::path> documents_;
  std::ostream& boxes_;
  EventSink* sink_ = nullptr;
  std::map<TimerId, Timer> timers_;
  std::deque<std::function<void()>> posted_;
  std::multimap<Clock::time_point, std::function<void()>> delayed_;
  Clock::duration paused_{};
  // Where the time owed by Spend ends: waits end there at the earliest.
  Clock::time_point busyUntil_{};
  // One runtime serves one thread (lu14 update --all makes one per meter).
  std::string lastFileError_;
};

}  // namespace lu14
