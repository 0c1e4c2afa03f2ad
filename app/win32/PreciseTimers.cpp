#include "app/win32/PreciseTimers.h"

#include <algorithm>

namespace lu14::win32 {
namespace {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

// Waits shorter than this are spun: a waitable timer may wake up to a
// fraction of a millisecond late.
constexpr LONGLONG kSpinMicroseconds = 500;

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
  timers_[id] = Timer{ticks, Now() + ticks};
  Arm();
}

void PreciseTimers::Stop(TimerId id) {
  timers_.erase(id);
  Arm();
}

void PreciseTimers::Arm() {
  if (!waitable_) return;
  if (timers_.empty()) {
    CancelWaitableTimer(waitable_.get());
    return;
  }
  const auto earliest = std::min_element(timers_.begin(), timers_.end(),
                                         [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
  SetRelative(waitable_.get(), earliest->second.due - Now(), Frequency());
}

std::optional<TimerId> PreciseTimers::TakeDue() {
  const LONGLONG now = Now();
  const auto due = std::min_element(timers_.begin(), timers_.end(),
                                    [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
  if (due == timers_.end()) return std::nullopt;
  // Nearly due: spin the last stretch rather than wake the loop again late.
  const LONGLONG spin = kSpinMicroseconds * Frequency() / 1'000'000;
  if (due->second.due - now > spin) {
    Arm();
    return std::nullopt;
  }
  while (Now() < due->second.due) {
  }
  due->second.due = Now() + due->second.interval;
  Arm();
  return due->first;
}

void PreciseTimers::PreciseSleep(std::chrono::microseconds duration) {
  const LONGLONG deadline = Now() + duration.count() * Frequency() / 1'000'000;
  const LONGLONG spin = kSpinMicroseconds * Frequency() / 1'000'000;
  static UniqueHandle sleeper(MakeWaitableTimer());
  if (sleeper && deadline - Now() > spin) {
    SetRelative(sleeper.get(), deadline - Now() - spin, Frequency());
    WaitForSingleObject(sleeper.get(), INFINITE);
  }
  while (Now() < deadline) {
  }
}

}  // namespace lu14::win32
