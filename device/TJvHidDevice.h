// TJvHidDevice: one HID interface known to the controller, with its
// plug-and-play record. Owned by the controller's list, never by the window.
//
// Handles are opened on demand: at creation (to read the attributes, then
// closed), at the first capability read (to fetch the preparsed data, then
// closed), and at the first feature transfer, after which the handle is held
// until the device is unplugged or destroyed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "ports/HidPlatform.h"

namespace lu14 {

class TJvHidDeviceController;

// Raised when a device object cannot be created (no handle, no attributes).
class EControllerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TJvHidPnPInfo {
  std::uint32_t DeviceID = 0;  // the device node; identifies the device between scans
  std::u16string DevicePath;   // what the device is opened with
};

class TJvHidDevice {
 public:
  // Opens the path (read/write, else query only), reads the attributes and
  // closes again. Throws EControllerError when neither open works or the
  // attributes cannot be read.
  TJvHidDevice(HidPlatform& platform, TJvHidPnPInfo pnpInfo);
  TJvHidDevice(const TJvHidDevice&) = delete;
  TJvHidDevice& operator=(const TJvHidDevice&) = delete;

  const TJvHidPnPInfo& PnPInfo() const { return pnpInfo_; }
  const HidAttributes& Attributes() const { return attributes_; }
  bool IsPluggedIn() const { return isPluggedIn_; }
  bool IsCheckedOut() const { return isCheckedOut_; }
  bool HasReadWriteAccess() const { return hasReadWriteAccess_; }
  bool HoldsHandle() const { return handle_ != nullptr; }

  // Checks the device out to the caller: true when it is plugged in and was
  // not checked out yet. Opens nothing.
  bool CheckOut();

  // The capability record, produced anew at every call from the preparsed
  // data (fetched once); all zero when the data cannot be had.
  HidCaps Caps();

  // One feature report each way, opening the device on demand. false when no
  // handle can be had (the platform is then not called) or the platform fails.
  bool SetFeature(std::span<const std::uint8_t> report);
  bool GetFeature(std::span<std::uint8_t> report);

 private:
  friend class TJvHidDeviceController;

  bool Accessible() const { return isPluggedIn_ && (isCheckedOut_ || isEnumerated_); }
  // Opens a handle when the device is accessible and holds none; true when one is held.
  bool OpenFile();
  void CloseFile() { handle_.reset(); }
  // The scan found the device gone: close its handles, mark it unplugged.
  void Unplug();
  std::unique_ptr<HidHandle> OpenPath();

  HidPlatform& platform_;
  TJvHidPnPInfo pnpInfo_;
  HidAttributes attributes_;
  bool isPluggedIn_ = true;
  bool isCheckedOut_ = false;
  bool isEnumerated_ = false;
  bool hasReadWriteAccess_ = false;
  std::unique_ptr<HidHandle> handle_;
  std::unique_ptr<HidPreparsedData> preparsedData_;
};

}  // namespace lu14
