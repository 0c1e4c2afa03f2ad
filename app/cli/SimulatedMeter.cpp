#include "app/cli/SimulatedMeter.h"

#include "device/MeterProtocol.h"

namespace lu14::cli {
namespace {
constexpr std::uint32_t kSimulatedDeviceId = 1;
constexpr std::uint16_t kLowBatteryRaw = 19200;  // 1.2 V with the coefficient 1.0
constexpr std::size_t kUnplugAfterChunks = 1000;
}  // namespace

SimulatedMeter::SimulatedMeter(EventLoop& loop, const std::string& fault, std::chrono::microseconds latency)
    : bus_(loop) {
  bus_.SetTransferLatency(latency);
  meter_->SetTracing(false);
  using sim::CommandFault;
  using sim::Commands;
  if (fault == "low-battery") meter_->SetBatteryRaw(kLowBatteryRaw);
  if (fault == "incomplete-firmware") meter_->SetFirmwareFlag(0x88);
  if (fault == "sum-mismatch") meter_->Faults().Add({.which = Commands::IndexOf(cmdWriteChunk, 999), .sumDelta = 1});
  if (fault == "wrong-checksum") {
    meter_->Faults().Add({.which = Commands::AllOf(cmdReadChecksum), .checksum = 0x123456});
  }
  if (fault == "write-refused") {
    meter_->Faults().Add({.which = Commands::AllOf(cmdWriteEeprom), .busyReads = CommandFault::kForever});
  }
  unplugDuringUpdate_ = fault == "unplug-during-update";
  if (fault == "no-meter") return;
  sim::SimHidSpec spec;
  spec.deviceId = kSimulatedDeviceId;
  spec.path = u"simulated-meter";
  spec.attributes = {kMeterVendorId, kMeterProductId, 0x0100};
  spec.device = meter_;
  bus_.Attach(spec);
}

void SimulatedMeter::Step() {
  if (unplugDuringUpdate_ && bus_.Present(kSimulatedDeviceId) &&
      meter_->Commits().size() * 16 >= kUnplugAfterChunks) {
    bus_.Unplug(kSimulatedDeviceId);
  }
}

}  // namespace lu14::cli
