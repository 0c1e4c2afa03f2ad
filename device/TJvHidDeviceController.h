// TJvHidDeviceController: keeps the list of HID devices present, rescans when
// the system reports that its device tree changed, and tells its owner
// through events. Only the part of the component that the tool uses.
//
// A scan builds a fresh set of device objects for the interfaces present,
// reports listed devices that are gone (last to first), drops fresh objects
// for devices already listed, appends the rest, and ends with OnDeviceChange
// when anything changed (always for the start-up notice). Checked-out devices
// that are unplugged stay listed, and are reported removed again at every scan.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ports/HidPlatform.h"
#include "device/TJvHidDevice.h"

namespace lu14 {

class TJvHidDeviceController {
 public:
  // The second parameter of the controller's own start-up notice.
  static constexpr std::intptr_t kStartupNotice = -1;

  // Runs one piece of work at a dispatch boundary of the owner (which catches
  // and reports what it throws). Device-change notices arrive through it.
  using Dispatcher = std::function<void(const std::function<void()>&)>;

  // Binds the platform services; with them bound, creates the notification
  // window and posts the start-up notice to it. Without them the controller
  // never scans.
  TJvHidDeviceController(HidPlatform& platform, Dispatcher dispatcher);
  // Detaches the handlers, stops the notices, unplugs the checked-out devices
  // and destroys every device object.
  ~TJvHidDeviceController();
  TJvHidDeviceController(const TJvHidDeviceController&) = delete;
  TJvHidDeviceController& operator=(const TJvHidDeviceController&) = delete;

  // Events. Attaching them starts no scan.
  std::function<bool(TJvHidDevice& device, std::int32_t index)> OnEnumerate;
  std::function<void()> OnDeviceChange;
  std::function<void(TJvHidDevice& device)> OnRemoval;
  std::function<void(TJvHidDevice& device)> OnArrival;
  std::function<void(const TJvHidPnPInfo& pnpInfo, bool& handled, bool& retryCreate)> OnDeviceCreateError;

  // Hands every plugged-in device, checked out or not, to OnEnumerate in list
  // order; closes the handles of those left checked in; stops after the first
  // call that returns false. Returns the number of devices handed over.
  std::int32_t Enumerate();

  bool Bound() const { return bound_; }
  // The list, in order, for inspection.
  std::vector<TJvHidDevice*> Devices() const;

 private:
  // The notification window's procedure for a DBT_DEVNODES_CHANGED notice. A
  // notice that arrives while a scan runs is dropped, not deferred.
  void DeviceChangeNotice(std::intptr_t secondParameter);
  void DeviceChange();
  std::vector<std::unique_ptr<TJvHidDevice>> PresentDevices();
  std::unique_ptr<TJvHidDevice> CreateDevice(const HidInterface& hidInterface);
  // Runs an event for a device with its FIsEnumerated set meanwhile.
  template <typename Event>
  void WhileEnumerated(TJvHidDevice& device, Event&& event);

  HidPlatform& platform_;
  Dispatcher dispatcher_;
  bool bound_ = false;
  bool destroying_ = false;
  bool inDeviceChange_ = false;
  std::intptr_t lParam_ = 0;
  std::vector<std::unique_ptr<TJvHidDevice>> list_;
};

}  // namespace lu14
