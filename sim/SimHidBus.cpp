#include "sim/SimHidBus.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace lu14::sim {

class SimHidBus::Preparsed : public HidPreparsedData {
 public:
  explicit Preparsed(std::uint16_t length) : length_(length) {}
  std::optional<HidCaps> GetCaps() const override { return HidCaps{length_}; }

 private:
  std::uint16_t length_;
};

// A handle to a present device. Once the device is gone every call through
// the handle fails, as with a real handle to a removed device.
class SimHidBus::Handle : public HidHandle {
 public:
  Handle(SimHidBus& bus, std::uint32_t deviceId, std::u16string path)
      : bus_(bus), deviceId_(deviceId), path_(std::move(path)) {
    ++bus_.openHandles_[deviceId_];
  }
  ~Handle() override {
    --bus_.openHandles_[deviceId_];
    bus_.Record("close", path_);
  }

  std::optional<HidAttributes> GetAttributes() override {
    bus_.Record("attributes", path_);
    const SimHidSpec* spec = Spec();
    if (!spec || !spec->attributesReadable) return std::nullopt;
    return spec->attributes;
  }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    bus_.Record("preparsed", path_);
    const SimHidSpec* spec = Spec();
    if (!spec || !spec->preparsedDataReadable) return nullptr;
    return std::make_unique<Preparsed>(spec->featureReportLength);
  }
  bool SetFeature(std::span<const std::uint8_t> report) override {
    bus_.Record("set", path_);
    if (!bus_.BeginTransfer()) return false;
    const SimHidSpec* spec = Spec();
    return spec && spec->device && spec->device->SetFeature(report);
  }
  bool GetFeature(std::span<std::uint8_t> report) override {
    bus_.Record("get", path_);
    if (!bus_.BeginTransfer()) return false;
    const SimHidSpec* spec = Spec();
    return spec && spec->device && spec->device->GetFeature(report);
  }

 private:
  const SimHidSpec* Spec() const {
    const auto found = bus_.present_.find(deviceId_);
    return found == bus_.present_.end() ? nullptr : &found->second;
  }

  SimHidBus& bus_;
  std::uint32_t deviceId_;
  std::u16string path_;
};

SimHidBus::SimHidBus(EventLoop& loop) : loop_(loop) {}

void SimHidBus::Record(const std::string& call, const std::u16string& path) {
  calls_.push_back(call + " " + std::string(path.begin(), path.end()));
}

bool SimHidBus::Bind() { return bindable_; }

std::optional<std::vector<HidInterface>> SimHidBus::PresentInterfaces() {
  if (failInterfaceSet_) return std::nullopt;
  std::vector<HidInterface> interfaces;
  for (std::uint32_t deviceId : order_) interfaces.push_back({present_.at(deviceId).path, deviceId});
  return interfaces;
}

std::unique_ptr<HidHandle> SimHidBus::Open(const std::u16string& path, bool readWrite) {
  Record(readWrite ? "open rw" : "open query", path);
  const auto found = std::find_if(present_.begin(), present_.end(),
                                  [&path](const auto& entry) { return entry.second.path == path; });
  if (found == present_.end()) return nullptr;
  const SimHidSpec& spec = found->second;
  if (readWrite ? !spec.opensReadWrite : !spec.opensQueryOnly) return nullptr;
  return std::make_unique<Handle>(*this, spec.deviceId, path);
}

bool SimHidBus::StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) {
  notify_ = std::move(onDevicesChanged);
  return true;
}

void SimHidBus::PostDevicesChanged(std::intptr_t secondParameter) {
  loop_.Post([this, secondParameter] {
    if (notify_) notify_(secondParameter);
  });
}

void SimHidBus::StopNotifications() { notify_ = nullptr; }

void SimHidBus::Attach(SimHidSpec spec) {
  const std::uint32_t deviceId = spec.deviceId;
  if (!present_.contains(deviceId)) order_.push_back(deviceId);
  unpowered_.erase(deviceId);  // plugged in again by hand: powered
  present_[deviceId] = std::move(spec);
}

void SimHidBus::Plug(SimHidSpec spec) {
  Attach(std::move(spec));
  NotifyDevicesChanged();
}

void SimHidBus::Unplug(std::uint32_t deviceId) {
  present_.erase(deviceId);
  std::erase(order_, deviceId);
  NotifyDevicesChanged();
}

void SimHidBus::LosePower(std::uint32_t deviceId) {
  const auto found = present_.find(deviceId);
  if (found == present_.end()) return;
  SimHidSpec spec = found->second;
  if (spec.device) spec.device->PowerLost();
  Unplug(deviceId);
  unpowered_[deviceId] = std::move(spec);
}

void SimHidBus::RestorePower(std::uint32_t deviceId) {
  auto found = unpowered_.extract(deviceId);
  if (found.empty()) {
    throw std::logic_error("SimHidBus::RestorePower: device " + std::to_string(deviceId) + " has its power");
  }
  Plug(std::move(found.mapped()));
}

bool SimHidBus::BeginTransfer() {
  ++transfers_;
  loop_.Spend(latency_);
  if (const auto unplug = unplugAt_.find(transfers_); unplug != unplugAt_.end()) Unplug(unplug->second);
  if (const auto cut = losePowerAt_.find(transfers_); cut != losePowerAt_.end()) LosePower(cut->second);
  return !failingTransfers_.contains(transfers_);
}

int SimHidBus::OpenHandles(std::uint32_t deviceId) const {
  const auto found = openHandles_.find(deviceId);
  return found == openHandles_.end() ? 0 : found->second;
}

}  // namespace lu14::sim
