// A simulated HID bus behind the HidPlatform port: the devices present, their
// attributes, report length and access, the notification window's notices,
// and faults of the bus itself (a set that cannot be had, failed transfers,
// a device pulled out or its power lost at a given transfer). What a device
// answers to feature reports is its SimHidDevice (the simulated meter, for
// instance).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"
#include "sim/SimHidDevice.h"
#include "sim/SimRuntime.h"

namespace lu14::sim {

struct SimHidSpec {
  std::uint32_t deviceId = 0;
  std::u16string path;
  HidAttributes attributes;
  std::uint16_t featureReportLength = 19;
  // Answers the feature reports; null: every transfer fails.
  std::shared_ptr<SimHidDevice> device;
  bool opensReadWrite = true;       // false: only a query-only open works
  bool opensQueryOnly = true;       // false (with the above): it cannot be opened at all
  bool attributesReadable = true;
  bool preparsedDataReadable = true;
};

class SimHidBus : public HidPlatform {
 public:
  // loop: where notices go and transfer latency is spent, virtual or real.
  explicit SimHidBus(EventLoop& loop);

  // --- HidPlatform ---
  bool Bind() override;
  std::optional<std::vector<HidInterface>> PresentInterfaces() override;
  std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) override;
  bool StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) override;
  void PostDevicesChanged(std::intptr_t secondParameter) override;
  void StopNotifications() override;

  // --- presence ---
  // Present from the start, without a notice.
  void Attach(SimHidSpec spec);
  // Plugged in or pulled out now; the system's notice (second parameter 0) follows.
  void Plug(SimHidSpec spec);
  void Unplug(std::uint32_t deviceId);
  // The device's power is cut now: it is told (SimHidDevice::PowerLost) and
  // leaves the bus, with the system's notice, until RestorePower. Nothing
  // happens to a device that is not present.
  void LosePower(std::uint32_t deviceId);
  // The power comes back: the device is plugged in again as it left, its
  // non-volatile memory with it, as a new arrival with the system's notice.
  // Throws std::logic_error for a device whose power was not cut.
  void RestorePower(std::uint32_t deviceId);
  // A device-tree change that touches no HID device.
  void NotifyDevicesChanged() { PostDevicesChanged(0); }
  bool Present(std::uint32_t deviceId) const { return present_.contains(deviceId); }

  // --- faults ---
  void SetBindable(bool bindable) { bindable_ = bindable; }
  void FailInterfaceSet(bool fail) { failInterfaceSet_ = fail; }
  // The n-th feature transfer (1-based, over the whole bus) fails.
  void FailTransfer(std::size_t n) { failingTransfers_.insert(n); }
  // The device is pulled out as the n-th transfer starts (which then fails).
  void UnplugAtTransfer(std::size_t n, std::uint32_t deviceId) { unplugAt_[n] = deviceId; }
  // The device's power is cut (LosePower) as the n-th transfer starts, so that
  // transfer never reaches it and fails; 1-based over the whole bus, as above.
  void LosePowerAtTransfer(std::size_t n, std::uint32_t deviceId) { losePowerAt_[n] = deviceId; }
  // Virtual time each feature transfer takes.
  void SetTransferLatency(SimTime latency) { latency_ = latency; }

  // --- inspection ---
  std::size_t Transfers() const { return transfers_; }
  // Platform calls in order: "open rw|query <path>", "close <path>",
  // "attributes <path>", "preparsed <path>",
  // "set <path>", "get <path>". Paths are the ASCII paths the tests use.
  const std::vector<std::string>& Calls() const { return calls_; }
  int OpenHandles(std::uint32_t deviceId) const;
  bool Listening() const { return static_cast<bool>(notify_); }

 private:
  class Handle;
  class Preparsed;

  void Record(const std::string& call, const std::u16string& path);
  // Counts a transfer and applies the bus faults; false when it must fail.
  bool BeginTransfer();

  EventLoop& loop_;
  std::vector<std::uint32_t> order_;  // interface order: attach/plug order
  std::map<std::uint32_t, SimHidSpec> present_;
  std::map<std::uint32_t, SimHidSpec> unpowered_;  // devices whose power was cut, as they left
  std::map<std::uint32_t, int> openHandles_;
  std::function<void(std::intptr_t)> notify_;
  bool bindable_ = true;
  bool failInterfaceSet_ = false;
  std::set<std::size_t> failingTransfers_;
  std::map<std::size_t, std::uint32_t> unplugAt_;
  std::map<std::size_t, std::uint32_t> losePowerAt_;
  SimTime latency_{0};
  std::size_t transfers_ = 0;
  std::vector<std::string> calls_;
};

}  // namespace lu14::sim
