#include "device/TJvHidDeviceController.h"

#include <algorithm>

namespace lu14 {
namespace {
// A creation handler that keeps asking for retries must not hang the scan.
constexpr int kMaxCreateAttempts = 3;
}  // namespace

TJvHidDeviceController::TJvHidDeviceController(HidPlatform& platform, Dispatcher dispatcher)
    : platform_(platform), dispatcher_(std::move(dispatcher)) {
  bound_ = platform_.Bind();
  if (!bound_) return;
  const bool listening = platform_.StartNotifications([this](std::intptr_t secondParameter) {
    dispatcher_([this, secondParameter] { DeviceChangeNotice(secondParameter); });
  });
  if (listening) platform_.PostDevicesChanged(kStartupNotice);
}

TJvHidDeviceController::~TJvHidDeviceController() {
  destroying_ = true;
  OnEnumerate = nullptr;
  OnDeviceChange = nullptr;
  OnRemoval = nullptr;
  OnArrival = nullptr;
  OnDeviceCreateError = nullptr;
  if (bound_) platform_.StopNotifications();
  for (const auto& device : list_) {
    if (device->IsCheckedOut()) device->Unplug();
  }
  list_.clear();
}

std::vector<TJvHidDevice*> TJvHidDeviceController::Devices() const {
  std::vector<TJvHidDevice*> devices;
  for (const auto& device : list_) devices.push_back(device.get());
  return devices;
}

template <typename Event>
void TJvHidDeviceController::WhileEnumerated(TJvHidDevice& device, Event&& event) {
  device.isEnumerated_ = true;
  struct Clear {
    TJvHidDevice& device;
    ~Clear() { device.isEnumerated_ = false; }
  } clear{device};
  event();
}

std::int32_t TJvHidDeviceController::Enumerate() {
  std::int32_t handedOver = 0;
  // By index: the list is not changed while it is walked, but a handler may
  // append to it no more than a scan can, and a scan cannot start meanwhile.
  for (std::size_t i = 0; i < list_.size(); ++i) {
    TJvHidDevice& device = *list_[i];
    if (!device.IsPluggedIn()) continue;
    bool goOn = true;
    ++handedOver;
    WhileEnumerated(device, [&] {
      if (OnEnumerate) goOn = OnEnumerate(device, static_cast<std::int32_t>(i));
    });
    if (!device.IsCheckedOut()) device.CloseFile();
    if (!goOn) break;
  }
  return handedOver;
}

void TJvHidDeviceController::DeviceChangeNotice(std::intptr_t secondParameter) {
  if (destroying_ || inDeviceChange_) return;
  lParam_ = secondParameter;
  inDeviceChange_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{inDeviceChange_};
  DeviceChange();
}

std::unique_ptr<TJvHidDevice> TJvHidDeviceController::CreateDevice(const HidInterface& hidInterface) {
  const TJvHidPnPInfo pnpInfo{hidInterface.deviceId, hidInterface.path};
  bool retryCreate = false;
  for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
    try {
      return std::make_unique<TJvHidDevice>(platform_, pnpInfo);
    } catch (const EControllerError&) {
      bool handled = false;
      if (OnDeviceCreateError) OnDeviceCreateError(pnpInfo, handled, retryCreate);
      // Whether handled or not, an interface that cannot be created is left
      // out of this scan; only an explicit retry tries it again.
      if (!retryCreate) return nullptr;
    }
  }
  return nullptr;
}

std::vector<std::unique_ptr<TJvHidDevice>> TJvHidDeviceController::PresentDevices() {
  std::vector<std::unique_ptr<TJvHidDevice>> fresh;
  const std::optional<std::vector<HidInterface>> interfaces = platform_.PresentInterfaces();
  if (!interfaces) return fresh;
  for (const HidInterface& hidInterface : *interfaces) {
    if (std::unique_ptr<TJvHidDevice> device = CreateDevice(hidInterface)) fresh.push_back(std::move(device));
  }
  return fresh;
}

void TJvHidDeviceController::DeviceChange() {
  bool changed = lParam_ == kStartupNotice;
  std::vector<std::unique_ptr<TJvHidDevice>> fresh = PresentDevices();

  const auto presentNow = [&fresh](std::uint32_t deviceId) {
    return std::any_of(fresh.begin(), fresh.end(),
                       [deviceId](const auto& device) { return device->PnPInfo().DeviceID == deviceId; });
  };
  // Removal pass, last to first. An unplugged device never counts as present again.
  for (std::size_t i = list_.size(); i-- > 0;) {
    TJvHidDevice& device = *list_[i];
    if (device.IsPluggedIn() && presentNow(device.PnPInfo().DeviceID)) continue;
    device.Unplug();
    WhileEnumerated(device, [&] {
      if (OnRemoval) OnRemoval(device);
    });
    if (!device.IsCheckedOut()) list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
    changed = true;
  }
  // Duplicate pass: fresh objects for devices already listed are dropped.
  std::erase_if(fresh, [this](const auto& candidate) {
    return std::any_of(list_.begin(), list_.end(), [&candidate](const auto& listed) {
      return listed->IsPluggedIn() && listed->PnPInfo().DeviceID == candidate->PnPInfo().DeviceID;
    });
  });
  // Arrival pass, in interface order.
  for (auto& device : fresh) {
    TJvHidDevice& arrived = *device;
    list_.push_back(std::move(device));
    changed = true;
    WhileEnumerated(arrived, [&] {
      if (OnArrival) OnArrival(arrived);
    });
  }
  if (changed && OnDeviceChange) OnDeviceChange();
}

}  // namespace lu14
