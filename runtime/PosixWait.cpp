// RealTimeRuntime: waiting on POSIX systems. The thread sleeps on the
// monotonic clock to an absolute time, with its timer slack lowered on Linux
// (the default lets a wake-up come 50 us late, on each of an update's
// eighteen thousand waits). The kernel still wakes a sleeper some tens of
// microseconds late, steadily on a given machine: so the thread asks to be
// woken that much early, by what it has measured of late, and spins only the
// few microseconds that are left. Spinning the last 200 us of every wait, as
// before, cost 1.4 to 2.5 s of processor time per update.
#include <time.h>

#include <algorithm>
#include <cerrno>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include "runtime/RealTimeRuntime.h"

namespace lu14 {
namespace {

using std::chrono::nanoseconds;

// The estimate of how late a wake-up comes. It tracks a low quantile of the
// measured lateness (about the 30th percentile): most wake-ups then come a
// little before the deadline and spin a few microseconds, a few come a little
// after it, and one wake-up delayed by the machine's load moves the estimate
// by a step only.
class WakeLateness {
 public:
  nanoseconds Estimate() const { return estimate_; }
  void Measured(nanoseconds late) {
    if (late > estimate_) {
      estimate_ += kStep * 3 / 10;
    } else {
      estimate_ -= kStep * 7 / 10;
    }
    estimate_ = std::clamp(estimate_, nanoseconds(0), kLongest);
  }

 private:
  static constexpr nanoseconds kStep{2'000};
  // Never earlier than this before the deadline: the old fixed spin.
  static constexpr nanoseconds kLongest{200'000};
  nanoseconds estimate_{50'000};
};

timespec MonotonicTime(RealTimeRuntime::Clock::time_point at) {
  // steady_clock is CLOCK_MONOTONIC on the systems this builds for.
  const auto since = std::chrono::duration_cast<nanoseconds>(at.time_since_epoch()).count();
  return {static_cast<time_t>(since / 1'000'000'000), static_cast<long>(since % 1'000'000'000)};
}

struct ThreadWaits {
  ThreadWaits() {
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
  }
  WakeLateness lateness;
};

}  // namespace

void RealTimeRuntime::WaitUntil(Clock::time_point deadline) {
  // Each thread (update --all runs one per meter) has its own slack and its own measure.
  thread_local ThreadWaits waits;
  const Clock::time_point wake = deadline - waits.lateness.Estimate();
  if (Clock::now() < wake) {
    const timespec at = MonotonicTime(wake);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
    waits.lateness.Measured(Clock::now() - wake);
  }
  while (Clock::now() < deadline) {
  }
}

}  // namespace lu14
