// A fault at every point of a whole update (a dense sample of them): the tool
// keeps running, claims success only for a meter that holds the whole image,
// never leaves the "complete" mark over a wrong image, and a second try after
// the fault succeeds.
#include <gtest/gtest.h>

#include "tests/update/UpdateRun.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;
using sim::CommandFault;
using sim::Commands;

// One-off faults, which the transaction's retries mostly absorb, and lasting
// ones, which make a transaction give up wherever they strike.
enum class Fault { Unplug, FailedSend, FailedRead, Busy, CorruptEcho, CorruptSum, GivesUp, EchoNeverMatches };

const char* Name(Fault fault) {
  switch (fault) {
    case Fault::Unplug: return "unplug";
    case Fault::FailedSend: return "failed send";
    case Fault::FailedRead: return "failed read";
    case Fault::Busy: return "busy reply";
    case Fault::CorruptEcho: return "corrupt echo";
    case Fault::CorruptSum: return "corrupt sum";
    case Fault::GivesUp: return "busy for good";
    case Fault::EchoNeverMatches: return "echo never matching";
  }
  return "";
}

// Transfers of the first poll and of a clean update, measured once.
struct Span {
  std::size_t firstTransfer;  // 1-based bus transfer of the update's first command
  std::size_t lastTransfer;
  std::size_t firstCommand;   // 0-based index of the update's first command at the meter
  std::size_t lastCommand;
};

Span CleanUpdateSpan() {
  UpdateRun run;
  run.Poll();
  const std::size_t transfersBefore = run.bus.Transfers();
  const std::size_t commandsBefore = run.meter->CommandCodes().size();
  run.PressB1();
  run.RunUpdateToItsEnd();
  return {transfersBefore + 1, run.bus.Transfers(), commandsBefore, run.meter->CommandCodes().size() - 1};
}

// Echo faults invert a different byte at each point, over every byte the
// echo check compares (3..17).
void Inject(UpdateRun& run, Fault fault, std::size_t transfer, std::size_t command, std::size_t echoByte) {
  switch (fault) {
    case Fault::Unplug: run.bus.UnplugAtTransfer(transfer, kMeterId); break;
    case Fault::FailedSend:
    case Fault::FailedRead: run.bus.FailTransfer(transfer); break;  // a send or a read, whichever falls there
    case Fault::Busy: run.meter->Faults().Add({.which = Commands::Index(command), .busyReads = 1}); break;
    case Fault::CorruptEcho:
      run.meter->Faults().Add({.which = Commands::Index(command), .corruptEcho = true, .echoByte = echoByte});
      break;
    case Fault::CorruptSum: run.meter->Faults().Add({.which = Commands::Index(command), .sumDelta = 1}); break;
    case Fault::GivesUp:
      run.meter->Faults().Add({.which = Commands::Index(command), .busyReads = CommandFault::kForever});
      break;
    case Fault::EchoNeverMatches:
      run.meter->Faults().Add({.which = Commands::Index(command, 4), .corruptEcho = true, .echoByte = echoByte});
      break;
  }
}

TEST(FaultSweep, NoFaultAnywhereInAnUpdateLosesTheMeterOrClaimsFalseSuccess) {
  const Span span = CleanUpdateSpan();
  ASSERT_GT(span.lastTransfer, span.firstTransfer);
  constexpr std::size_t kStride = 97;  // about 130 points across the update, chunks and all
  int runs = 0;
  for (Fault fault : {Fault::Unplug, Fault::FailedSend, Fault::FailedRead, Fault::Busy, Fault::CorruptEcho,
                      Fault::CorruptSum, Fault::GivesUp, Fault::EchoNeverMatches}) {
    for (std::size_t offset = 0; span.firstTransfer + offset <= span.lastTransfer; offset += kStride) {
      const std::size_t echoByte = kEchoFirst + (offset / kStride) % (kEchoLast - kEchoFirst + 1);
      SCOPED_TRACE(std::string(Name(fault)) + " at update transfer " + std::to_string(offset) + " (echo byte " +
                   std::to_string(echoByte) + ")");
      UpdateRun run;
      run.meter->SetTracing(false);
      run.runtime.SetBoxAnswerDelay(200ms);
      run.Poll();
      const std::size_t command = span.firstCommand + offset / 3;
      Inject(run, fault, span.firstTransfer + offset, command, echoByte);
      run.PressB1();
      run.RunUpdateToItsEnd();
      run.runtime.RunFor(50ms);  // a pending removal is handled

      EXPECT_EQ(run.FailureBoxes(), 0u);
      const bool success = run.Logged(kLogUpdateDone);
      if (success) {
        EXPECT_TRUE(run.MeterHoldsTheImage());
      }
      if (run.CommandCount(cmdWriteChunk) > 0 && run.meter->FirmwareFlag() == kFirmwareComplete) {
        EXPECT_TRUE(run.MeterHoldsTheImage());
      }

      // The user recovers: plugs the meter back in (or out and in, to leave a
      // stalled update) and presses B1 again once the poll allows it.
      if (!success) {
        if (run.bus.Present(kMeterId)) run.bus.Unplug(kMeterId);
        run.runtime.RunFor(10ms);
        run.bus.Plug(MeterSpec(run.meter, kMeterId));
        run.runtime.RunFor(10ms);
        run.Poll();
        ASSERT_TRUE(run.form.B1.Enabled());
        run.form.LB.Clear();
        run.PressB1();
        run.RunUpdateToItsEnd();
        EXPECT_TRUE(run.Logged(kLogUpdateDone));
        EXPECT_TRUE(run.MeterHoldsTheImage());
        EXPECT_EQ(run.meter->FirmwareFlag(), kFirmwareComplete);
      }
      ++runs;
    }
  }
  std::printf("fault sweep: %d runs\n", runs);
}

}  // namespace
}  // namespace lu14::testing
