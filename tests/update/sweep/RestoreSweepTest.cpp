// Faults at every transfer and every command of a restore of six bytes
// (sampled in CI, every point with LU14_DENSE_SWEEPS=1), each run held to the
// checks of RestoreUnderFaults.
#include <gtest/gtest.h>

#include <cstdio>

#include "device/MeterProtocol.h"
#include "tests/update/sweep/RestoreUnderFaults.h"
#include "tests/update/sweep/SweepPoints.h"

namespace lu14::testing {
namespace {

constexpr std::size_t kTransferStride = 29;
constexpr std::size_t kCommandStride = 11;

void Finish(const SweepFailures& failures) {
  std::printf("%s\n", failures.Summary().c_str());
  EXPECT_EQ(failures.Failed(), 0u) << failures.Report();
}

TEST(RestoreSweep, AFaultAtAnyTransferLeavesOnlyOriginalOrIntendedBytesAndATrueAccount) {
  const RestoreSpan span = CleanRestoreSpan();
  ASSERT_GT(span.lastTransfer, span.firstTransfer + 6100);  // 2048 reads, then six writes each read back
  SweepFailures failures("restore, a fault at a transfer");
  std::size_t kind = 0;
  for (const std::size_t burst : {1, 2, 3}) {
    for (const std::size_t at : SweepPoints(span.firstTransfer, span.lastTransfer, kTransferStride, kind++)) {
      const PlantedFault fault{.kind = FaultKind::FailedTransfer, .at = at, .count = burst};
      failures.Add(Describe(fault), RestoreUnderFaults({fault}));
    }
  }
  for (const std::size_t at : SweepPoints(span.firstTransfer, span.lastTransfer, kTransferStride, kind++)) {
    const PlantedFault fault{.kind = FaultKind::Unplug, .at = at};
    failures.Add(Describe(fault), RestoreUnderFaults({fault}));
  }
  Finish(failures);
}

TEST(RestoreSweep, AFaultAtAnyCommandLeavesOnlyOriginalOrIntendedBytesAndATrueAccount) {
  const RestoreSpan span = CleanRestoreSpan();
  SweepFailures failures("restore, a fault at a command");
  std::size_t kind = 0;
  for (const FaultKind fault : kCommandFaults) {
    if (fault == FaultKind::WrongChecksum || fault == FaultKind::CorruptSum) continue;  // a restore sends neither
    for (const std::size_t burst : {1, 2, 3}) {
      for (const std::size_t at : SweepPoints(span.firstCommand, span.lastCommand, kCommandStride, kind++)) {
        const std::size_t echoByte = kEchoFirst + (at + kind) % (kEchoLast - kEchoFirst + 1);
        const PlantedFault planted{.kind = fault, .at = at, .count = burst, .echoByte = echoByte};
        failures.Add(Describe(planted), RestoreUnderFaults({planted}));
      }
    }
  }
  Finish(failures);
}

}  // namespace
}  // namespace lu14::testing
