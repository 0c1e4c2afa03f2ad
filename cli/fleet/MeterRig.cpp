#include "cli/fleet/MeterRig.h"

#include "cli/fleet/OneMeterPlatform.h"
#include "cli/os/HardwarePlatform.h"
#include "ports/Utf.h"
#include "runtime/RealTimeRuntime.h"

namespace lu14::cli {
namespace {

class RealTimeRig : public MeterRig {
 public:
  RealTimeRig(std::optional<std::filesystem::path> documents, std::ostream& boxes)
      : runtime_(std::move(documents), boxes) {}
  Shell& RigShell() override { return runtime_; }
  EventLoop& Loop() override { return runtime_; }

 protected:
  RealTimeRuntime runtime_;
};

class SimulatedMeterRig : public RealTimeRig {
 public:
  SimulatedMeterRig(const SimulatedMeter& meters, const std::string& id, std::optional<std::filesystem::path> documents,
                    std::ostream& boxes)
      : RealTimeRig(std::move(documents), boxes), bus_(meters.BusOf(id, runtime_)) {}
  bool Serves() const { return bus_ != nullptr; }
  HidPlatform& Platform() override { return bus_->Platform(); }
  void Step() override { bus_->Step(); }

 private:
  std::unique_ptr<SimulatedMeter::Bus> bus_;
};

class HardwareMeterRig : public RealTimeRig {
 public:
  HardwareMeterRig(const std::string& id, std::optional<std::filesystem::path> documents, std::ostream& boxes)
      : RealTimeRig(std::move(documents), boxes),
        hardware_(MakeHardwarePlatform(runtime_)),
        meter_(*hardware_.platform, Utf8ToUtf16(id)) {}
  HidPlatform& Platform() override { return meter_; }
  void Step() override {
    if (hardware_.step) hardware_.step();
  }

 private:
  HardwarePlatform hardware_;
  OneMeterPlatform meter_;
};

}  // namespace

std::unique_ptr<MeterRig> SimulatedRig(const SimulatedMeter& meters, const std::string& id,
                                       std::optional<std::filesystem::path> documents, std::ostream& boxes) {
  auto rig = std::make_unique<SimulatedMeterRig>(meters, id, std::move(documents), boxes);
  if (!rig->Serves()) return nullptr;
  return rig;
}

std::unique_ptr<MeterRig> HardwareRig(const std::string& id, std::optional<std::filesystem::path> documents,
                                      std::ostream& boxes) {
  return std::make_unique<HardwareMeterRig>(id, std::move(documents), boxes);
}

}  // namespace lu14::cli
