#include "sim/meter/SimMeterFaults.h"

#include <stdexcept>
#include <string>

namespace lu14::sim {

void CheckPowerLoss(const PowerLoss& how) {
  if (how.pageBytesProgrammed > PowerLoss::kWholePage) {
    throw std::out_of_range("PowerLoss: pageBytesProgrammed " + std::to_string(how.pageBytesProgrammed) +
                            " is past the page's " + std::to_string(PowerLoss::kWholePage) + " bytes");
  }
}

void FaultPlan::Add(const CommandFault& fault) {
  if (fault.echoByte < 1 || fault.echoByte > 17) {
    throw std::out_of_range("FaultPlan::Add: echoByte " + std::to_string(fault.echoByte) + " is outside 1..17");
  }
  const std::size_t first = fault.which.fromNow ? Received(fault.which.code) + fault.which.first : fault.which.first;
  rules_.push_back({fault, first});
}

void FaultPlan::SetPowerLoss(const PowerLoss& how) {
  CheckPowerLoss(how);
  powerLoss_ = how;
}

void FaultPlan::Clear() {
  rules_.clear();
  failingTransfers_.clear();
  failSends_ = 0;
  failReads_ = 0;
  busyReads_ = 0;
  powerLoss_ = {};
}

std::size_t FaultPlan::Received(const std::optional<std::uint8_t>& code) const {
  return code ? receivedByCode_[*code] : commandsReceived_;
}

FaultEffect FaultPlan::OnCommand(std::uint8_t code) {
  FaultEffect merged;
  for (const Rule& rule : rules_) {
    const Commands& which = rule.fault.which;
    if (which.code && *which.code != code) continue;
    const std::size_t index = Received(which.code);  // this command's index among those the rule counts
    if (index < rule.first) continue;
    if (which.count != Commands::kEvery && index - rule.first >= which.count) continue;

    const CommandFault& fault = rule.fault;
    merged.busyReads = (fault.busyReads > CommandFault::kForever - merged.busyReads)
                           ? CommandFault::kForever
                           : merged.busyReads + fault.busyReads;
    if (fault.corruptEcho) merged.invertedEchoBytes.set(fault.echoByte);
    merged.sumDelta += fault.sumDelta;
    if (fault.checksum) merged.checksum = fault.checksum;
    merged.staleReply = merged.staleReply || fault.staleReply;
  }
  ++commandsReceived_;
  ++receivedByCode_[code];
  return merged;
}

bool FaultPlan::TransferFails(std::size_t traceIndex, TransferDirection direction) {
  if (failingTransfers_.erase(traceIndex) != 0) return true;
  std::size_t& pending = direction == TransferDirection::kSetFeature ? failSends_ : failReads_;
  if (pending == 0) return false;
  --pending;
  return true;
}

bool FaultPlan::TakeBusyRead() {
  if (busyReads_ == 0) return false;
  --busyReads_;
  return true;
}

}  // namespace lu14::sim
