#include "tests/update/sweep/PlantedFault.h"

namespace lu14::testing {
namespace {

using sim::CommandFault;
using sim::Commands;

constexpr std::uint32_t kOtherChecksum = 0x123456;
constexpr std::size_t kPassesOfATransaction = 4;

const char* Name(FaultKind kind) {
  switch (kind) {
    case FaultKind::FailedTransfer: return "failed transfer";
    case FaultKind::Unplug: return "unplug";
    case FaultKind::PowerLoss: return "power loss";
    case FaultKind::BusyOnce: return "busy once";
    case FaultKind::BusyForGood: return "busy for good";
    case FaultKind::CorruptEcho: return "corrupt echo";
    case FaultKind::EchoNeverMatches: return "echo never matching";
    case FaultKind::CorruptSum: return "corrupt sum";
    case FaultKind::StaleReply: return "stale reply";
    case FaultKind::WrongChecksum: return "wrong checksum";
  }
  return "";
}

}  // namespace

bool AtTransfer(FaultKind kind) {
  return kind == FaultKind::FailedTransfer || kind == FaultKind::Unplug || kind == FaultKind::PowerLoss;
}

std::string Describe(const PlantedFault& fault) {
  std::string text = Name(fault.kind);
  if (fault.count > 1) text += " x" + std::to_string(fault.count);
  text += AtTransfer(fault.kind) ? " at transfer " : " at command ";
  text += std::to_string(fault.at);
  if (fault.kind == FaultKind::CorruptEcho || fault.kind == FaultKind::EchoNeverMatches) {
    text += " (echo byte " + std::to_string(fault.echoByte) + ")";
  }
  if (fault.kind == FaultKind::PowerLoss) {
    const bool kept = fault.powerLoss.eepromWrite == sim::PowerLoss::EepromWrite::kKept;
    text += " (a commit under way programs " + std::to_string(fault.powerLoss.pageBytesProgrammed) +
            " bytes, an EEPROM write under way is " + (kept ? "kept)" : "lost)");
  }
  return text;
}

void Plant(sim::SimHidBus& bus, sim::SimMeter& meter, std::uint32_t meterId, const PlantedFault& fault) {
  const Commands commands = Commands::Index(fault.at, fault.count);
  switch (fault.kind) {
    case FaultKind::FailedTransfer:
      for (std::size_t i = 0; i < fault.count; ++i) bus.FailTransfer(fault.at + i);
      return;
    case FaultKind::Unplug: return bus.UnplugAtTransfer(fault.at, meterId);
    case FaultKind::PowerLoss:
      meter.Faults().SetPowerLoss(fault.powerLoss);
      return bus.LosePowerAtTransfer(fault.at, meterId);
    case FaultKind::BusyOnce: return meter.Faults().Add({.which = commands, .busyReads = 1});
    case FaultKind::BusyForGood:
      return meter.Faults().Add({.which = commands, .busyReads = CommandFault::kForever});
    case FaultKind::CorruptEcho:
      return meter.Faults().Add({.which = commands, .corruptEcho = true, .echoByte = fault.echoByte});
    case FaultKind::EchoNeverMatches:
      return meter.Faults().Add({.which = Commands::Index(fault.at, kPassesOfATransaction * fault.count),
                                 .corruptEcho = true,
                                 .echoByte = fault.echoByte});
    case FaultKind::CorruptSum: return meter.Faults().Add({.which = commands, .sumDelta = 1});
    case FaultKind::StaleReply: return meter.Faults().Add({.which = commands, .staleReply = true});
    case FaultKind::WrongChecksum: return meter.Faults().Add({.which = commands, .checksum = kOtherChecksum});
  }
}

}  // namespace lu14::testing
