// The wall-clock runtime's loop and file system, with no timing assertion
// but lower bounds (which load cannot break).
#include "runtime/RealTimeRuntime.h"

#include <gtest/gtest.h>

#include <sstream>

namespace lu14 {
namespace {

using namespace std::chrono_literals;

struct Recorder : EventSink {
  void TimerTick(TimerId id) override { events.push_back("tick " + std::to_string(id)); }
  std::vector<std::string> events;
};

std::filesystem::path TempFolder(const char* name) {
  const auto folder = std::filesystem::temp_directory_path() / (std::string("lu14-test-") + name);
  std::filesystem::remove_all(folder);
  return folder;
}

TEST(RealTimeRuntime, PostedMessagesGoFirstAndStoppedTimersStayQuiet) {
  std::ostringstream boxes;
  RealTimeRuntime runtime(TempFolder("loop"), boxes);
  Recorder recorder;
  runtime.SetEventSink(&recorder);
  runtime.StartTimer(1, 1ms);
  runtime.StartTimer(2, 1ms);
  runtime.StopTimer(2);
  runtime.Post([&] { recorder.events.push_back("posted"); });
  ASSERT_TRUE(runtime.RunUntil([&] { return recorder.events.size() >= 3; }, 10s));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"posted", "tick 1", "tick 1"}));
  runtime.ShowMessageBox({"Ошибка записи", "", false, false});
  EXPECT_EQ(boxes.str(), "Ошибка записи\n");
  runtime.Sleep(2ms);
  EXPECT_EQ(runtime.Paused(), 2ms);
}

TEST(RealTimeRuntime, TasksPostedForLaterComeAfterTheirDelayInTheirOrder) {
  std::ostringstream boxes;
  RealTimeRuntime runtime(TempFolder("later"), boxes);
  std::vector<std::string> events;
  const auto start = RealTimeRuntime::Clock::now();
  RealTimeRuntime::Clock::duration waited{};
  runtime.PostAfter(5ms, [&] {
    events.push_back("5 ms");
    waited = RealTimeRuntime::Clock::now() - start;
  });
  runtime.PostAfter(1ms, [&] { events.push_back("1 ms"); });
  runtime.Post([&] { events.push_back("posted"); });
  ASSERT_TRUE(runtime.RunUntil([&] { return events.size() == 3; }, 10s));
  EXPECT_EQ(events, (std::vector<std::string>{"posted", "1 ms", "5 ms"}));
  EXPECT_GE(waited, 5ms);  // never early; how late it may be is the benchmarks' business
}

// The time a blocking call takes (a simulated transfer's) is owed rather than
// slept at once, but nothing that counts from "now" starts before it ends: a
// task posted for later, a timer's first tick, the caller after RunUntil.
// Lower bounds only: a loaded machine makes things later, never sooner.
TEST(RealTimeRuntime, TimeSpentIsWaitedOutBeforeAnythingThatCountsFromIt) {
  using Clock = std::chrono::steady_clock;
  struct TickTime : EventSink {
    void TimerTick(TimerId) override {
      if (at == Clock::time_point{}) at = Clock::now();
    }
    Clock::time_point at{};
  };
  std::ostringstream boxes;
  RealTimeRuntime runtime(TempFolder("owed"), boxes);
  TickTime tick;
  runtime.SetEventSink(&tick);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < 6; ++i) runtime.Spend(1ms);  // less than is ever owed before it is paid
  Clock::time_point taskRan{};
  runtime.PostAfter(2ms, [&] { taskRan = Clock::now(); });
  runtime.StartTimer(1, 3ms);
  ASSERT_TRUE(runtime.RunUntil([&] { return taskRan != Clock::time_point{} && tick.at != Clock::time_point{}; }, 10s));
  EXPECT_GE(taskRan - start, 8ms);
  EXPECT_GE(tick.at - start, 9ms);

  const Clock::time_point spent = Clock::now();
  runtime.Spend(5ms);
  EXPECT_TRUE(runtime.RunUntil([] { return true; }, 1s));
  EXPECT_GE(Clock::now() - spent, 5ms);
}

TEST(RealTimeRuntime, FilesAreMadeMovedAndRemoved) {
  std::ostringstream boxes;
  const auto documents = TempFolder("files");
  RealTimeRuntime runtime(documents, boxes);
  ASSERT_EQ(runtime.DocumentsFolder(), documents);
  EXPECT_EQ(runtime.MakeDirectory(documents / "lu14"), 0u);
  EXPECT_EQ(runtime.MakeDirectory(documents / "lu14"), kErrorAlreadyExists);
  EXPECT_NE(runtime.MakeDirectory(documents / "a" / "b"), 0u);
  auto file = runtime.CreateOutputFile(documents / "lu14" / "x.part");
  ASSERT_TRUE(file);
  const std::uint8_t bytes[] = {'4', '2', '\r', '\n'};
  EXPECT_TRUE(file->Write(bytes));
  EXPECT_TRUE(file->FlushToDisk());
  EXPECT_TRUE(file->Close());
  EXPECT_EQ(runtime.MoveFileNoReplace(documents / "lu14" / "x.part", documents / "lu14" / "x.hex"), MoveOutcome::Moved);
  EXPECT_EQ(std::filesystem::file_size(documents / "lu14" / "x.hex"), 4u);
  // An existing file is never replaced, and the file to move stays.
  runtime.CreateOutputFile(documents / "lu14" / "y.part")->Close();
  EXPECT_EQ(runtime.MoveFileNoReplace(documents / "lu14" / "y.part", documents / "lu14" / "x.hex"),
            MoveOutcome::TargetExists);
  EXPECT_EQ(std::filesystem::file_size(documents / "lu14" / "x.hex"), 4u);
  EXPECT_TRUE(std::filesystem::exists(documents / "lu14" / "y.part"));
  EXPECT_EQ(runtime.MoveFileNoReplace(documents / "lu14" / "gone", documents / "lu14" / "z"), MoveOutcome::Failed);
  EXPECT_TRUE(runtime.RemoveFile(documents / "lu14" / "x.hex"));
  EXPECT_FALSE(runtime.CreateOutputFile(documents / "missing" / "x"));
  std::filesystem::remove_all(documents);
}

}  // namespace
}  // namespace lu14
