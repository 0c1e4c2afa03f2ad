// Whole updates against the simulated meter: the clean road and every fault
// the tool must survive without losing the user's meter or settings.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "tests/update/UpdateRun.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;
using sim::CommandFault;
using sim::Commands;

const std::string kConnected = "Пинцет ЛУ-14 подключен";

struct UpdateFixture : ::testing::Test, UpdateRun {
  UpdateFixture() {
    Poll();
    meter->ClearTrace();
  }
};

// Records every position Pr1 takes, without repeats.
struct ProgressRecorder : FormView {
  explicit ProgressRecorder(TMForm& form) : form_(form) {}
  void CaptionChanged() override {}
  void ControlChanged(ControlId id) override {
    if (id == ControlId::Pr1 && (positions.empty() || positions.back() != form_.Pr1.Position())) {
      positions.push_back(form_.Pr1.Position());
    }
  }
  bool LineAppended(const std::string&) override { return true; }
  void LinesCleared() override {}
  std::vector<int> positions;

 private:
  TMForm& form_;
};

TEST_F(UpdateFixture, ACleanUpdateSendsTheImageAndMarksItComplete) {
  ProgressRecorder progress(form);
  form.AttachView(&progress);
  const std::size_t ticksBefore = runtime.Ticks().size();
  PressB1();
  EXPECT_EQ(form.Label1.Text(), "Обновление прошивки");
  RunUpdateToItsEnd();
  form.AttachView(nullptr);

  EXPECT_EQ(form.LB.Lines(), (std::vector<std::string>{kConnected, "Настройки прибора сохранены в",
                                                       "папку \"Мои документы/lu14\"", "Процесс завершен успешно !!"}));
  EXPECT_TRUE(MeterHoldsTheImage());
  EXPECT_EQ(meter->FirmwareFlag(), 1);
  EXPECT_EQ(meter->VersionText(), "D1.50");
  EXPECT_EQ(meter->Eeprom(kEepromAfterUpdate), 0);
  EXPECT_EQ(meter->Checksum(), kFirmwareChecksum);

  // The transactions of a clean update.
  EXPECT_EQ(CommandCount(cmdReadEeprom), 2048u);
  EXPECT_EQ(CommandCount(cmdWriteEeprom), 8u);
  EXPECT_EQ(CommandCount(cmdWriteChunk), 3760u);
  EXPECT_EQ(CommandCount(cmdCommitPage), 235u);
  EXPECT_EQ(CommandCount(cmdReadChecksum), 1u);
  EXPECT_EQ(meter->CommandCodes().size(), 6052u);
  const auto chunkTicks = std::count_if(runtime.Ticks().begin() + static_cast<std::ptrdiff_t>(ticksBefore),
                                        runtime.Ticks().end(), [](const auto& t) { return t.id == kTimer2Id; });
  EXPECT_EQ(chunkTicks, 3761);

  // The backup ran 0..127, the bar kept 127 through the first page, then the pages.
  std::vector<int> expected;
  for (int line = 0; line < 128; ++line) expected.push_back(std::min(line, 127));
  expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
  for (int page = 1; page <= 235; ++page) expected.push_back(page);
  EXPECT_EQ(progress.positions, expected);
  EXPECT_EQ(form.Pr1.Max(), 235);

  // Polling again: B1 and G6 come back with the next complete tick.
  EXPECT_TRUE(form.Timer1.Enabled());
  RunThroughTick(kTimer1Id);
  EXPECT_EQ(form.Label1.Text(), "Текущая версия прошивки D1.50");
  EXPECT_TRUE(form.B1.Enabled());
}

TEST_F(UpdateFixture, ChunksAndCommitsFollowTheProtocol) {
  PressB1();
  RunUpdateToItsEnd();
  const auto chunks = meter->Requests(cmdWriteChunk);
  const auto commits = meter->Requests(cmdCommitPage);
  ASSERT_EQ(chunks.size(), 3760u);
  ASSERT_EQ(commits.size(), 235u);
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    ASSERT_EQ(chunks[i][1], (i % 16) * 16) << i;
    for (std::size_t k = 0; k < 16; ++k) ASSERT_EQ(chunks[i][2 + k], ExpectedImage()[i * 16 + k]) << i;
  }
  for (std::size_t page = 0; page < commits.size(); ++page) {
    EXPECT_EQ(commits[page][1], page);
    EXPECT_EQ(commits[page][2], 14);
  }
  // Each commit comes straight after the sixteen chunks of its page.
  const auto codes = meter->CommandCodes();
  const auto firstChunk = std::find(codes.begin(), codes.end(), cmdWriteChunk) - codes.begin();
  for (std::size_t page = 0; page < 235; ++page) {
    const std::size_t at = static_cast<std::size_t>(firstChunk) + page * 17;
    for (std::size_t k = 0; k < 16; ++k) ASSERT_EQ(codes[at + k], cmdWriteChunk) << page;
    ASSERT_EQ(codes[at + 16], cmdCommitPage) << page;
  }
  EXPECT_EQ(meter->CommittedPages().back(), 234);
}

struct FaultCase {
  const char* name;
  std::function<void(UpdateRun&)> inject;
  std::vector<std::string> boxes;     // texts of the boxes shown, in order
  std::string lastLine;               // the log's last line at the end
  std::uint8_t flag;                  // FirmwareValidFlag afterwards
  bool chunksSent;                    // whether any chunk went out
  bool polling;                       // Timer1 runs again (else stalled: no timer)
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class UpdateFaults : public UpdateFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UpdateFaults, EndWithTheMeterMarkedIncompleteAndTheUserTold) {
  const FaultCase& c = GetParam();
  c.inject(*this);
  PressB1();
  RunUpdateToItsEnd();
  runtime.RunFor(100ms);
  std::vector<std::string> boxes;
  for (const auto& shown : runtime.Boxes()) boxes.push_back(shown.box.text);
  EXPECT_EQ(boxes, c.boxes);
  EXPECT_EQ(form.LB.Lines().back(), c.lastLine);
  EXPECT_FALSE(Logged(kLogUpdateDone));
  EXPECT_EQ(meter->FirmwareFlag(), c.flag);
  EXPECT_EQ(CommandCount(cmdWriteChunk) > 0, c.chunksSent);
  EXPECT_EQ(form.Timer1.Enabled(), c.polling);
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_FALSE(form.Timer3.Enabled());
  EXPECT_EQ(FailureBoxes(), 0u);
}

const std::string kStall = "Сбой записи 1 ";
const std::string kWriteError = "Ошибка записи";

// The index-th command with this code from now on (and the next count - 1) never completes.
void BusyForever(UpdateRun& run, std::uint8_t code, std::size_t index, std::size_t count = 1) {
  run.meter->Faults().Add({.which = Commands{code, index, count, true}, .busyReads = CommandFault::kForever});
}

INSTANTIATE_TEST_SUITE_P(
    Update, UpdateFaults,
    ::testing::Values(
        FaultCase{"SumMismatchAtChunk100",
                  [](UpdateRun& r) { r.meter->Faults().Add({.which = Commands{cmdWriteChunk, 99, 1, true}, .sumDelta = 1}); },
                  {kStall}, "папку \"Мои документы/lu14\"", kFirmwareUpdating, true, false},
        FaultCase{"ChunkThatGivesUp", [](UpdateRun& r) { BusyForever(r, cmdWriteChunk, 500); }, {kStall},
                  "команда 23", kFirmwareUpdating, true, false},
        FaultCase{"ChunkEchoNeverMatches",
                  [](UpdateRun& r) {
                    r.meter->Faults().Add(
                        {.which = Commands{cmdWriteChunk, 7, 4, true}, .corruptEcho = true, .echoByte = 10});
                  },
                  {kWriteError, kStall}, "Повтор записи", kFirmwareUpdating, true, false},
        FaultCase{"CommitThatGivesUp", [](UpdateRun& r) { BusyForever(r, cmdCommitPage, 3); }, {kStall},
                  "команда 22", kFirmwareUpdating, true, false},
        FaultCase{"FlagWriteRefused",
                  [](UpdateRun& r) {
                    r.meter->Faults().Add({.which = Commands{cmdWriteEeprom, 0, 4, true}, .corruptEcho = true});
                  },
                  // The meter stored the mark but never confirmed it: no chunk goes out.
                  {kWriteError}, "Прибор не принял отметку начала обновления, обновление отменено", kFirmwareUpdating,
                  false, true},
        FaultCase{"ChecksumRequestFails", [](UpdateRun& r) { BusyForever(r, cmdReadChecksum, 0); }, {},
                  "Ошибка проверки CRC", kFirmwareUpdating, true, true},
        FaultCase{"ChecksumDiffers",
                  [](UpdateRun& r) { r.meter->Faults().Add({.which = Commands::AllOf(cmdReadChecksum), .checksum = 0x123456}); },
                  {}, "Ошибка проверки CRC", kFirmwareUpdating, true, true},
        FaultCase{"VersionWriteFails", [](UpdateRun& r) { BusyForever(r, cmdWriteEeprom, 3); }, {},
                  "Ошибка записи версии прошивки", kFirmwareUpdating, true, true},
        // The meter took the final mark but never confirmed it; the image was
        // confirmed already, so the mark is true, but the tool claims nothing.
        FaultCase{"CompleteFlagWriteUnconfirmed", [](UpdateRun& r) { BusyForever(r, cmdWriteEeprom, 7); }, {},
                  "Ошибка записи отметки о полной прошивке", kFirmwareComplete, true, true},
        FaultCase{"BackupReadFails", [](UpdateRun& r) { BusyForever(r, cmdReadEeprom, 700, kConfirmedReadAttempts); },
                  {"Не удалось прочитать настройки прибора, обновление отменено"},
                  "Не удалось прочитать настройки прибора, обновление отменено", 1, false, true},
        FaultCase{"BackupDiskFull", [](UpdateRun& r) { r.files.SetFreeSpace(2000); },
                  {std::string(kBackupWriteFailed)}, std::string(kBackupWriteFailed), 1, false, true}),
    [](const ::testing::TestParamInfo<FaultCase>& test) { return std::string(test.param.name); });

TEST_F(UpdateFixture, AChecksumFailureIsLoggedAndTheFlagStaysIncomplete) {
  BusyForever(*this, cmdReadChecksum, 0);
  PressB1();
  RunUpdateToItsEnd();
  RunThroughTick(kTimer1Id);
  EXPECT_EQ(form.Label1.Text(), "Перезагрузите прошивку D1.50");
  EXPECT_TRUE(MeterHoldsTheImage());  // streamed whole; only the confirmation failed
}

TEST_F(UpdateFixture, UnpluggingWhileStreamingReturnsToPollingAndTheMeterAsksForAnUpdate) {
  PressB1();
  runtime.RunUntil([&] { return CommandCount(cmdWriteChunk) >= 1000; }, 60s);
  bus.Unplug(kMeterId);
  runtime.RunFor(5ms);
  EXPECT_EQ(form.LB.Lines().back(), "Пинцет ЛУ-14 отключен");
  EXPECT_EQ(form.Pr1.Position(), 0);
  EXPECT_TRUE(form.Timer1.Enabled());
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_EQ(meter->FirmwareFlag(), kFirmwareUpdating);
  RunThroughTick(kTimer1Id);
  EXPECT_EQ(form.Label1.Text(), "Подключите устройство ");
  bus.Plug(MeterSpec(meter, kMeterId));
  runtime.RunFor(1ms);
  RunThroughTick(kTimer1Id);
  EXPECT_EQ(form.Label1.Text(), "Перезагрузите прошивку D1.50");
  EXPECT_TRUE(form.B1.Enabled());

  // Updating again starts from image byte 0 with a new backup and succeeds.
  meter->ClearTrace();
  PressB1();
  RunUpdateToItsEnd();
  EXPECT_TRUE(Logged(kLogUpdateDone));
  EXPECT_EQ(meter->Requests(cmdWriteChunk).front()[1], 0);
  EXPECT_EQ(CommandCount(cmdReadEeprom), 2048u);
  EXPECT_TRUE(MeterHoldsTheImage());
  EXPECT_EQ(meter->FirmwareFlag(), 1);
}

// The bus transfer (1-based) that sends the write of `address` in a clean
// update; runs are deterministic, so it is the same in every run.
std::size_t TransferWriting(std::uint16_t address) {
  UpdateRun reference;
  reference.Poll();
  reference.PressB1();
  reference.RunUpdateToItsEnd();
  for (const auto& transfer : reference.meter->Trace()) {
    if (transfer.direction == sim::TransferDirection::kSetFeature && transfer.bytes[kCommandByte] == cmdWriteEeprom &&
        (transfer.bytes[1] << 8 | transfer.bytes[2]) == address) {
      return transfer.index + 1;
    }
  }
  return 0;
}

TEST_F(UpdateFixture, UnpluggingInTheFinishingStepNeverMarksTheFirmwareComplete) {
  const std::size_t transfer = TransferWriting(834);  // the third version byte
  ASSERT_NE(transfer, 0u);
  bus.UnplugAtTransfer(transfer, kMeterId);
  PressB1();
  RunUpdateToItsEnd();
  runtime.RunFor(100ms);
  EXPECT_FALSE(Logged(kLogUpdateDone));
  EXPECT_EQ(meter->FirmwareFlag(), kFirmwareUpdating);
  EXPECT_EQ(FailureBoxes(), 0u);
  EXPECT_TRUE(form.Timer1.Enabled());
}

TEST_F(UpdateFixture, B1WithNoMeterDoesNothing) {
  bus.Unplug(kMeterId);
  runtime.RunFor(1ms);  // removed; the poll has not yet disabled B1
  ASSERT_TRUE(form.B1.Enabled());
  const auto lines = form.LB.Lines();
  PressB1();
  EXPECT_EQ(form.LB.Lines(), lines);
  EXPECT_TRUE(form.Timer1.Enabled());
  EXPECT_FALSE(form.Timer2.Enabled());
}

TEST_F(UpdateFixture, AFinishTickDuringABoxOfTheFinishingStepWaits) {
  // Four echo mismatches on the first version byte: the "Ошибка записи" box
  // stays open for a second, during which Timer3 keeps ticking.
  meter->Faults().Add({.which = Commands{cmdWriteEeprom, 1, 4, true}, .corruptEcho = true});
  PressB1();
  RunUpdateToItsEnd();
  EXPECT_EQ(CommandCount(cmdReadChecksum), 1u);
  // The flag 0x88, four tries of the first byte, the other four, 958; no flag 1.
  EXPECT_EQ(CommandCount(cmdWriteEeprom), 1u + 4u + 4u + 1u);
  EXPECT_EQ(form.LB.Lines().back(), "Ошибка записи версии прошивки");
}

TEST_F(UpdateFixture, AStartMarkEchoedWrongThreeTimesIsConfirmedByTheFourthPassWithoutABox) {
  // The value byte (3) of the 0x88 write comes back wrong three times; the
  // fourth pass matches, which the transaction takes without a box.
  meter->Faults().Add({.which = Commands{cmdWriteEeprom, 0, 3, true}, .corruptEcho = true, .echoByte = 3});
  PressB1();
  EXPECT_TRUE(runtime.Boxes().empty());
  const auto marks = meter->Requests(cmdWriteEeprom);
  ASSERT_EQ(marks.size(), 4u);
  for (const auto& mark : marks) {
    EXPECT_EQ(mark[1] << 8 | mark[2], kEepromFirmwareValidFlag);
    EXPECT_EQ(mark[3], kFirmwareUpdating);
  }
  EXPECT_EQ(CommandCount(cmdWriteChunk), 0u);  // the chunks wait for the next tick
  RunUpdateToItsEnd();
  EXPECT_TRUE(Logged(kLogUpdateDone));
  EXPECT_TRUE(MeterHoldsTheImage());
  EXPECT_EQ(meter->FirmwareFlag(), kFirmwareComplete);
}

// A box that opens inside the update's start (the settings backup, then the
// 0x88 mark at EEPROM 1023) runs a message loop while the chunk ticks are
// armed; none of the ticks it dispatches may send a chunk. Each of these
// boxes ends the start: the update is cancelled, polling resumes, and the
// next B1 runs a whole update.
struct StartBox {
  const char* name;
  std::function<void(UpdateRun&)> inject;
  std::string box;
  std::string lastLine;
  std::uint8_t flag;  // EEPROM 1023 after the cancelled start
};

void PrintTo(const StartBox& c, std::ostream* os) { *os << c.name; }

class StartBoxes : public UpdateFixture, public ::testing::WithParamInterface<StartBox> {};

// The update as a box in its start sees it.
struct StartState {
  bool starting;
  bool running;
  bool chunkTicksArmed;
  std::size_t chunks;
  friend bool operator==(const StartState&, const StartState&) = default;
};

void PrintTo(const StartState& s, std::ostream* os) {
  *os << "{starting " << s.starting << ", running " << s.running << ", chunk ticks armed " << s.chunkTicksArmed
      << ", chunks " << s.chunks << "}";
}

TEST_P(StartBoxes, NoChunkGoesOutWhileTheStartWaitsInABox) {
  const StartBox& c = GetParam();
  c.inject(*this);
  constexpr auto kAnswer = 500ms;
  runtime.SetBoxAnswerDelay(kAnswer);
  const auto state = [&] {
    return StartState{form.Meter.Update.Starting(), form.Meter.Update.Running(), form.Timer2.Enabled(),
                      CommandCount(cmdWriteChunk)};
  };
  std::vector<StartState> atOpen, beforeAnswer;
  runtime.SetBoxHook([&](const MessageBoxRequest&) {
    atOpen.push_back(state());
    // Just before the user answers, after every tick the box's loop handled.
    runtime.At(runtime.Elapsed() + kAnswer - 1ms, [&] { beforeAnswer.push_back(state()); });
  });
  PressB1();

  ASSERT_EQ(runtime.Boxes().size(), 1u);
  const auto& shown = runtime.Boxes()[0];
  EXPECT_EQ(shown.box.text, c.box);
  const StartState waiting{true, true, true, 0};
  EXPECT_EQ(atOpen, std::vector<StartState>{waiting});
  EXPECT_EQ(beforeAnswer, std::vector<StartState>{waiting});
  const auto ticksInBox = std::count_if(runtime.Ticks().begin(), runtime.Ticks().end(), [&](const auto& tick) {
    return tick.id == kTimer2Id && tick.at >= shown.shownAt && tick.at <= shown.dismissedAt;
  });
  EXPECT_GT(ticksInBox, 0) << "no chunk tick came while the box was up";
  std::vector<sim::SimTime> chunksInBox;
  for (const auto& transfer : meter->Trace()) {
    if (transfer.direction == sim::TransferDirection::kSetFeature && transfer.bytes[kCommandByte] == cmdWriteChunk &&
        transfer.at >= shown.shownAt && transfer.at <= shown.dismissedAt) {
      chunksInBox.push_back(transfer.at);
    }
  }
  EXPECT_EQ(chunksInBox, std::vector<sim::SimTime>{}) << "chunks sent while the box was open";

  // The start is cancelled: nothing is streamed, the window polls again.
  RunUpdateToItsEnd();
  runtime.RunFor(100ms);
  EXPECT_EQ(CommandCount(cmdWriteChunk), 0u);
  EXPECT_EQ(form.LB.Lines().back(), c.lastLine);
  EXPECT_FALSE(Logged(kLogUpdateDone));
  EXPECT_EQ(meter->FirmwareFlag(), c.flag);
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_TRUE(form.Timer1.Enabled());
  EXPECT_EQ(runtime.Boxes().size(), 1u);

  // The fault has passed; the user's second try updates the meter.
  RunThroughTick(kTimer1Id);
  ASSERT_TRUE(form.B1.Enabled());
  runtime.SetBoxHook(nullptr);
  files.SetFreeSpace(std::nullopt);
  PressB1();
  RunUpdateToItsEnd();
  EXPECT_TRUE(Logged(kLogUpdateDone));
  EXPECT_TRUE(MeterHoldsTheImage());
  EXPECT_EQ(meter->FirmwareFlag(), kFirmwareComplete);
}

INSTANTIATE_TEST_SUITE_P(
    Update, StartBoxes,
    ::testing::Values(
        // Inside the mark's transaction: four passes whose echo of the value
        // byte never matches. The meter stored 0x88 but never confirmed it.
        StartBox{"StartMarkNeverConfirmed",
                 [](UpdateRun& r) {
                   r.meter->Faults().Add(
                       {.which = Commands{cmdWriteEeprom, 0, 4, true}, .corruptEcho = true, .echoByte = 3});
                 },
                 std::string(kWriteErrorBox), std::string(kLogFlagRefused), kFirmwareUpdating},
        // Between transactions: the backup's own boxes, before the mark.
        StartBox{"BackupReadFails", [](UpdateRun& r) { BusyForever(r, cmdReadEeprom, 700, kConfirmedReadAttempts); },
                 std::string(kBackupReadFailed), std::string(kBackupReadFailed), kFirmwareComplete},
        StartBox{"BackupCannotBeWritten", [](UpdateRun& r) { r.files.SetFreeSpace(2000); },
                 std::string(kBackupWriteFailed), std::string(kBackupWriteFailed), kFirmwareComplete}),
    [](const ::testing::TestParamInfo<StartBox>& test) { return std::string(test.param.name); });

// A chunk tick can still be waiting in the queue when a chunk's transaction
// opens its "Ошибка записи" box (a tick posted before the timer was stopped
// stays there), and the box's loop dispatches it. That tick must neither send
// a chunk nor disturb the one waiting in the box.
TEST_F(UpdateFixture, AChunkTickQueuedBeforeAChunksBoxDoesNothing) {
  meter->Faults().Add({.which = Commands{cmdWriteChunk, 7, 4, true}, .corruptEcho = true, .echoByte = 3});
  struct DuringBox {
    std::size_t transfersBefore, transfersAfter, streamPosBefore, streamPosAfter;
    bool running;
  };
  std::optional<DuringBox> seen;
  runtime.SetBoxHook([&](const MessageBoxRequest& box) {
    if (box.text != kWriteErrorBox) return;
    runtime.Post([&] {
      DuringBox d{meter->TransferCount(), 0, form.Meter.Update.StreamPos(), 0, false};
      form.Meter.Update.ChunkTick();
      d.transfersAfter = meter->TransferCount();
      d.streamPosAfter = form.Meter.Update.StreamPos();
      d.running = form.Meter.Update.Running();
      seen = d;
    });
  });
  PressB1();
  RunUpdateToItsEnd();
  ASSERT_TRUE(seen.has_value()) << "the chunk's box never opened";
  EXPECT_EQ(seen->transfersAfter, seen->transfersBefore);
  EXPECT_EQ(seen->streamPosAfter, seen->streamPosBefore);
  EXPECT_TRUE(seen->running);
  // The chunk in the box is the one that fails the update, with its own box.
  std::vector<std::string> boxes;
  for (const auto& shown : runtime.Boxes()) boxes.push_back(shown.box.text);
  EXPECT_EQ(boxes, (std::vector<std::string>{std::string(kWriteErrorBox), kStall}));
  EXPECT_EQ(CommandCount(cmdWriteChunk), 7u + 4u);  // chunks 0..6 once, chunk 7 in four passes
}

// --- the protocol's pauses, in virtual time ---------------------------------------

// One command as the meter saw it: its request, when it arrived, and when the
// last transfer before the next command (its reads) happened.
struct TimedCommand {
  sim::SimMeter::Report request;
  sim::SimTime sent;
  sim::SimTime done;
  std::uint8_t Code() const { return request[kCommandByte]; }
  std::uint16_t Parameter() const { return static_cast<std::uint16_t>(request[1] << 8 | request[2]); }
};

std::vector<TimedCommand> TimedCommands(const sim::SimMeter& meter) {
  std::vector<TimedCommand> commands;
  for (const auto& transfer : meter.Trace()) {
    if (transfer.direction == sim::TransferDirection::kSetFeature && transfer.ok) {
      sim::SimMeter::Report request;
      std::copy(transfer.bytes.begin(), transfer.bytes.end(), request.begin());
      commands.push_back({request, transfer.at, transfer.at});
    } else if (!commands.empty()) {
      commands.back().done = transfer.at;
    }
  }
  return commands;
}

// The quiet time between a command's last transfer and the next command.
sim::SimTime GapAfter(const std::vector<TimedCommand>& commands, std::size_t i) {
  return commands.at(i + 1).sent - commands.at(i).done;
}

std::string Describe(const TimedCommand& command) {
  std::string text = "command " + std::to_string(command.Code());
  if (command.Code() == cmdWriteEeprom) text += " to " + std::to_string(command.Parameter());
  if (command.Code() == cmdCommitPage) text += " of page " + std::to_string(command.request[1]);
  return text + " at " + std::to_string(command.sent.count()) + " us";
}

TEST_F(UpdateFixture, EveryCommitPausesBeforeTheNextChunk) {
  PressB1();
  RunUpdateToItsEnd();
  ASSERT_TRUE(Logged(kLogUpdateDone));
  const auto commands = TimedCommands(*meter);
  ASSERT_EQ(commands.size(), 2048u + 8u + 3760u + 235u + 1u);

  // A chunk follows a chunk one tick later. After a commit, the commit's
  // pause comes first and the tick is counted from its end.
  std::set<sim::SimTime> tickGaps;
  for (std::size_t i = 0; i + 1 < commands.size(); ++i) {
    if (commands[i].Code() == cmdWriteChunk && commands[i + 1].Code() == cmdWriteChunk) {
      tickGaps.insert(GapAfter(commands, i));
    }
  }
  ASSERT_EQ(tickGaps.size(), 1u) << "chunks follow each other at one steady rhythm";
  const sim::SimTime tick = *tickGaps.begin();
  EXPECT_EQ(tick, sim::SimTime(kChunkTickPeriod));

  std::size_t commitsFollowedByAChunk = 0;
  for (std::size_t i = 0; i + 1 < commands.size(); ++i) {
    if (commands[i].Code() != cmdCommitPage) continue;
    SCOPED_TRACE(Describe(commands[i]));
    EXPECT_EQ(commands[i - 1].Code(), cmdWriteChunk);
    EXPECT_EQ(GapAfter(commands, i - 1), sim::SimTime{0}) << "the commit goes out in the tick of the page's last chunk";
    EXPECT_GE(GapAfter(commands, i), sim::SimTime(kCommitPause));
    if (commands[i + 1].Code() == cmdWriteChunk) {
      ++commitsFollowedByAChunk;
      EXPECT_EQ(GapAfter(commands, i), sim::SimTime(kCommitPause) + tick);
    }
  }
  EXPECT_EQ(commitsFollowedByAChunk, 234u);
}

TEST_F(UpdateFixture, TheFinishingStepPausesAfterEachWriteEachVersionByteAndTheChecksumRequest) {
  PressB1();
  RunUpdateToItsEnd();
  ASSERT_TRUE(Logged(kLogUpdateDone));
  const auto commands = TimedCommands(*meter);
  const auto lastCommit = std::find_if(commands.rbegin(), commands.rend(),
                                       [](const TimedCommand& c) { return c.Code() == cmdCommitPage; });
  ASSERT_NE(lastCommit, commands.rend());
  const std::size_t first = static_cast<std::size_t>(commands.rend() - lastCommit);  // after the last commit

  using sim::SimTime;
  const SimTime write(kEepromWritePause);
  const SimTime versionByte = write + SimTime(kVersionBytePause);
  struct Step {
    std::uint8_t code;
    std::uint16_t parameter;  // the EEPROM address of a write
    std::uint8_t value;
    SimTime gapAfter;  // until the next command
  };
  const std::vector<Step> expected = {
      {cmdWriteEeprom, 832, 'D', versionByte},
      {cmdWriteEeprom, 833, '1', versionByte},
      {cmdWriteEeprom, 834, '.', versionByte},
      {cmdWriteEeprom, 835, '5', versionByte},
      {cmdWriteEeprom, 836, '0', versionByte},
      {cmdWriteEeprom, kEepromAfterUpdate, kAfterUpdateValue, write},
      {cmdReadChecksum, 0, 0, SimTime(kChecksumPause)},
      {cmdWriteEeprom, kEepromFirmwareValidFlag, kFirmwareComplete, SimTime{0}},  // the last command
  };
  ASSERT_EQ(commands.size() - first, expected.size());
  EXPECT_GE(commands[first].sent - commands[first - 1].done, SimTime(kCommitPause));
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const TimedCommand& command = commands[first + k];
    SCOPED_TRACE(Describe(command));
    EXPECT_EQ(command.Code(), expected[k].code);
    if (command.Code() == cmdWriteEeprom) {
      EXPECT_EQ(command.Parameter(), expected[k].parameter);
      EXPECT_EQ(command.request[3], expected[k].value);
    }
    EXPECT_EQ(command.done, command.sent) << "no retries in a clean update";
    if (first + k + 1 < commands.size()) {
      EXPECT_EQ(GapAfter(commands, first + k), expected[k].gapAfter);
    }
  }
}

TEST_F(UpdateFixture, NothingFollowsAnEepromWriteSoonerThanItsPause) {
  // Every write of the update (the two marks, the version text, 958) keeps
  // the meter quiet for the pause, whatever comes next: the first chunk,
  // another write, the checksum request or the poll after the update.
  PressB1();
  RunUpdateToItsEnd();
  ASSERT_TRUE(Logged(kLogUpdateDone));
  RunThroughTick(kTimer1Id);
  const auto commands = TimedCommands(*meter);
  std::size_t writes = 0;
  for (std::size_t i = 0; i + 1 < commands.size(); ++i) {
    if (commands[i].Code() != cmdWriteEeprom) continue;
    ++writes;
    EXPECT_GE(GapAfter(commands, i), sim::SimTime(kEepromWritePause)) << Describe(commands[i]);
  }
  EXPECT_EQ(writes, 8u);
  // The mark 0x88 is followed by the first chunk.
  const auto mark = std::find_if(commands.begin(), commands.end(),
                                 [](const TimedCommand& c) { return c.Code() == cmdWriteEeprom; });
  ASSERT_NE(mark + 1, commands.end());
  EXPECT_EQ(mark->request[3], kFirmwareUpdating);
  EXPECT_EQ((mark + 1)->Code(), cmdWriteChunk);
}

}  // namespace
}  // namespace lu14::testing
