#include "sim/SimRuntime.h"

#include <algorithm>

namespace lu14::sim {

SimRuntime::SimRuntime() : SimRuntime(Setup{}) {}

SimRuntime::SimRuntime(Setup setup)
    : setup_(std::move(setup)),
      semaphores_(setup_.semaphores ? setup_.semaphores : &ownSemaphores_),
      files_(setup_.files ? setup_.files : &ownFiles_) {}

bool SimRuntime::StartTimer(TimerId id, Milliseconds interval) {
  if (refuseTimers_) return false;
  timers_[id] = Timer{interval, now_ + interval};
  return true;
}

void SimRuntime::ShowMessageBox(const MessageBoxRequest& box) {
  const std::size_t index = boxes_.size();
  boxes_.push_back(ShownBox{box, now_, now_});
  ++openBoxes_;
  if (boxHook_) boxHook_(box);
  RunFor(boxAnswerDelay_);  // the box's own loop, until the user answers
  --openBoxes_;
  boxes_[index].dismissedAt = now_;
}

std::optional<std::string> SimRuntime::EnvironmentVariable(const std::string& name) {
  const auto found = setup_.environment.find(name);
  if (found == setup_.environment.end()) return std::nullopt;
  return found->second;
}

LocalTime SimRuntime::Now() {
  using namespace std::chrono;
  const LocalTime& s = setup_.startTime;
  const sys_seconds start = sys_days(year_month_day(year(s.year), month(static_cast<unsigned>(s.month)),
                                                    day(static_cast<unsigned>(s.day)))) +
                            hours(s.hour) + minutes(s.minute) + seconds(s.second);
  const sys_seconds now = start + duration_cast<seconds>(now_);
  const sys_days date = floor<days>(now);
  const year_month_day ymd(date);
  const hh_mm_ss<seconds> clock(now - date);
  now_ += clockReadDuration_;
  return LocalTime{static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                   static_cast<int>(static_cast<unsigned>(ymd.day())), static_cast<int>(clock.hours().count()),
                   static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count())};
}

bool SimRuntime::StartHiddenCommand(const std::string& commandLine) {
  if (failCommands_) return false;
  startedCommands_.push_back(commandLine);
  return true;
}

std::unique_ptr<NamedSemaphore> SimRuntime::CreateNamedSemaphore(const std::u16string& name,
                                                                 std::int32_t initialCount,
                                                                 std::int32_t maximumCount) {
  return semaphores_->Open(name, initialCount, maximumCount);
}

void SimRuntime::At(SimTime when, std::function<void()> action) {
  scripted_.push_back(Scripted{when, scriptedCount_++, std::move(action)});
}

std::optional<SimTime> SimRuntime::TimerDue(TimerId id) const {
  const auto found = timers_.find(id);
  if (found == timers_.end()) return std::nullopt;
  return found->second.due;
}

bool SimRuntime::DispatchNext(SimTime deadline) {
  if (!posted_.empty()) {
    auto message = std::move(posted_.front());
    posted_.pop_front();
    message();
    return true;
  }
  const auto nextScripted = std::min_element(scripted_.begin(), scripted_.end(), [](const auto& a, const auto& b) {
    return a.when != b.when ? a.when < b.when : a.order < b.order;
  });
  const auto nextTimer = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
    return a.second.due != b.second.due ? a.second.due < b.second.due : a.first < b.first;
  });
  // A task posted for later counts as a tick; a timer goes first at the same time.
  const bool timerFirst = nextTimer != timers_.end() &&
                          (delayed_.empty() || nextTimer->second.due <= delayed_.begin()->first);
  const std::optional<SimTime> tickDue = timerFirst           ? std::optional(nextTimer->second.due)
                                         : !delayed_.empty() ? std::optional(delayed_.begin()->first)
                                                             : std::nullopt;
  const bool haveScripted = nextScripted != scripted_.end() && nextScripted->when <= deadline;
  const bool haveTick = tickDue && *tickDue <= deadline;
  // Input that has arrived goes before a tick, however long the tick has been
  // due: the platform makes a timer message only when nothing else waits.
  const bool scriptedFirst = haveScripted && (!haveTick || nextScripted->when <= std::max(now_, *tickDue));
  if (scriptedFirst) {
    now_ = std::max(now_, nextScripted->when);
    auto action = std::move(nextScripted->action);
    scripted_.erase(nextScripted);
    action();
    return true;
  }
  if (!haveTick) return false;
  now_ = std::max(now_, *tickDue);
  if (!timerFirst) {
    auto task = std::move(delayed_.begin()->second);
    delayed_.erase(delayed_.begin());
    task();
    return true;
  }
  const TimerId id = nextTimer->first;
  // The next tick is one interval after this one is handled; a handler that
  // outlasts the interval finds at most one tick waiting.
  nextTimer->second.due = now_ + nextTimer->second.interval;
  ticks_.push_back(Tick{id, now_});
  if (sink_) sink_->TimerTick(id);
  return true;
}

void SimRuntime::RunFor(SimTime duration) {
  const SimTime deadline = now_ + duration;
  while (DispatchNext(deadline)) {
  }
  now_ = std::max(now_, deadline);
}

bool SimRuntime::RunUntil(const std::function<bool()>& condition, SimTime limit) {
  const SimTime deadline = now_ + limit;
  while (!condition()) {
    if (!DispatchNext(deadline)) {
      now_ = std::max(now_, deadline);
      return condition();
    }
  }
  return true;
}

}  // namespace lu14::sim
