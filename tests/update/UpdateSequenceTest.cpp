// Whole updates against the simulated meter: the clean road and every fault
// the tool must survive without losing the user's meter or settings.
#include <gtest/gtest.h>

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

void BusyForever(UpdateRun& run, std::uint8_t code, std::size_t index) {
  run.meter->Faults().Add({.which = Commands{code, index, 1, true}, .busyReads = CommandFault::kForever});
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
                    r.meter->Faults().Add({.which = Commands{cmdWriteChunk, 7, 4, true}, .corruptEcho = true});
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
        FaultCase{"BackupReadFails", [](UpdateRun& r) { BusyForever(r, cmdReadEeprom, 700); },
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

TEST_F(UpdateFixture, NoChunkGoesOutWhileTheStartWaitsInABox) {
  meter->Faults().Add({.which = Commands{cmdWriteEeprom, 0, 3, true}, .corruptEcho = true});  // flag: 3 tries, 4th ok
  bool chunkDuringStart = false;
  runtime.SetBoxHook([&](const MessageBoxRequest&) {});
  PressB1();
  chunkDuringStart = CommandCount(cmdWriteChunk) > 0;
  EXPECT_FALSE(chunkDuringStart);
  RunUpdateToItsEnd();
  EXPECT_TRUE(Logged(kLogUpdateDone));
}

}  // namespace
}  // namespace lu14::testing
