#include "app/cli/SimulatedMeter.h"

#include "device/MeterProtocol.h"
#include "status/StatusParameters.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {
constexpr std::uint16_t kLowBatteryRaw = 19200;  // 1.2 V with the coefficient 1.0
constexpr std::size_t kUnplugAfterChunks = 1000;

std::u16string PathOf(std::size_t index) {
  const std::string path = "simulated-meter-" + std::to_string(index + 1);
  return std::u16string(path.begin(), path.end());
}
}  // namespace

SimulatedMeter::SimulatedMeter(EventLoop& loop, const std::string& fault, std::chrono::microseconds latency,
                               int meters)
    : bus_(loop) {
  bus_.SetTransferLatency(latency);
  unplugDuringUpdate_ = fault == "unplug-during-update";
  using sim::CommandFault;
  using sim::Commands;
  for (std::size_t index = 0; index < static_cast<std::size_t>(meters); ++index) {
    auto meter = std::make_shared<sim::SimMeter>();
    meter->SetTracing(false);
    meter->SetVersionText(fault == "up-to-date" ? std::string(kFirmwareVersionText) : kSimulatedOlderFirmware);
    // Each meter its own identity: the second identity byte differs.
    const IdentityRead second = kIdentityReads[1];
    meter->SetInfo(second.command, second.parameter,
                   static_cast<std::uint8_t>(meter->Info(second.command, second.parameter) + index));
    if (fault == "low-battery") meter->SetBatteryRaw(kLowBatteryRaw);
    if (fault == "incomplete-firmware") meter->SetFirmwareFlag(0x88);
    if (fault == "sum-mismatch") meter->Faults().Add({.which = Commands::IndexOf(cmdWriteChunk, 999), .sumDelta = 1});
    if (fault == "wrong-checksum") {
      meter->Faults().Add({.which = Commands::AllOf(cmdReadChecksum), .checksum = 0x123456});
    }
    if (fault == "write-refused") {
      meter->Faults().Add({.which = Commands::AllOf(cmdWriteEeprom), .busyReads = CommandFault::kForever});
    }
    meters_.push_back(meter);
    if (fault == "no-meter") continue;
    sim::SimHidSpec attached;
    attached.deviceId = static_cast<std::uint32_t>(index + 1);
    attached.path = PathOf(index);
    attached.attributes = {kMeterVendorId, kMeterProductId, 0x0100};
    attached.device = meter;
    bus_.Attach(attached);
  }
}

void SimulatedMeter::Step() {
  if (!unplugDuringUpdate_) return;
  for (std::size_t index = 0; index < meters_.size(); ++index) {
    const auto deviceId = static_cast<std::uint32_t>(index + 1);
    if (bus_.Present(deviceId) && meters_[index]->Commits().size() * 16 >= kUnplugAfterChunks) bus_.Unplug(deviceId);
  }
}

}  // namespace lu14::cli
