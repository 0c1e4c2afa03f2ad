#include "device/TJvHidDevice.h"

namespace lu14 {

TJvHidDevice::TJvHidDevice(HidPlatform& platform, TJvHidPnPInfo pnpInfo)
    : platform_(platform), pnpInfo_(std::move(pnpInfo)) {
  std::unique_ptr<HidHandle> handle = OpenPath();
  if (!handle) throw EControllerError("device cannot be opened");
  const std::optional<HidAttributes> attributes = handle->GetAttributes();
  if (!attributes) throw EControllerError("device cannot be identified");
  attributes_ = *attributes;
}  // the handle closes here: a new object holds none

std::unique_ptr<HidHandle> TJvHidDevice::OpenPath() {
  std::unique_ptr<HidHandle> handle = platform_.Open(pnpInfo_.DevicePath, true);
  hasReadWriteAccess_ = handle != nullptr;
  // A device that refuses read/write access may still be opened for queries,
  // and feature reports then go through that handle.
  if (!handle) handle = platform_.Open(pnpInfo_.DevicePath, false);
  return handle;
}

bool TJvHidDevice::CheckOut() {
  if (!isPluggedIn_ || isCheckedOut_) return false;
  isCheckedOut_ = true;
  return true;
}

bool TJvHidDevice::OpenFile() {
  if (Accessible() && !handle_) handle_ = OpenPath();
  return handle_ != nullptr;
}

HidCaps TJvHidDevice::Caps() {
  if (!preparsedData_) {
    const bool heldBefore = handle_ != nullptr;
    if (OpenFile()) {
      preparsedData_ = handle_->GetPreparsedData();
      // Only the handle opened for this purpose is closed again.
      if (!heldBefore) CloseFile();
    }
  }
  if (!preparsedData_) return HidCaps{};
  return preparsedData_->GetCaps().value_or(HidCaps{});
}

bool TJvHidDevice::SetFeature(std::span<const std::uint8_t> report) {
  return OpenFile() && handle_->SetFeature(report);
}

bool TJvHidDevice::GetFeature(std::span<std::uint8_t> report) { return OpenFile() && handle_->GetFeature(report); }

void TJvHidDevice::Unplug() {
  CloseFile();
  isPluggedIn_ = false;
}

}  // namespace lu14
