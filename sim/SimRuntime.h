// The virtual-time runtime: a deterministic Shell for tests and the simulated
// meter. The clock moves only by pauses, by the meter's transfer latency (via
// Advance) and by waiting for the next due event, so a whole update runs in a
// fraction of a real second and tests can assert exact sequences and times.
//
// The loop keeps the platform's message order: posted messages and scripted
// input first, timer ticks only when nothing else is waiting. A message box is
// answered by a scripted user after a virtual delay; meanwhile its nested loop
// dispatches whatever falls due.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ports/EventLoop.h"
#include "ports/Shell.h"
#include "sim/SimFileSystem.h"
#include "sim/SimSemaphores.h"

namespace lu14::sim {

using SimTime = std::chrono::microseconds;

class SimRuntime : public Shell, public EventLoop {
 public:
  struct Setup {
    std::u16string programPath = u"C:\\Program Files\\LU14\\lu14-updater.exe";
    LocalTime startTime{2026, 12, 10, 9, 30, 0};
    // Shared with other simulated copies; the runtime makes its own when null.
    SimSemaphoreNamespace* semaphores = nullptr;
    SimFileSystem* files = nullptr;
    // The process environment the simulated program sees.
    std::map<std::string, std::string> environment;
    // The simulated program's process id; copies sharing a file system are
    // told apart by giving each its own.
    std::uint32_t processId = 4242;
  };

  SimRuntime();
  explicit SimRuntime(Setup setup);

  // --- Shell -----------------------------------------------------------------
  void SetEventSink(EventSink* sink) override { sink_ = sink; }
  bool StartTimer(TimerId id, Milliseconds interval) override;
  void StopTimer(TimerId id) override { timers_.erase(id); }
  void Sleep(Milliseconds duration) override { Advance(duration); }
  void ShowMessageBox(const MessageBoxRequest& box) override;
  LocalTime Now() override;
  std::optional<std::string> EnvironmentVariable(const std::string& name) override;
  bool StartHiddenCommand(const std::string& commandLine) override;
  std::uint32_t ProcessId() override { return setup_.processId; }
  std::u16string ProgramPath() override { return setup_.programPath; }
  std::unique_ptr<NamedSemaphore> CreateNamedSemaphore(const std::u16string& name, std::int32_t initialCount,
                                                       std::int32_t maximumCount) override;
  std::optional<std::filesystem::path> DocumentsFolder() override { return files_->DocumentsFolder(); }
  std::uint32_t MakeDirectory(const std::filesystem::path& path) override { return files_->MakeDirectory(path); }
  std::unique_ptr<OutputFile> CreateOutputFile(const std::filesystem::path& path) override {
    return files_->CreateOutputFile(path);
  }
  MoveOutcome MoveFileNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return files_->MoveFileNoReplace(from, to);
  }
  bool RemoveFile(const std::filesystem::path& path) override { return files_->RemoveFile(path); }
  std::string LastFileError() override { return SimFileSystem::LastError(); }

  // --- the clock and the loop -------------------------------------------------
  // Virtual time since the runtime was made.
  SimTime Elapsed() const { return now_; }
  // Moves the clock without dispatching anything (a blocking call).
  void Advance(SimTime duration) { now_ += duration; }
  void Spend(std::chrono::microseconds duration) override { Advance(duration); }
  // Each reading of the local clock takes this long (0 unless set), so that
  // two readings in a row can fall on either side of midnight.
  void SetClockReadDuration(SimTime duration) { clockReadDuration_ = duration; }
  // Queues a message, handled before any due timer tick.
  void Post(std::function<void()> message) override { posted_.push_back(std::move(message)); }
  // Runs a task at a virtual time from now, as a timer tick runs.
  void PostAfter(std::chrono::microseconds delay, std::function<void()> task) override {
    delayed_.emplace(now_ + delay, std::move(task));
  }
  // Scripts an event (user input, plug, unplug) at a virtual time.
  void At(SimTime when, std::function<void()> action);
  // Dispatches everything that falls due within `duration`, then stands at its end.
  void RunFor(SimTime duration);
  // Dispatches until `condition` holds (true) or `limit` has passed (false).
  bool RunUntil(const std::function<bool()>& condition, SimTime limit) override;

  // --- the scripted user ------------------------------------------------------
  struct ShownBox {
    MessageBoxRequest box;
    SimTime shownAt;
    SimTime dismissedAt;
  };
  // How long the user takes to dismiss a box (default 1 s).
  void SetBoxAnswerDelay(SimTime delay) { boxAnswerDelay_ = delay; }
  // Called when a box comes up, before its nested loop runs.
  void SetBoxHook(std::function<void(const MessageBoxRequest&)> hook) { boxHook_ = std::move(hook); }
  const std::vector<ShownBox>& Boxes() const { return boxes_; }
  // Boxes shown and not yet dismissed.
  int OpenBoxes() const { return openBoxes_; }

  // --- timers and processes -----------------------------------------------------
  bool TimerRunning(TimerId id) const { return timers_.contains(id); }
  // When the running timer's next tick is due.
  std::optional<SimTime> TimerDue(TimerId id) const;
  // The platform refuses timers from now on (or accepts them again).
  void RefuseTimers(bool refuse) { refuseTimers_ = refuse; }
  struct Tick {
    TimerId id;
    SimTime at;
  };
  const std::vector<Tick>& Ticks() const { return ticks_; }

  const std::vector<std::string>& StartedCommands() const { return startedCommands_; }
  void FailCommands(bool fail) { failCommands_ = fail; }

 private:
  struct Timer {
    SimTime interval;
    SimTime due;
  };
  struct Scripted {
    SimTime when;
    std::uint64_t order;
    std::function<void()> action;
  };

  // Handles the next message due by `deadline`; false when there is none.
  bool DispatchNext(SimTime deadline);

  Setup setup_;
  SimSemaphoreNamespace ownSemaphores_;
  SimFileSystem ownFiles_;
  SimSemaphoreNamespace* semaphores_;
  SimFileSystem* files_;

  EventSink* sink_ = nullptr;
  SimTime now_{0};
  SimTime clockReadDuration_{0};
  std::map<TimerId, Timer> timers_;
  std::deque<std::function<void()>> posted_;
  std::multimap<SimTime, std::function<void()>> delayed_;
  std::vector<Scripted> scripted_;
  std::uint64_t scriptedCount_ = 0;
  std::vector<Tick> ticks_;

  SimTime boxAnswerDelay_ = std::chrono::seconds(1);
  std::function<void(const MessageBoxRequest&)> boxHook_;
  std::vector<ShownBox> boxes_;
  int openBoxes_ = 0;

  bool refuseTimers_ = false;
  std::vector<std::string> startedCommands_;
  bool failCommands_ = false;
};

}  // namespace lu14::sim
