#include "cli/SimulatedMeter.h"

#include "device/MeterProtocol.h"
#include "status/StatusParameters.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {
constexpr std::uint16_t kLowBatteryRaw = 19200;  // 1.2 V with the coefficient 1.0
constexpr std::size_t kUnplugAfterChunks = 1000;

std::string IdOf(std::size_t index) { return "simulated-meter-" + std::to_string(index + 1); }

}  // namespace

SimulatedMeter::Bus::Bus(EventLoop& loop, std::chrono::microseconds latency) : hid_(loop) {
  hid_.SetTransferLatency(latency);
}

void SimulatedMeter::Bus::Step() {
  for (const Attached& attached : attached_) {
    if (attached.unplugDuringUpdate && hid_.Present(attached.deviceId) &&
        attached.meter->Commits().size() * 16 >= kUnplugAfterChunks) {
      hid_.Unplug(attached.deviceId);
    }
  }
}

SimulatedMeter::SimulatedMeter(EventLoop& loop, const std::string& fault, std::chrono::microseconds latency,
                               int meters, int faultMeter)
    : latency_(latency), bus_(loop, latency) {
  using sim::CommandFault;
  using sim::Commands;
  for (std::size_t index = 0; index < static_cast<std::size_t>(meters); ++index) {
    const bool hit = faultMeter == 0 || static_cast<std::size_t>(faultMeter) == index + 1;
    const std::string own = hit ? fault : "";
    auto meter = std::make_shared<sim::SimMeter>();
    meter->SetTracing(false);
    meter->SetVersionText(own == "up-to-date" ? std::string(kFirmwareVersionText) : kSimulatedOlderFirmware);
    // A meter up to date holds the carried firmware, so that its checksum says so as well as its version.
    if (own == "up-to-date") meter->SetFlash(0, std::span(CarriedStreamImage()).first(kStreamedLength));
    // Each meter its own identity: the second identity byte differs.
    const IdentityRead second = kIdentityReads[1];
    meter->SetInfo(second.command, second.parameter,
                   static_cast<std::uint8_t>(meter->Info(second.command, second.parameter) + index));
    if (own == "low-battery") meter->SetBatteryRaw(kLowBatteryRaw);
    if (own == "incomplete-firmware") meter->SetFirmwareFlag(0x88);
    if (own == "sum-mismatch") meter->Faults().Add({.which = Commands::IndexOf(cmdWriteChunk, 999), .sumDelta = 1});
    if (own == "wrong-checksum") {
      meter->Faults().Add({.which = Commands::AllOf(cmdReadChecksum), .checksum = 0x123456});
    }
    if (own == "write-refused") {
      meter->Faults().Add({.which = Commands::AllOf(cmdWriteEeprom), .busyReads = CommandFault::kForever});
    }
    meters_.push_back({meter, own != "no-meter", own == "unplug-during-update"});
    if (meters_.back().attached) Attach(bus_, index, meters_.back());
  }
}

void SimulatedMeter::Attach(Bus& bus, std::size_t index, const Made& made) {
  const std::string path = IdOf(index);
  sim::SimHidSpec attached;
  attached.deviceId = static_cast<std::uint32_t>(index + 1);
  attached.path = std::u16string(path.begin(), path.end());
  attached.attributes = {kMeterVendorId, kMeterProductId, 0x0100};
  attached.device = made.meter;
  bus.hid_.Attach(attached);
  bus.attached_.push_back({attached.deviceId, made.meter, made.unplugDuringUpdate});
}

std::unique_ptr<SimulatedMeter::Bus> SimulatedMeter::BusOf(const std::string& id, EventLoop& loop) const {
  for (std::size_t index = 0; index < meters_.size(); ++index) {
    if (IdOf(index) != id || !meters_[index].attached) continue;
    auto bus = std::make_unique<Bus>(loop, latency_);
    Attach(*bus, index, meters_[index]);
    return bus;
  }
  return nullptr;
}

}  // namespace lu14::cli
