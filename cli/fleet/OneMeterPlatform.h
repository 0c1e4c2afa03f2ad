// The HID platform a meter's thread works on in update --all: the machine's
// platform narrowed to the one device the scan handed to that thread. Its
// session sees no other device, so it never opens, matches or disturbs the
// meters that other threads are writing; the device leaving is still seen,
// as the machine's platform reports it.
#pragma once

#include <memory>
#include <string>

#include "ports/HidPlatform.h"

namespace lu14::cli {

class OneMeterPlatform : public HidPlatform {
 public:
  // path: the handed device's path (its id, as the scan named it).
  OneMeterPlatform(HidPlatform& machine, std::u16string path) : machine_(machine), path_(std::move(path)) {}

  bool Bind() override { return machine_.Bind(); }
  // The handed device while the machine has it; nothing else.
  std::optional<std::vector<HidInterface>> PresentInterfaces() override;
  // Only the handed device is opened.
  std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) override;
  bool StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) override {
    return machine_.StartNotifications(std::move(onDevicesChanged));
  }
  void PostDevicesChanged(std::intptr_t secondParameter) override { machine_.PostDevicesChanged(secondParameter); }
  void StopNotifications() override { machine_.StopNotifications(); }

 private:
  HidPlatform& machine_;
  std::u16string path_;
};

}  // namespace lu14::cli
