// End to end: a second meter plugged in while the real lu14-updater.exe
// updates the first. The update stays with the meter it started on and
// completes there; the newcomer receives none of its chunks, commits, EEPROM
// writes or checksum request.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/EndToEndSupport.h"

namespace lu14::e2e {
namespace {

using namespace std::chrono_literals;

// A backup at 1 ms a transfer and a whole stream, on a loaded machine.
constexpr std::chrono::milliseconds kUpdateTimeout = 240s;

// The commands that write to a meter or check its image, with how many of
// each the meter received.
std::map<int, std::size_t> UpdateCommandsReceived(const MeterDump& meter) {
  std::map<int, std::size_t> received;
  for (const int code : {kWriteEeprom, kCommitPage, kWriteChunk, kReadChecksum}) {
    if (meter.Received(code) != 0) received[code] = meter.Received(code);
  }
  return received;
}

// When meter 2 is plugged in.
struct Arrival {
  const char* name;
  std::vector<std::string> start;                   // bus commands at start, besides "plug 1"
  std::function<bool(const WindowDriver&)> moment;  // the window shows the update there
  std::vector<std::string> afterPlug;               // sent once meter 2 is in
  bool streaming;                                   // meter 1 has taken pages by then
};

void PrintTo(const Arrival& arrival, std::ostream* os) { *os << arrival.name; }

class SecondMeterDuringAnUpdate : public testing::TestWithParam<Arrival> {};

TEST_P(SecondMeterDuringAnUpdate, ReceivesNoneOfItAndTheFirstMeterCompletes) {
  const Arrival& arrival = GetParam();
  std::vector<std::string> start{"plug 1"};
  start.insert(start.end(), arrival.start.begin(), arrival.start.end());
  const ProgramWithMeters program(L"second-meter-" + win32::Wide(arrival.name), start);
  ASSERT_TRUE(program.Started());
  const WindowDriver& window = program.Window();
  const MeterControl& meters = program.Meters();
  ASSERT_TRUE(program.WaitForPoll(L"D1.50")) << Describe(window);

  window.Click(ControlId::B1);
  ASSERT_TRUE(Eventually([&] { return arrival.moment(window); }, kUpdateTimeout)) << Describe(window);
  ASSERT_TRUE(meters.Send("plug 2"));
  const std::optional<MeterDump> atArrival = meters.Dump(1);
  ASSERT_TRUE(atArrival);
  if (arrival.streaming) {
    ASSERT_GE(atArrival->commits.size(), 10u);
    ASSERT_LT(atArrival->Received(kWriteChunk), kChunks);
  } else {
    ASSERT_EQ(atArrival->Received(kWriteChunk), 0u);
  }
  for (const std::string& command : arrival.afterPlug) ASSERT_TRUE(meters.Send(command)) << command;

  // The end of the update, one way or the other: the success line, or the
  // poll running again (which enables B1).
  ASSERT_TRUE(Eventually([&] { return LogHas(window, kUpdateDone) || window.Enabled(ControlId::B1); },
                         kUpdateTimeout))
      << Describe(window);
  ASSERT_TRUE(Eventually([&] { return window.Enabled(ControlId::B1); })) << Describe(window);

  // Which meter the window shows now is left open; only what each one got counts.
  const std::optional<MeterDump> second = meters.Dump(2);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->present);
  EXPECT_EQ(UpdateCommandsReceived(*second), (std::map<int, std::size_t>{}));
  const std::optional<MeterDump> first = meters.Dump(1);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->flash == StreamedImage()) << "meter 1's flash differs from the carried image";
  EXPECT_EQ(first->flag, kFlagComplete);
  EXPECT_EQ(first->Received(kWriteChunk), kChunks);
  EXPECT_TRUE(LogHas(window, kUpdateDone)) << Describe(window);

  window.Close();
  EXPECT_EQ(program.Copy().WaitForExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, SecondMeterDuringAnUpdate,
    testing::Values(
        Arrival{"DuringTheStream",
                {"latency 50"},
                [](const WindowDriver& window) { return StreamingPast(window, 10); },
                {},
                true},
        // 1 ms a transfer: the backup's 2048 reads take seconds, and meter 2
        // comes in the middle of them; the stream then runs at full speed.
        Arrival{"DuringTheSettingsBackup",
                {"latency 1000"},
                [](const WindowDriver& window) {
                  return window.ProgressMax() != kPages && window.Progress() >= 16 && window.Label() != kUpdating;
                },
                {"latency 50"},
                false}),
    [](const testing::TestParamInfo<Arrival>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace lu14::e2e
