// Putting a settings backup back into the simulated meter: what differs,
// what is written and read back, what the update's own bytes are spared, and
// the account a fault part-way leaves.
#include <gtest/gtest.h>

#include "tests/update/UpdateRun.h"
#include "update/SettingsRestore.h"

namespace lu14::testing {
namespace {

EepromImage ImageOf(const sim::SimMeter& meter) {
  EepromImage image{};
  std::copy(meter.EepromBytes().begin(), meter.EepromBytes().end(), image.begin());
  return image;
}

TEST(EepromParts, TheAddressMapNamesTheOptionsCoefficientAndTheUpdatesOwnBytes) {
  struct Case {
    std::uint16_t address;
    EepromPart part;
    bool ownedByUpdate;
  };
  const Case cases[] = {
      {0, EepromPart::Other, false},         {831, EepromPart::Other, false},
      {832, EepromPart::VersionText, true},  {836, EepromPart::VersionText, true},
      {837, EepromPart::Other, false},       {856, EepromPart::Option, false},
      {947, EepromPart::Option, false},      {957, EepromPart::Option, false},
      {958, EepromPart::AfterUpdate, true},  {975, EepromPart::Other, false},
      {976, EepromPart::BatteryCoefficient, false}, {979, EepromPart::BatteryCoefficient, false},
      {980, EepromPart::Other, false},       {1022, EepromPart::Option, false},
      {1023, EepromPart::FirmwareFlag, true}, {2047, EepromPart::Other, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PartOf(c.address), c.part) << c.address;
    EXPECT_EQ(OwnedByUpdate(c.address), c.ownedByUpdate) << c.address;
  }
  EXPECT_EQ(OptionAt(947), MeterOption::AutoSave);
  EXPECT_EQ(OptionAt(856), MeterOption::Capacitance);
  EXPECT_EQ(OptionAt(1022), MeterOption::MenuSwap);
  EXPECT_EQ(OptionAt(957), MeterOption::ModifiedMeter);
  EXPECT_EQ(OptionAt(958), std::nullopt);
}

TEST(CompareImages, EveryDifferenceInOrderTheUpdatesBytesSkipped) {
  EepromImage meter{}, backup{};
  backup[5] = 1;
  backup[1023] = 0x88;
  backup[834] = 'x';
  backup[976] = 0x40;
  backup[958] = 9;
  meter[2047] = 7;
  const RestorePlan plan = CompareImages(meter, backup);
  EXPECT_EQ(plan.toWrite, (std::vector<ByteDifference>{{5, 0, 1}, {976, 0, 0x40}, {2047, 7, 0}}));
  EXPECT_EQ(plan.skipped, (std::vector<ByteDifference>{{834, 0, 'x'}, {958, 0, 9}, {1023, 0, 0x88}}));
  EXPECT_TRUE(CompareImages(meter, meter).toWrite.empty());
}

// One meter, polled once, and the backups a test restores into it.
struct RestoreBench : UpdateRun {
  RestoreBench() { Poll(); }

  // The meter's image as it is now, with the options and the coefficient changed.
  EepromImage ChangedBackup() {
    EepromImage backup = ImageOf(*meter);
    backup[kEepromCapacitance] = 0;     // capacitance on
    backup[kEepromMenuSwap] = 1;     // menu-swap on
    backup[kEepromBatteryCoefficient + 1] = 0x12;
    backup[kEepromBatteryCoefficient + 3] = 0x3E;
    backup[kEepromVersionText] = 'X';  // the update's: never written
    backup[kEepromFirmwareValidFlag] = kFirmwareUpdating;
    return backup;
  }
  RestoreOutcome Restore(const EepromImage& backup, const std::function<bool()>& stop = {}) {
    SettingsRestore restore(form.Meter.Memory);
    const EepromReading reading = restore.ReadMeter();
    EXPECT_TRUE(reading.image) << "read failed at " << reading.failedAt;
    return restore.Write(CompareImages(*reading.image, backup), stop);
  }
};

struct RestoreFixture : ::testing::Test, RestoreBench {};

TEST_F(RestoreFixture, ReadingTheMeterGivesItsWholeEeprom) {
  SettingsRestore restore(form.Meter.Memory);
  const EepromReading reading = restore.ReadMeter();
  ASSERT_TRUE(reading.image);
  EXPECT_EQ(*reading.image, ImageOf(*meter));

  // A read that is never confirmed ends the reading there: no image to compare.
  meter->Faults().Add(
      {.which = {cmdReadEeprom, 700, kConfirmedReadAttempts, true}, .busyReads = sim::CommandFault::kForever});
  const EepromReading failed = restore.ReadMeter();
  EXPECT_FALSE(failed.image);
  EXPECT_EQ(failed.failedAt, 700);
  EXPECT_FALSE(failed.interrupted);
}

TEST_F(RestoreFixture, OnlyTheDifferingBytesAreWrittenEachReadBack) {
  const EepromImage backup = ChangedBackup();
  const std::size_t readsBefore = CommandCount(cmdReadEeprom);
  const RestoreOutcome outcome = Restore(backup);
  EXPECT_TRUE(outcome.Succeeded());
  ASSERT_EQ(outcome.bytes.size(), 4u);
  for (const ByteWritten& byte : outcome.bytes) {
    EXPECT_EQ(byte.result, ByteResult::Confirmed);
    EXPECT_EQ(byte.readBack, byte.difference.file);
    EXPECT_EQ(meter->Eeprom(byte.difference.address), byte.difference.file);
  }
  EXPECT_EQ(CommandCount(cmdWriteEeprom), 4u);
  EXPECT_EQ(CommandCount(cmdReadEeprom) - readsBefore, 2048u + 4u);  // the image, then each written byte
  // The update's bytes stay as the meter has them; the rest is the backup's.
  EXPECT_EQ(meter->VersionText(), "D1.50");
  EXPECT_EQ(meter->FirmwareFlag(), kFirmwareComplete);
  EepromImage expected = backup;
  expected[kEepromVersionText] = 'D';
  expected[kEepromFirmwareValidFlag] = kFirmwareComplete;
  EXPECT_EQ(ImageOf(*meter), expected);

  // The same backup again: nothing left to write.
  const RestoreOutcome again = Restore(backup);
  EXPECT_TRUE(again.bytes.empty());
  EXPECT_TRUE(again.Succeeded());
  EXPECT_EQ(CommandCount(cmdWriteEeprom), 4u);
}

TEST_F(RestoreFixture, EveryWriteHasItsPause) {
  meter->ClearTrace();
  const RestoreOutcome outcome = Restore(ChangedBackup());
  ASSERT_TRUE(outcome.Succeeded());
  // After each write's last transfer 5 ms pass before the read-back starts.
  const auto& trace = meter->Trace();
  std::size_t pauses = 0;
  for (std::size_t i = 1; i < trace.size(); ++i) {
    const bool readBackStarts = trace[i].direction == sim::TransferDirection::kSetFeature && trace[i].ok &&
                                trace[i].bytes[18] == cmdReadEeprom && i >= 2 && trace[i - 2].bytes[18] == cmdWriteEeprom;
    if (!readBackStarts) continue;
    EXPECT_GE(trace[i].at - trace[i - 1].at, std::chrono::milliseconds(5));
    ++pauses;
  }
  EXPECT_EQ(pauses, 4u);
}

// The simulated meter, except that it lets go of the next byte written to one
// address at once: the write is confirmed, but the byte reads back as before.
class LetsGoOfOneWrite : public sim::SimHidDevice {
 public:
  LetsGoOfOneWrite(std::shared_ptr<sim::SimMeter> meter, std::uint16_t address)
      : meter_(std::move(meter)), address_(address) {}
  bool SetFeature(std::span<const std::uint8_t> report) override {
    const std::uint8_t before = meter_->Eeprom(address_);
    const bool taken = meter_->SetFeature(report);
    if (taken && !done_ && report[kCommandByte] == cmdWriteEeprom && report[1] * 256 + report[2] == address_) {
      meter_->SetEeprom(address_, before);
      done_ = true;
    }
    return taken;
  }
  bool GetFeature(std::span<std::uint8_t> report) override { return meter_->GetFeature(report); }

 private:
  std::shared_ptr<sim::SimMeter> meter_;
  std::uint16_t address_;
  bool done_ = false;
};

TEST(RestoreFaults, AFaultPartWayLeavesAnAccountAndARerunFinishes) {
  struct Case {
    const char* what;
    std::function<void(RestoreBench&)> inject;  // before the writes
    ByteResult secondByte;
    bool unplug;  // the meter is pulled out before the second byte, and plugged back in after
  };
  const Case cases[] = {
      {"a write that stays busy",
       [](RestoreBench& f) {
         f.meter->Faults().Add({.which = {cmdWriteEeprom, 1, 1, true}, .busyReads = sim::CommandFault::kForever});
       },
       ByteResult::WriteNotConfirmed, false},
      {"a read-back that answers another reply every time",
       [](RestoreBench& f) {
         f.meter->Faults().Add({.which = {cmdReadEeprom, 1, kConfirmedReadAttempts, true}, .staleReply = true});
       },
       ByteResult::ReadBackFailed, false},
      {"a byte the meter lets go of",
       [](RestoreBench& f) {
         // The second byte written is the coefficient's second.
         f.bus.Attach(MeterSpec(std::make_shared<LetsGoOfOneWrite>(f.meter, kEepromBatteryCoefficient + 1), kMeterId));
       },
       ByteResult::ReadBackDiffers, false},
      {"a read-back that never completes",
       [](RestoreBench& f) {
         f.meter->Faults().Add(
             {.which = {cmdReadEeprom, 1, kConfirmedReadAttempts, true}, .busyReads = sim::CommandFault::kForever});
       },
       ByteResult::ReadBackFailed, false},
      {"the meter pulled out before the second write", {}, ByteResult::WriteNotConfirmed, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RestoreBench f;
    const EepromImage backup = f.ChangedBackup();
    SettingsRestore restore(f.form.Meter.Memory);
    const EepromReading reading = restore.ReadMeter();
    ASSERT_TRUE(reading.image);
    const RestorePlan plan = CompareImages(*reading.image, backup);
    ASSERT_EQ(plan.toWrite.size(), 4u);
    if (c.inject) c.inject(f);
    int bytesStarted = 0;
    const RestoreOutcome outcome = restore.Write(plan, [&] {
      if (++bytesStarted == 2 && c.unplug) f.bus.Unplug(kMeterId);
      return false;
    });
    EXPECT_FALSE(outcome.Succeeded());
    ASSERT_EQ(outcome.bytes.size(), 4u);
    EXPECT_EQ(outcome.bytes[0].result, ByteResult::Confirmed);
    EXPECT_EQ(outcome.bytes[1].result, c.secondByte);
    // Nothing more is sent to a meter that did not take a byte.
    EXPECT_EQ(outcome.bytes[2].result, ByteResult::NotAttempted);
    EXPECT_EQ(outcome.bytes[3].result, ByteResult::NotAttempted);
    EXPECT_EQ(outcome.Count(ByteResult::Confirmed), 1u);
    EXPECT_EQ(f.meter->Eeprom(plan.toWrite[3].address), plan.toWrite[3].meter);

    // Run again (the meter plugged back in): only what still differs is written.
    f.meter->Faults().Clear();
    if (c.unplug) {
      f.bus.Plug(MeterSpec(f.meter, kMeterId));
      f.Poll();
      f.Poll();
    }
    const std::size_t writesBefore = f.CommandCount(cmdWriteEeprom);
    const RestoreOutcome rerun = f.Restore(backup);
    EXPECT_TRUE(rerun.Succeeded());
    EXPECT_LE(rerun.bytes.size(), 3u);
    EXPECT_GE(rerun.bytes.size(), 2u);
    EXPECT_EQ(f.CommandCount(cmdWriteEeprom) - writesBefore, rerun.bytes.size());
    for (const ByteDifference& byte : plan.toWrite) EXPECT_EQ(f.meter->Eeprom(byte.address), byte.file);
  }
}

TEST_F(RestoreFixture, AStopBetweenTwoBytesLeavesTheRestUnsent) {
  int asked = 0;
  const RestoreOutcome outcome = Restore(ChangedBackup(), [&] { return ++asked > 2; });
  EXPECT_TRUE(outcome.interrupted);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(outcome.Count(ByteResult::Confirmed), 2u);
  EXPECT_EQ(outcome.Count(ByteResult::NotAttempted), 2u);
  EXPECT_EQ(CommandCount(cmdWriteEeprom), 2u);
}

}  // namespace
}  // namespace lu14::testing
