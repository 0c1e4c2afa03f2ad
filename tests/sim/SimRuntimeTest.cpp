#include "sim/SimRuntime.h"

#include <gtest/gtest.h>

namespace lu14::sim {
namespace {

using namespace std::chrono_literals;

struct RecordingSink : EventSink {
  void TimerTick(TimerId id) override { events.push_back("tick " + std::to_string(id)); }
  std::vector<std::string> events;
};

TEST(SimRuntime, PostedMessagesAndArrivedInputGoBeforeDueTicks) {
  SimRuntime runtime;
  RecordingSink sink;
  runtime.SetEventSink(&sink);
  runtime.StartTimer(1, 10ms);
  runtime.At(5ms, [&] {
    sink.events.push_back("input at 5");
    runtime.Sleep(20ms);  // busy past the tick and past the next input
  });
  runtime.At(12ms, [&] { sink.events.push_back("input at 12"); });
  runtime.At(30ms, [&] { runtime.Post([&] { sink.events.push_back("posted"); }); });
  runtime.RunFor(36ms);  // ticks at 25 (after the inputs) and 35
  EXPECT_EQ(sink.events, (std::vector<std::string>{"input at 5", "input at 12", "tick 1", "posted", "tick 1"}));
}

TEST(SimRuntime, TasksPostedForLaterRunAsTicksDo) {
  SimRuntime runtime;
  RecordingSink sink;
  runtime.SetEventSink(&sink);
  std::vector<SimTime> at;
  const auto task = [&](std::string name) {
    return [&, name] {
      sink.events.push_back(name);
      at.push_back(runtime.Elapsed());
    };
  };
  runtime.StartTimer(1, 10ms);
  runtime.PostAfter(10ms, task("later a"));  // due with the tick: the tick goes first
  runtime.PostAfter(10ms, task("later b"));  // same time: in the order given
  runtime.PostAfter(4ms, task("later c"));
  runtime.At(4ms, [&] { sink.events.push_back("input at 4"); });  // arrived input first
  runtime.Post(task("posted"));
  runtime.RunFor(15ms);
  EXPECT_EQ(sink.events,
            (std::vector<std::string>{"posted", "input at 4", "later c", "tick 1", "later a", "later b"}));
  EXPECT_EQ(at, (std::vector<SimTime>{0ms, 4ms, 10ms, 10ms}));
  // Nothing else is waiting: a wait for a task ends when it has run.
  bool ran = false;
  runtime.StopTimer(1);
  runtime.PostAfter(3ms, [&] { ran = true; });
  EXPECT_TRUE(runtime.RunUntil([&] { return ran; }, 1s));
  EXPECT_EQ(runtime.Elapsed(), 18ms);
}

TEST(SimRuntime, AMessageBoxRunsItsOwnLoopUntilTheUserAnswers) {
  SimRuntime runtime;
  RecordingSink sink;
  runtime.SetEventSink(&sink);
  runtime.SetBoxAnswerDelay(35ms);
  runtime.StartTimer(2, 10ms);
  int openDuringTick = 0;
  runtime.SetBoxHook([&](const MessageBoxRequest& box) { EXPECT_EQ(box.text, "Ошибка записи"); });
  runtime.At(1ms, [&] {
    runtime.ShowMessageBox({"Ошибка записи", "", false, false});
    openDuringTick = runtime.OpenBoxes();
  });
  runtime.RunFor(40ms);
  EXPECT_EQ(sink.events.size(), 4u);  // ticks at 10, 20, 30 inside the box, 40 after
  ASSERT_EQ(runtime.Boxes().size(), 1u);
  EXPECT_EQ(runtime.Boxes()[0].shownAt, 1ms);
  EXPECT_EQ(runtime.Boxes()[0].dismissedAt, 36ms);
  EXPECT_EQ(openDuringTick, 0);
}

TEST(SimRuntime, RunUntilStopsAtTheConditionOrTheLimit) {
  SimRuntime runtime;
  bool flag = false;
  runtime.At(300ms, [&] { flag = true; });
  EXPECT_FALSE(runtime.RunUntil([&] { return flag; }, 200ms));
  EXPECT_EQ(runtime.Elapsed(), 200ms);
  EXPECT_TRUE(runtime.RunUntil([&] { return flag; }, 200ms));
  EXPECT_EQ(runtime.Elapsed(), 300ms);
}

TEST(SimRuntime, LocalClockFollowsVirtualTimeAcrossMidnight) {
  SimRuntime::Setup setup;
  setup.startTime = {2026, 12, 31, 23, 59, 58};
  SimRuntime runtime(setup);
  runtime.Sleep(3s);
  const LocalTime now = runtime.Now();
  EXPECT_EQ(std::tie(now.year, now.month, now.day, now.hour, now.minute, now.second),
            std::make_tuple(2027, 1, 1, 0, 0, 1));
}

}  // namespace
}  // namespace lu14::sim
