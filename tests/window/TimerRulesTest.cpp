// The timer rules the tool relies on, through TTimer and the virtual-time runtime.
#include "window/controls/TTimer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "window/ShellTexts.h"
#include "sim/SimRuntime.h"

namespace lu14 {
namespace {

using namespace std::chrono_literals;
using sim::SimRuntime;
using sim::SimTime;

// Routes the runtime's ticks to one timer, the way the form does.
struct OneTimer : EventSink {
  OneTimer(SimRuntime& runtime, Milliseconds interval, bool enabled) : timer(runtime, 7, interval, enabled) {
    runtime.SetEventSink(this);
  }
  void TimerTick(TimerId id) override {
    if (id == timer.Id()) timer.Tick();
  }
  TTimer timer;
};

std::vector<SimTime> TickTimes(const SimRuntime& runtime) {
  std::vector<SimTime> times;
  for (const auto& tick : runtime.Ticks()) times.push_back(tick.at);
  return times;
}

TEST(TimerRules, TicksOnlyWhileOnWithAnIntervalAndAHandler) {
  SimRuntime runtime;
  int ticks = 0;
  OneTimer withoutHandler(runtime, 100ms, true);
  runtime.RunFor(1s);
  EXPECT_FALSE(runtime.TimerRunning(7));

  withoutHandler.timer.SetOnTimer([&] { ++ticks; });
  runtime.RunFor(1s);
  EXPECT_EQ(ticks, 10);
  withoutHandler.timer.SetEnabled(false);
  runtime.RunFor(1s);
  EXPECT_EQ(ticks, 10);

  SimRuntime zeroRuntime;
  OneTimer zero(zeroRuntime, 0ms, true);
  zero.timer.SetOnTimer([&] { ++ticks; });
  zeroRuntime.RunFor(1s);
  EXPECT_EQ(ticks, 10);
}

TEST(TimerRules, SwitchingOnFromOffStartsAFullIntervalAndOnAgainChangesNothing) {
  SimRuntime runtime;
  OneTimer t(runtime, 1000ms, false);
  t.timer.SetOnTimer([] {});
  runtime.RunFor(300ms);
  t.timer.SetEnabled(true);  // at 300 ms: first tick at 1300 ms
  runtime.RunFor(600ms);
  t.timer.SetEnabled(true);  // at 900 ms: already on, interval not restarted
  t.timer.SetEnabled(false);
  t.timer.SetEnabled(false);  // off twice changes nothing
  t.timer.SetEnabled(true);   // at 900 ms again from off: first tick at 1900 ms
  runtime.RunFor(1100ms);
  EXPECT_EQ(TickTimes(runtime), (std::vector<SimTime>{1900ms}));

  SimRuntime other;
  OneTimer u(other, 1000ms, false);
  u.timer.SetOnTimer([] {});
  u.timer.SetEnabled(true);
  other.RunFor(500ms);
  u.timer.SetEnabled(true);  // no restart: the tick stays at 1000 ms
  other.RunFor(600ms);
  EXPECT_EQ(TickTimes(other), (std::vector<SimTime>{1000ms}));
}

TEST(TimerRules, TicksNeverPileUpBehindALongHandler) {
  SimRuntime runtime;
  int ticks = 0;
  OneTimer t(runtime, 2ms, true);
  t.timer.SetOnTimer([&] {
    if (++ticks == 1) runtime.Sleep(50ms);  // the first handler outlasts 25 intervals
  });
  runtime.RunFor(60ms);
  const auto times = TickTimes(runtime);
  ASSERT_GE(times.size(), 3u);
  EXPECT_EQ(times[0], 2ms);
  EXPECT_EQ(times[1], 52ms);  // one waiting tick right after the long handler
  EXPECT_EQ(times[2], 54ms);  // then the normal period again
}

TEST(TimerRules, ARefusedTimerFailsWithItsTextAndStaysOff) {
  SimRuntime runtime;
  OneTimer t(runtime, 10ms, false);
  t.timer.SetOnTimer([] {});
  runtime.RefuseTimers(true);
  try {
    t.timer.SetEnabled(true);
    FAIL() << "expected the refusal";
  } catch (const std::runtime_error& failure) {
    EXPECT_EQ(failure.what(), kNoTimersText);
  }
  EXPECT_FALSE(t.timer.Enabled());
  runtime.RefuseTimers(false);
  t.timer.SetEnabled(true);  // asking again succeeds once the platform has timers
  EXPECT_TRUE(runtime.TimerRunning(7));
}

}  // namespace
}  // namespace lu14
