// HidPlatform: the HID controller's view of the operating system. The
// controller, its scan and its device objects are written once, in the core,
// over this interface; Win32 (setupapi.dll + hid.dll), Linux (hidraw + libudev)
// and the simulated bus implement it.
//
// Every call comes from the user-interface thread. Nothing here throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lu14 {

// One HID interface present now.
struct HidInterface {
  std::u16string path;    // what the device is opened with
  std::uint32_t deviceId; // the device node behind it; stable while it stays attached
  friend bool operator==(const HidInterface&, const HidInterface&) = default;
};

// HIDD_ATTRIBUTES without its size field.
struct HidAttributes {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t versionNumber = 0;
};

// The part of HIDP_CAPS the tool reads.
struct HidCaps {
  // Size of a feature report in bytes, the report-ID byte included.
  std::uint16_t featureReportByteLength = 0;
};

// A device's preparsed report-descriptor data; destroying it frees it.
class HidPreparsedData {
 public:
  virtual ~HidPreparsedData() = default;
  // HidP_GetCaps; nothing when the platform refuses.
  virtual std::optional<HidCaps> GetCaps() const = 0;
};

// An open device handle; destroying it closes it.
class HidHandle {
 public:
  virtual ~HidHandle() = default;
  // HidD_GetAttributes; nothing on failure.
  virtual std::optional<HidAttributes> GetAttributes() = 0;
  // HidD_GetPreparsedData; null on failure.
  virtual std::unique_ptr<HidPreparsedData> GetPreparsedData() = 0;
  // HidD_SetFeature with the whole buffer: byte 0 is the report ID, the size
  // counts it. true when the platform reported success.
  virtual bool SetFeature(std::span<const std::uint8_t> report) = 0;
  // HidD_GetFeature into the whole buffer (byte 0 holds the report ID asked
  // for); the buffer is overwritten with the report read. true on success.
  virtual bool GetFeature(std::span<std::uint8_t> report) = 0;
};

class HidPlatform {
 public:
  virtual ~HidPlatform() = default;

  // Binds the device-setup and HID services (at run time, so that the tool
  // starts where they are missing). false: they are missing; then no other
  // call is made and the controller never scans.
  virtual bool Bind() = 0;

  // The HID interfaces present now, in the platform's order. Interfaces whose
  // detail cannot be read are left out. Nothing when the set cannot be had.
  virtual std::optional<std::vector<HidInterface>> PresentInterfaces() = 0;

  // Opens a device path for synchronous I/O, sharing read and write.
  // readWrite: GENERIC_READ | GENERIC_WRITE; otherwise access 0 (query only).
  // Null on failure.
  virtual std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) = 0;

  // Creates the hidden top-level notification window. From then on every
  // device-tree change (WM_DEVICECHANGE with DBT_DEVNODES_CHANGED) calls
  // `onDevicesChanged` on the user-interface thread with the message's second
  // parameter (0 for the system's broadcast). false when the window cannot be made.
  virtual bool StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) = 0;
  // Posts a DBT_DEVNODES_CHANGED notice with this second parameter to the
  // notification window; it is handled when the message loop gets to it.
  virtual void PostDevicesChanged(std::intptr_t secondParameter) = 0;
  // Destroys the notification window; no notice is delivered afterwards.
  virtual void StopNotifications() = 0;
};

}  // namespace lu14
