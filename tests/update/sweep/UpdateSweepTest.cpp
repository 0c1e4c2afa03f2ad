// Faults at every transfer and every command of a whole update of the
// window's meter (sampled in CI, every point with LU14_DENSE_SWEEPS=1), and
// pairs of faults where the second strikes the retry of the first. Each run
// is held to the checks of UpdateUnderFaults.
#include <gtest/gtest.h>

#include <cstdio>

#include "device/MeterProtocol.h"
#include "tests/update/sweep/SweepPoints.h"
#include "tests/update/sweep/UpdateUnderFaults.h"

namespace lu14::testing {
namespace {

// Sampled strides: a few hundred points for each kind across the update.
constexpr std::size_t kTransferStride = 61;
constexpr std::size_t kCommandStride = 23;
// Pairs: the first fault every this many transfers, the second 1..kRetryReach later.
constexpr std::size_t kPairStride = 211;
constexpr std::size_t kRetryReach = 8;

void Sweep(SweepFailures& failures, const PlantedFault& fault) {
  failures.Add(Describe(fault), UpdateUnderFaults({fault}));
}

void Finish(const SweepFailures& failures) {
  std::printf("%s\n", failures.Summary().c_str());
  EXPECT_EQ(failures.Failed(), 0u) << failures.Report();
}

TEST(UpdateSweep, AFaultAtAnyTransferBreaksNoRule) {
  const UpdateSpan span = CleanUpdateSpan();
  ASSERT_GT(span.lastTransfer, span.firstTransfer + 14000);  // about 14,150 transfers
  SweepFailures failures("update, a fault at a transfer");
  std::size_t kind = 0;
  for (const std::size_t burst : {1, 2, 3}) {
    for (const std::size_t at : SweepPoints(span.firstTransfer, span.lastTransfer, kTransferStride, kind++)) {
      Sweep(failures, {.kind = FaultKind::FailedTransfer, .at = at, .count = burst});
    }
  }
  for (const std::size_t at : SweepPoints(span.firstTransfer, span.lastTransfer, kTransferStride, kind++)) {
    Sweep(failures, {.kind = FaultKind::Unplug, .at = at});
  }
  Finish(failures);
}

TEST(UpdateSweep, AFaultAtAnyCommandBreaksNoRule) {
  const UpdateSpan span = CleanUpdateSpan();
  ASSERT_GT(span.lastCommand, span.firstCommand + 6000);
  SweepFailures failures("update, a fault at a command");
  std::size_t kind = 0;
  for (const FaultKind fault : kCommandFaults) {
    for (const std::size_t burst : {1, 2, 3}) {
      // The wrong checksum and the corrupt sum hit one kind of command each;
      // a burst of them means nothing more.
      if (burst > 1 && (fault == FaultKind::WrongChecksum || fault == FaultKind::CorruptSum)) continue;
      for (const std::size_t at : SweepPoints(span.firstCommand, span.lastCommand, kCommandStride, kind++)) {
        const std::size_t echoByte = kEchoFirst + (at + kind) % (kEchoLast - kEchoFirst + 1);
        Sweep(failures, {.kind = fault, .at = at, .count = burst, .echoByte = echoByte});
      }
    }
  }
  Finish(failures);
}

TEST(UpdateSweep, ASecondFaultInTheRetryOfTheFirstBreaksNoRule) {
  const UpdateSpan span = CleanUpdateSpan();
  SweepFailures failures("update, a fault and a second one in its retry");
  std::size_t kind = 0;
  // A failed transfer, then another one or an unplug a few transfers later:
  // in the second send or read of the same transaction, or in the next
  // attempt of a confirmed read.
  for (const FaultKind second : kTransferFaults) {
    for (const std::size_t at : SweepPoints(span.firstTransfer, span.lastTransfer, kPairStride, kind++)) {
      for (std::size_t later = 1; later <= kRetryReach; ++later) {
        const PlantedFault faults[] = {{.kind = FaultKind::FailedTransfer, .at = at},
                                       {.kind = second, .at = at + later}};
        failures.Add(Describe(faults[0]) + ", " + Describe(faults[1]), UpdateUnderFaults({faults[0], faults[1]}));
      }
    }
  }
  // A command fault, then a fault of the same or another kind in the command
  // that retries it.
  for (const FaultKind first : {FaultKind::StaleReply, FaultKind::BusyForGood, FaultKind::CorruptEcho}) {
    for (const FaultKind second : kCommandFaults) {
      for (const std::size_t at : SweepPoints(span.firstCommand, span.lastCommand, kPairStride / 3, kind++)) {
        const PlantedFault faults[] = {{.kind = first, .at = at}, {.kind = second, .at = at + 1}};
        failures.Add(Describe(faults[0]) + ", " + Describe(faults[1]), UpdateUnderFaults({faults[0], faults[1]}));
      }
    }
  }
  Finish(failures);
}

}  // namespace
}  // namespace lu14::testing
