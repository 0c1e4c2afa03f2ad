// HidPlatform on the browser's WebHID (navigator.hid). The user picks the
// meter in the browser's chooser (Connect), devices the user permitted before
// are found on load, and the browser's connect and disconnect events are the
// device-change notices. Feature reports go through sendFeatureReport and
// receiveFeatureReport, whose promises Asyncify turns into the synchronous
// transfers the core makes.
//
// A device is known by the number the page's script gave it when it first
// saw it; its path is "webhid-N".
#pragma once

#include <cstdint>
#include <functional>

#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"

namespace lu14::web {

class WebHidPlatform : public HidPlatform {
 public:
  // Notices are handled as messages of `loop`; the chooser offers devices of
  // this vendor and product only.
  WebHidPlatform(EventLoop& loop, std::uint16_t vendorId, std::uint16_t productId);

  // The browser has WebHID (a Chromium browser, in a secure context).
  static bool Available();

  bool Bind() override;
  std::optional<std::vector<HidInterface>> PresentInterfaces() override;
  std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) override;
  bool StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) override;
  void PostDevicesChanged(std::intptr_t secondParameter) override;
  void StopNotifications() override { onDevicesChanged_ = nullptr; }

  // The page's script saw the set of devices change.
  void DevicesChanged() { PostDevicesChanged(0); }

 private:
  EventLoop& loop_;
  std::uint16_t vendorId_;
  std::uint16_t productId_;
  std::function<void(std::intptr_t)> onDevicesChanged_;
};

}  // namespace lu14::web
