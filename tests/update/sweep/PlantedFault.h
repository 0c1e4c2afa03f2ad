// The faults a sweep plants in a run with a simulated meter: at a transfer of
// the bus, or at a command the meter receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/SimHidBus.h"
#include "sim/meter/SimMeter.h"

namespace lu14::testing {

enum class FaultKind {
  // At a bus transfer, counted from 1 over the whole bus.
  FailedTransfer,  // `count` transfers in a row fail (a send is not received, a read leaves the buffer)
  Unplug,          // the meter is pulled out as the transfer starts
  PowerLoss,       // the meter's power is cut as the transfer starts, in the way `powerLoss` says
  // At a command the meter receives, counted from 0 since the meter was made.
  BusyOnce,          // the first read of the reply answers busy
  BusyForGood,       // the command never completes
  CorruptEcho,       // the reply's echo differs in byte echoByte
  EchoNeverMatches,  // the echo differs in four commands in a row: every pass of one transaction
  CorruptSum,        // a chunk's reply gives a wrong sum
  StaleReply,        // the command takes effect, but its reads answer the reply before it
  WrongChecksum,     // the checksum command reports another checksum
};

inline constexpr FaultKind kTransferFaults[] = {FaultKind::FailedTransfer, FaultKind::Unplug, FaultKind::PowerLoss};
inline constexpr FaultKind kCommandFaults[] = {FaultKind::BusyOnce,        FaultKind::BusyForGood,
                                               FaultKind::CorruptEcho,     FaultKind::EchoNeverMatches,
                                               FaultKind::CorruptSum,      FaultKind::StaleReply,
                                               FaultKind::WrongChecksum};

struct PlantedFault {
  FaultKind kind = FaultKind::FailedTransfer;
  std::size_t at = 0;
  // A burst: this many transfers or commands in a row (for the command faults
  // every command of the burst gets the fault).
  std::size_t count = 1;
  std::size_t echoByte = 17;  // CorruptEcho, EchoNeverMatches: 3..17
  sim::PowerLoss powerLoss{};  // PowerLoss: what becomes of a page commit or an EEPROM write under way
};

bool AtTransfer(FaultKind kind);
std::string Describe(const PlantedFault& fault);
void Plant(sim::SimHidBus& bus, sim::SimMeter& meter, std::uint32_t meterId, const PlantedFault& fault);

}  // namespace lu14::testing
