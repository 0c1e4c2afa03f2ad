#include "tests/update/sweep/RestoreUnderFaults.h"

#include <algorithm>

#include "tests/update/UpdateRun.h"
#include "update/SettingsRestore.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;

// Six bytes to put back, of every part a restore writes, and three the
// update owns, which it must leave.
EepromImage BackupOf(const EepromImage& meter) {
  EepromImage backup = meter;
  backup[200] = static_cast<std::uint8_t>(meter[200] + 1);
  backup[kEepromCapacitance] = 0;
  backup[kEepromMenuSwap] = 1;
  backup[kEepromBatteryCoefficient] = 0x12;
  backup[kEepromBatteryCoefficient + 2] = 0x7F;
  backup[1500] = static_cast<std::uint8_t>(meter[1500] ^ 0xFF);
  backup[kEepromVersionText] = 'X';
  backup[kEepromAfterUpdate] = 9;
  backup[kEepromFirmwareValidFlag] = kFirmwareUpdating;
  return backup;
}

// What the meter must hold once the backup is restored.
EepromImage Restored(const EepromImage& meter, const EepromImage& backup) {
  EepromImage expected = backup;
  for (std::uint16_t address = 0; address < kEepromSize; ++address) {
    if (OwnedByUpdate(address)) expected[address] = meter[address];
  }
  return expected;
}

struct RestoreBench : UpdateRun {
  explicit RestoreBench(bool tracing = false) {
    meter->SetTracing(tracing);
    Poll();
  }
  // Reads the meter, compares, writes: the reading and the outcome, as far as it got.
  struct Result {
    EepromReading reading;
    RestorePlan plan;
    RestoreOutcome outcome;
  };
  Result Restore(const EepromImage& backup) {
    Result result;
    SettingsRestore restore(form.Meter.Memory);
    result.reading = restore.ReadMeter();
    if (!result.reading.image) return result;
    result.plan = CompareImages(*result.reading.image, backup);
    result.outcome = restore.Write(result.plan);
    return result;
  }
};

const char* ResultName(ByteResult result) {
  switch (result) {
    case ByteResult::Confirmed: return "written";
    case ByteResult::WriteNotConfirmed: return "write not confirmed";
    case ByteResult::ReadBackFailed: return "read-back failed";
    case ByteResult::ReadBackDiffers: return "read-back differs";
    case ByteResult::NotAttempted: return "not attempted";
  }
  return "";
}

void CheckTheAccount(const RestoreBench::Result& result, const EepromImage& before, const EepromImage& backup,
                     const sim::SimMeter& meter, std::vector<std::string>& broken) {
  if (result.reading.image && result.plan.toWrite != CompareImages(before, backup).toWrite) {
    broken.push_back("the differences found are not the real ones");
  }
  std::vector<std::uint16_t> planned;
  for (const ByteWritten& byte : result.outcome.bytes) {
    const std::uint16_t address = byte.difference.address;
    planned.push_back(address);
    const std::uint8_t holds = meter.Eeprom(address);
    const std::string where = "byte " + std::to_string(address) + " (" + ResultName(byte.result) + ")";
    const bool original = holds == before[address];
    const bool intended = holds == backup[address];
    if (byte.result == ByteResult::Confirmed && !intended) broken.push_back(where + " does not hold the file's byte");
    if (byte.result == ByteResult::NotAttempted && !original) broken.push_back(where + " changed");
    if (!original && !intended) broken.push_back(where + " holds neither its own byte nor the file's");
    if (byte.readBack && *byte.readBack != holds) broken.push_back(where + " read back a byte the meter does not hold");
  }
  const EepromImage expected = Restored(before, backup);
  if (result.reading.image && result.outcome.Succeeded() &&
      !std::equal(expected.begin(), expected.end(), meter.EepromBytes().begin())) {
    broken.push_back("success claimed, but the meter does not hold the backup");
  }
  for (std::uint16_t address = 0; address < kEepromSize; ++address) {
    if (std::find(planned.begin(), planned.end(), address) == planned.end() && meter.Eeprom(address) != before[address]) {
      broken.push_back("byte " + std::to_string(address) + " changed, which the restore was not to write");
      return;
    }
  }
}

}  // namespace

RestoreSpan CleanRestoreSpan() {
  RestoreBench bench(true);
  const std::size_t transfersBefore = bench.bus.Transfers();
  const std::size_t commandsBefore = bench.meter->CommandCodes().size();
  bench.Restore(BackupOf(EepromOf(*bench.meter)));
  return {transfersBefore + 1, bench.bus.Transfers(), commandsBefore, bench.meter->CommandCodes().size() - 1};
}

std::vector<std::string> RestoreUnderFaults(const std::vector<PlantedFault>& faults) {
  std::vector<std::string> broken;
  RestoreBench bench;
  const EepromImage before = EepromOf(*bench.meter);
  const EepromImage backup = BackupOf(before);
  for (const PlantedFault& fault : faults) Plant(bench.bus, *bench.meter, kMeterId, fault);
  const RestoreBench::Result result = bench.Restore(backup);
  CheckTheAccount(result, before, backup, *bench.meter, broken);
  if (bench.FailureBoxes() != 0) broken.push_back("a failure escaped a handler");
  if (result.reading.image && result.outcome.Succeeded()) return broken;

  // The user runs the same restore again, with the meter plugged back in.
  bench.meter->Faults().Clear();
  bench.runtime.RunFor(10ms);
  if (!bench.bus.Present(kMeterId)) {
    bench.bus.Plug(MeterSpec(bench.meter, kMeterId));
    bench.runtime.RunFor(10ms);
  }
  const RestoreBench::Result rerun = bench.Restore(backup);
  const EepromImage expected = Restored(before, backup);
  if (!rerun.reading.image || !rerun.outcome.Succeeded() ||
      !std::equal(expected.begin(), expected.end(), bench.meter->EepromBytes().begin())) {
    broken.push_back("running the restore again did not finish the job");
  }
  return broken;
}

}  // namespace lu14::testing
