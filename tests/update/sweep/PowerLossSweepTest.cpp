// The meter's power cut at every transfer of an update and of a restore
// (sampled in CI, every transfer with LU14_DENSE_SWEEPS=1), once with an
// EEPROM write under way kept and once with it lost, a page commit under way
// torn at a different byte from point to point. The meter comes back with
// what it kept, and each run is held to the checks of UpdateUnderFaults and
// RestoreUnderFaults: among them that the poll shows a meter that came back
// marked in progress as asking for the firmware again.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/update/sweep/RestoreUnderFaults.h"
#include "tests/update/sweep/SweepPoints.h"
#include "tests/update/sweep/UpdateUnderFaults.h"

namespace lu14::testing {
namespace {

constexpr std::size_t kUpdateStride = 47;
constexpr std::size_t kRestoreStride = 23;
// Where a commit under way stops programming its page, taken in turn: nothing,
// a byte, half, all but one, all of it.
constexpr std::size_t kTornAt[] = {0, 1, 128, 255, 256};

using EepromWrite = sim::PowerLoss::EepromWrite;

PlantedFault PowerLossAt(std::size_t at, EepromWrite write) {
  return {.kind = FaultKind::PowerLoss,
          .at = at,
          .powerLoss = {.pageBytesProgrammed = kTornAt[at % std::size(kTornAt)], .eepromWrite = write}};
}

void Finish(const SweepFailures& failures) {
  std::printf("%s\n", failures.Summary().c_str());
  EXPECT_EQ(failures.Failed(), 0u) << failures.Report();
}

TEST(PowerLossSweep, ThePowerCutAtAnyTransferOfAnUpdateBreaksNoRule) {
  const UpdateSpan span = CleanUpdateSpan();
  SweepFailures failures("update, the power cut at a transfer");
  std::size_t kind = 0;
  for (const EepromWrite write : {EepromWrite::kKept, EepromWrite::kLost}) {
    for (const std::size_t at : SweepPoints(span.firstTransfer, span.lastTransfer, kUpdateStride, kind++)) {
      const PlantedFault fault = PowerLossAt(at, write);
      failures.Add(Describe(fault), UpdateUnderFaults({fault}));
    }
  }
  Finish(failures);
}

TEST(PowerLossSweep, ThePowerCutAtAnyTransferOfARestoreBreaksNoRule) {
  const RestoreSpan span = CleanRestoreSpan();
  SweepFailures failures("restore, the power cut at a transfer");
  std::size_t kind = 0;
  for (const EepromWrite write : {EepromWrite::kKept, EepromWrite::kLost}) {
    for (const std::size_t at : SweepPoints(span.firstTransfer, span.lastTransfer, kRestoreStride, kind++)) {
      const PlantedFault fault = PowerLossAt(at, write);
      failures.Add(Describe(fault), RestoreUnderFaults({fault}));
    }
  }
  Finish(failures);
}

}  // namespace
}  // namespace lu14::testing
