#include "device/MeterLink.h"

#include <algorithm>
#include <string>


namespace lu14 {
namespace {
// Busy replies and echo mismatches share one counter: a busy reply that takes
// it above 2 ends the transaction; an echo mismatch that takes it to 4 opens
// the box.
constexpr std::uint8_t kMostBusyAttempts = 2;
constexpr std::uint8_t kMismatchAttemptsForBox = 4;
}  // namespace

LinkError::LinkError(LinkFault fault)
    : Refusal(fault == LinkFault::NoDevice ? "no meter is current" : "the link is busy with another command"),
      fault_(fault) {}

MeterLink::MeterLink(Shell& shell, LinkObserver& observer) : shell_(shell), observer_(observer) {}

void MeterLink::SetParameter(std::uint16_t parameter) {
  OutReport[kParamHigh] = static_cast<std::uint8_t>(parameter >> 8);
  OutReport[kParamLow] = static_cast<std::uint8_t>(parameter & 0xFF);
}

void MeterLink::SetRequestByte(std::size_t index, std::uint8_t value) {
  if (index == 0 || index >= kCommandByte) throw std::out_of_range("request byte outside 1..17");
  OutReport[index] = value;
}

void MeterLink::SetRequestBytes(std::size_t first, std::span<const std::uint8_t> bytes) {
  if (first == 0 || first + bytes.size() > kCommandByte) throw std::out_of_range("request bytes outside 1..17");
  std::copy(bytes.begin(), bytes.end(), OutReport.begin() + static_cast<std::ptrdiff_t>(first));
}

TJvHidDevice& MeterLink::Device() const {
  if (!currentDevice_) throw NoDeviceError();
  return *currentDevice_;
}

bool MeterLink::LengthFits(TJvHidDevice& device) {
  const std::uint16_t length = device.Caps().featureReportByteLength;
  if (length == kReportSize) return true;
  // 0: the device gave no capability record (it cannot be opened); the
  // transfer simply fails. Any other length is a device we do not know.
  if (length != 0 && lengthReportedFor_ != &device) {
    lengthReportedFor_ = &device;
    observer_.LinkEventHappened({LinkEventKind::WrongReportLength, 0, length});
  }
  return false;
}

bool MeterLink::SetFeature(const Report& report) {
  TJvHidDevice& device = Device();
  return LengthFits(device) && device.SetFeature(report);
}

bool MeterLink::GetFeature(Report& report) {
  TJvHidDevice& device = Device();
  return LengthFits(device) && device.GetFeature(report);
}

bool MeterLink::ReplyEchoesRequest(std::size_t first) const {
  const auto from = static_cast<std::ptrdiff_t>(first);
  return std::equal(OutReport.begin() + from, OutReport.begin() + kEchoLast + 1, InReport.begin() + from);
}

bool MeterLink::Send(std::uint8_t command) {
  OutReport[0] = 0;
  OutReport[kCommandByte] = command;
  bool sent = SetFeature(OutReport);
  if (!sent) {
    shell_.Sleep(kRetryPause);
    sent = SetFeature(OutReport);
    Tell(LinkEventKind::Resent, command);
  }
  if (sent) lastSent_ = OutReport;
  return sent;
}

MeterLink::ReadOutcome MeterLink::ReadCycle(std::uint8_t command) {
  // The status byte is preset before each read, so a read that leaves the
  // buffer alone never passes for a "done" reply.
  InReport[kStatusByte] = 2;
  if (GetFeature(InReport)) return ReadOutcome::Replied;
  shell_.Sleep(kRetryPause);
  InReport[kStatusByte] = 1;
  if (GetFeature(InReport)) return ReadOutcome::Replied;
  shell_.Sleep(kRetryPause);
  InReport[kStatusByte] = 3;
  const bool replied = GetFeature(InReport);
  Tell(LinkEventKind::ReadsFailed, command);
  if (replied) return ReadOutcome::Replied;
  Tell(LinkEventKind::GaveUp, command);
  return ReadOutcome::GaveUp;
}

bool MeterLink::SendCommand(std::uint8_t command, bool verify) {
  Device();
  if (inTransaction_) throw DeviceBusyError();
  inTransaction_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{inTransaction_};

  std::uint8_t attempts = 0;
  for (;;) {
    if (!Send(command)) {
      Tell(LinkEventKind::GaveUp, command);
      return false;
    }
    for (;;) {
      if (ReadCycle(command) == ReadOutcome::GaveUp) return false;
      if (InReport[kStatusByte] == kStatusDone) break;
      shell_.Sleep(kRetryPause);
      if (++attempts > kMostBusyAttempts) {
        Tell(LinkEventKind::StillBusy, command);
        return false;
      }
    }
    if (!verify || ReplyEchoesRequest()) return true;
    Tell(LinkEventKind::EchoMismatch, command);
    if (++attempts < kMismatchAttemptsForBox) continue;  // a new pass at once, no wait
    observer_.WriteNotConfirmed(command);
    return false;
  }
}

}  // namespace lu14
