// The waits the benchmark's floor allows between recorded transfers, the
// update and poll ticks it finds in a recording, and the recordings it takes.
#include "bench/win32/TransferRecording.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace lu14::bench {
namespace {

using std::chrono::milliseconds;

RecordedTransfer Set(std::uint8_t command, std::uint16_t parameter = 0, std::uint8_t value = 0) {
  RecordedTransfer transfer;
  transfer.set = true;
  transfer.result = true;
  transfer.bytes.assign(19, 0);
  transfer.bytes[1] = static_cast<std::uint8_t>(parameter >> 8);
  transfer.bytes[2] = static_cast<std::uint8_t>(parameter & 0xFF);
  transfer.bytes[3] = value;
  transfer.bytes[18] = command;
  return transfer;
}

RecordedTransfer Get(std::uint8_t status = 0) {
  RecordedTransfer transfer;
  transfer.result = true;
  transfer.bytes.assign(19, 0);
  transfer.bytes[18] = status;
  return transfer;
}

// The shape of an update, shortened: a backup read, the start mark, two chunk
// ticks and one with a commit, the version text, the checksum, the
// complete mark; then a poll's read.
const std::vector<RecordedTransfer> kUpdate = {
    Set(21, 0), Get(), Get(),  // 0-2 backup read
    Set(20, 1023, 0x88), Get(),  // 3-4 start mark
    Set(23), Get(),              // 5-6 first chunk tick
    Set(23), Get(),              // 7-8
    Set(22), Get(),              // 9-10 the page's commit, same tick
    Set(23), Get(),              // 11-12
    Set(20, 832), Get(),         // 13-14 finishing step
    Set(20, 833), Get(),         // 15-16
    Set(25), Get(),              // 17-18 checksum
    Set(20, 1023, 1), Get(),     // 19-20 complete mark
    Set(21, 1023), Get(), Get(),  // 21-23 a poll tick after it
};

TEST(TransferRecording, WaitsBeforeEachTransferAreThoseThePauseAndTimerRulesMandate) {
  struct Case {
    std::size_t transfer;
    milliseconds wait;
    bool timerTick;
  };
  const Case cases[] = {
      {0, milliseconds(0), false},   {1, milliseconds(0), false},  // nothing inside a transaction
      {3, milliseconds(0), false},                                  // reads need no pause
      {5, milliseconds(5), false},   // after an EEPROM write; the first chunk tick is due already
      {7, milliseconds(2), true},    // Timer2's period
      {9, milliseconds(0), false},   // the commit follows its chunk in the same tick
      {11, milliseconds(12), true},  // the commit's pause, then Timer2's period
      {13, milliseconds(3), true},   // the last Timer2 tick, then Timer3's
      {15, milliseconds(25), false}, {17, milliseconds(25), false},  // a version byte: write pause and its own
      {19, milliseconds(10), false},  // after the checksum request
      {21, milliseconds(5), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MandatedWaitBefore(kUpdate, c.transfer), c.wait) << "transfer " << c.transfer;
    EXPECT_EQ(StartsTimerTick(kUpdate, c.transfer), c.timerTick) << "transfer " << c.transfer;
  }
}

TEST(TransferRecording, TheUpdateEndsWithTheCompleteMarksLastRead) {
  Recording recording;
  recording.transfers = kUpdate;
  const auto update = FindUpdate(recording);
  ASSERT_TRUE(update);
  EXPECT_EQ(update->first, 0u);
  EXPECT_EQ(update->last, 20u);
  recording.transfers.resize(19);  // cut before the complete mark
  EXPECT_FALSE(FindUpdate(recording));
}

TEST(TransferRecording, PollTicksAreSplitWhereTheBusWasQuiet) {
  Recording recording;
  recording.header.counterFrequency = 1000;  // one count a millisecond
  const std::int64_t starts[] = {0, 3, 6, 1000, 1003, 2000};
  for (const std::int64_t start : starts) {
    RecordedTransfer transfer = Get();
    transfer.counter = record::CounterSpan{start, start + 1};
    recording.transfers.push_back(transfer);
  }
  const auto ticks = FindPollTicks(recording);
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_EQ(ticks[0].last, 2u);
  EXPECT_EQ(ticks[1].first, 3u);
  EXPECT_EQ(ticks[1].last, 4u);
  EXPECT_EQ(SpanMs(recording, ticks[1]), 4.0);
  EXPECT_EQ(GapMs(recording, 3), 993.0);
  EXPECT_EQ(TransferMs(recording, 3), 1.0);
}

TEST(TransferRecording, OnlyARunWithoutFailuresOrBusyRepliesIsClean) {
  std::string error;
  EXPECT_TRUE(IsCleanRun(kUpdate, error));
  auto busy = kUpdate;
  busy[4] = Get(1);
  EXPECT_FALSE(IsCleanRun(busy, error));
  EXPECT_EQ(error, "transfer 4 read busy");
  auto failed = kUpdate;
  failed[5].result = false;
  EXPECT_FALSE(IsCleanRun(failed, error));
  EXPECT_EQ(error, "transfer 5 failed");
}

// A recording as the stand-in writes it (the lines of hid/record, its
// transfers with their counter readings) is taken; one that lacks what the
// spans are read from, or a whole report, is refused, naming the file.
TEST(TransferRecording, OnlyARecordingWithTheCountersAndWholeReportsIsTaken) {
  record::RecordingHeader header{"1.1.0", "lu14-updater.exe", "stand-in", 10'000'000};
  RecordedTransfer set = Set(21);
  set.counter = record::CounterSpan{100, 12'100};
  RecordedTransfer get = Get();
  get.counter = record::CounterSpan{12'300, 24'300};
  const auto lines = [&](const record::RecordingHeader& h, const RecordedTransfer& second) {
    return record::HeaderLine(h) + "\n" + record::TransferLine(1, set) + "\n" + record::TransferLine(2, second) + "\n";
  };
  record::RecordingHeader withoutFrequency = header;
  withoutFrequency.counterFrequency.reset();
  RecordedTransfer withoutCounter = get;
  withoutCounter.counter.reset();
  RecordedTransfer shortReport = get;
  shortReport.bytes.resize(8);
  struct Case {
    const char* what;
    std::string text;
    std::string error;  // empty: taken
  };
  const Case cases[] = {
      {"as the stand-in writes it", lines(header, get), ""},
      {"lu14's own, without counters", lines(withoutFrequency, withoutCounter), "no counterFrequency"},
      {"a transfer without its readings", lines(header, withoutCounter), "transfer 2 has not its counter readings"},
      {"a short report", lines(header, shortReport), "transfer 2 has not a 19-byte report"},
      {"no recording at all", "S 1 100 12100 00\n", "line 1: not a JSON line"},
  };
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "lu14-transfer-recording-test.jsonl";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(file, std::ios::binary) << c.text;
    std::string error;
    const std::optional<Recording> recording = ReadTimedRecording(file, error);
    if (c.error.empty()) {
      ASSERT_TRUE(recording) << error;
      EXPECT_EQ(recording->transfers.size(), 2u);
      EXPECT_DOUBLE_EQ(GapMs(*recording, 1), 0.02);
      EXPECT_DOUBLE_EQ(TransferMs(*recording, 0), 1.2);
    } else {
      EXPECT_FALSE(recording);
      EXPECT_NE(error.find(file.string()), std::string::npos) << error;
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
  std::filesystem::remove(file);
}

}  // namespace
}  // namespace lu14::bench
