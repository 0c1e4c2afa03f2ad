// Precise timers as the main loop uses them: wait on the handle, take what is due.
#include "app/win32/PreciseTimers.h"

#include <gtest/gtest.h>

#include <chrono>

namespace lu14::win32 {
namespace {

using namespace std::chrono_literals;

// Waits on the timers' handle as the main loop does, collecting due ticks.
std::vector<TimerId> Collect(PreciseTimers& timers, std::size_t count) {
  std::vector<TimerId> ticks;
  for (int wakeups = 0; ticks.size() < count && wakeups < 100000; ++wakeups) {
    if (const auto due = timers.TakeDue()) {
      ticks.push_back(*due);
      continue;
    }
    HANDLE handle = timers.WaitHandle();
    WaitForSingleObject(handle, 5000);
  }
  return ticks;
}

TEST(PreciseTimers, TicksComeOneAtATimeAndStopWhenStopped) {
  PreciseTimers timers;
  ASSERT_NE(timers.WaitHandle(), nullptr);
  timers.Start(2, 2ms);
  EXPECT_EQ(Collect(timers, 5), (std::vector<TimerId>(5, 2)));
  timers.Stop(2);
  EXPECT_FALSE(timers.TakeDue());
  PreciseTimers::PreciseSleep(5ms);
  EXPECT_FALSE(timers.TakeDue());  // nothing piled up while stopped
}

TEST(PreciseTimers, ALongPauseLeavesOneWaitingTick) {
  PreciseTimers timers;
  timers.Start(7, 1ms);
  PreciseTimers::PreciseSleep(20ms);  // a handler that outlasts twenty periods
  EXPECT_EQ(timers.TakeDue(), 7);
  EXPECT_FALSE(timers.TakeDue());
}

}  // namespace
}  // namespace lu14::win32
