#include "os/win32/PreciseTimers.h"

#include <algorithm>

namespace lu14::win32 {
namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// Waits shorter than this are spun. A waitable timer wakes late: Wine rounds
// its time-outs up to whole milliseconds and wakes a quarter to three
// quarters of a millisecond after that, so a wait set for half a millisecond
// less overshot the 2 ms chunk period by a third of a millisecond at the
// median. A whole millisecond of margin wakes before the due time nearly
// always, and the spin it costs runs only while a precise timer or a pause
// is under way, never while the program sits idle. A timer spins at most half
// its interval, so that the tick after one just taken is never waited for.
constexpr LONGLONG kSpinMicroseconds = 1000;

HANDLE MakeWaitableTimer() {
  // High resolution where the system offers it (Windows 10 1803 and later);
  // an ordinary waitable timer otherwise.
  HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  if (!timer) timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  return timer;
}

// Sets a waitable timer to fire after `ticks` of the performance counter.
void SetRelative(HANDLE timer, LONGLONG ticks, LONGLONG frequency) {
  LARGE_INTEGER dueTime;
  // Relative times are negative, in 100 ns units.
  dueTime.QuadPart = -std::max<LONGLONG>(1, ticks * 10'000'000 / frequency);
  SetWaitableTimer(timer, &dueTime, 0, nullptr, nullptr, FALSE);
}

}  // namespace

PreciseTimers::PreciseTimers() : waitable_(MakeWaitableTimer()) {}

LONGLONG PreciseTimers::Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

LONGLONG PreciseTimers::Frequency() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  return frequency;
}

void PreciseTimers::Start(TimerId id, Milliseconds interval) {
  const LONGLONG ticks = interval.count() * Frequency() / 1000;
  timers_[id] = Timer{ticks, Now() + ticks, std::min(SpinTicks(), ticks / 2)};
  Arm();
}

// The waitable timer stays as it is: should it fire for a stopped timer, the
// loop finds nothing due and arms it anew. A chunk tick stops and restarts
// Timer2 every time, and each change of the waitable timer is a call into
// the system (under Wine, a round trip to its server).
void PreciseTimers::Stop(TimerId id) { timers_.erase(id); }

void PreciseTimers::Arm() {
  if (!waitable_) return;
  if (timers_.empty()) {
    if (armedFor_) CancelWaitableTimer(waitable_.get());
    armedFor_.reset();
    return;
  }
  LONGLONG wakeAt = timers_.begin()->second.due - timers_.begin()->second.spin;
  for (const auto& [id, timer] : timers_) wakeAt = std::min(wakeAt, timer.due - timer.spin);
  if (armedFor_ == wakeAt) return;
  armedFor_ = wakeAt;
  SetRelative(waitable_.get(), wakeAt - Now(), Frequency());
}

LONGLONG PreciseTimers::SpinTicks() { return kSpinMicroseconds * Frequency() / 1'000'000; }

std::optional<TimerId> PreciseTimers::TakeDue() {
  const LONGLONG now = Now();
  const auto due = std::min_element(timers_.begin(), timers_.end(),
                                    [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
  if (due == timers_.end()) {
    Arm();
    return std::nullopt;
  }
  // Nearly due: spin the last stretch rather than wake the loop again late.
  if (due->second.due - now > due->second.spin) {
    // Past the time it was set for, the waitable timer has fired (for a timer
    // since stopped or restarted) and must be set again; before it, it is
    // still pending and the loop was woken by a message.
    if (armedFor_ && now >= *armedFor_) armedFor_.reset();
    Arm();
    return std::nullopt;
  }
  while (Now() < due->second.due) {
  }
  // A message that came in meanwhile goes first, as it would before WM_TIMER;
  // the tick stays due, and the waitable timer (spent by the wait) is set to
  // fire at once, so that the loop's next wait returns for it.
  if (HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0) {
    armedFor_.reset();
    Arm();
    return std::nullopt;
  }
  due->second.due = Now() + due->second.interval;
  Arm();
  return due->first;
}

void PreciseTimers::PreciseSleep(std::chrono::microseconds duration) {
  const LONGLONG deadline = Now() + duration.count() * Frequency() / 1'000'000;
  // A timer per thread: the console tool waits on several threads at once
  // (update --all), and a timer that one thread set anew for its own wait
  // would release only one of two waiters, leaving the other for ever.
  thread_local UniqueHandle sleeper(MakeWaitableTimer());
  if (sleeper && deadline - Now() > SpinTicks()) {
    SetRelative(sleeper.get(), deadline - Now() - SpinTicks(), Frequency());
    WaitForSingleObject(sleeper.get(), INFINITE);
  }
  while (Now() < deadline) {
  }
}

}  // namespace lu14::win32
