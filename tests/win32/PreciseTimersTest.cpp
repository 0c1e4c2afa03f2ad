// Precise timers as the main loop uses them: wait on the handle, take what is due.
#include "os/win32/PreciseTimers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace lu14::win32 {
namespace {

using namespace std::chrono_literals;

// Waits on the timers' handle as the main loop does (which waits without a
// time-out), collecting due ticks; stops at a wait that the handle never
// ends, as the loop would hang there.
std::vector<TimerId> Collect(PreciseTimers& timers, std::size_t count) {
  std::vector<TimerId> ticks;
  for (int wakeups = 0; ticks.size() < count && wakeups < 100000; ++wakeups) {
    if (const auto due = timers.TakeDue()) {
      ticks.push_back(*due);
      continue;
    }
    if (WaitForSingleObject(timers.WaitHandle(), 10'000) != WAIT_OBJECT_0) break;
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

// Stopping leaves the handle set for the stopped timer; that wake-up must
// hand out nothing and set the handle again for the timers still running.
TEST(PreciseTimers, AStoppedTimersWakeUpLeavesTheOthersTicking) {
  PreciseTimers timers;
  timers.Start(2, 2ms);
  timers.Start(3, 40ms);
  timers.Stop(2);
  EXPECT_EQ(Collect(timers, 2), (std::vector<TimerId>{3, 3}));
  timers.Stop(3);
  timers.Start(2, 2ms);  // restarted after a stop: a fresh full interval
  EXPECT_EQ(Collect(timers, 3), (std::vector<TimerId>(3, 2)));
}

// However long a handler ran, one tick waits, and the next comes a full
// interval after it was taken: measured from before the first was taken, so
// that a loaded machine cannot make it look early.
TEST(PreciseTimers, ALongPauseLeavesOneWaitingTick) {
  PreciseTimers timers;
  timers.Start(7, 10ms);
  PreciseTimers::PreciseSleep(200ms);  // a handler that outlasts twenty periods
  const auto taking = std::chrono::steady_clock::now();
  EXPECT_EQ(timers.TakeDue(), 7);
  std::optional<TimerId> next;
  while (!next && std::chrono::steady_clock::now() - taking < 10s) next = timers.TakeDue();
  EXPECT_EQ(next, 7);
  EXPECT_GE(std::chrono::steady_clock::now() - taking, 10ms);
}

// The console tool's meters wait on threads of their own, all at once: every
// thread's pause ends, none is left waiting for a wake-up another took.
TEST(PreciseTimers, PausesOnSeveralThreadsAtOnceAllEnd) {
  constexpr int kThreads = 4;
  constexpr int kPauses = 200;
  // Shared with the threads, which are left behind (detached) if one hangs.
  auto finished = std::make_shared<std::atomic<int>>(0);
  for (int thread = 0; thread < kThreads; ++thread) {
    std::thread([finished, thread] {
      for (int pause = 0; pause < kPauses; ++pause) {
        PreciseTimers::PreciseSleep(std::chrono::microseconds(1000 + 700 * ((pause + thread) % 3)));
      }
      ++*finished;
    }).detach();
  }
  const auto start = std::chrono::steady_clock::now();
  while (*finished < kThreads && std::chrono::steady_clock::now() - start < 60s) Sleep(10);
  EXPECT_EQ(*finished, kThreads);
}

}  // namespace
}  // namespace lu14::win32
