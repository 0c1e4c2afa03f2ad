// TMForm: the handlers of the HID controller's events: finding the meter,
// losing it, and devices that cannot be opened.
#include "app/TMForm.h"
#include "app/WindowTexts.h"
#include "device/MeterProtocol.h"

namespace lu14 {

void TMForm::HIDDeviceChange() {
  // Cleared and found again within the same notice, so no other handler sees
  // the meter missing because some other HID device came or went.
  Meter.Link.SetCurrentDevice(nullptr);
  HID.Enumerate();
}

bool TMForm::HIDEnumerate(TJvHidDevice& device, std::int32_t) {
  if (device.Attributes().vendorId != kMeterVendorId || device.Attributes().productId != kMeterProductId) return true;
  state_.ModelSuffix = std::string(kMatchedModelSuffix);
  SetCaption(std::string(kMatchedCaptionHead) + state_.ModelSuffix);
  Log(kLogMeterHead, state_.ModelSuffix + std::string(kLogConnectedTail));
  // With two meters the later one becomes current, except while an update
  // holds its own: no part of an update may reach another meter.
  if (MeterHeld() && &device != boundMeter_) newcomer_ = &device;
  else Meter.Link.SetCurrentDevice(&device);
  device.CheckOut();  // false when this object was matched before
  Meter.Payload.LoadBlobCopy();
  state_.ModelCode = kMatchedModelCode;
  return true;  // visit every device
}

void TMForm::HIDRemoval(TJvHidDevice& device) {
  if (Meter.Link.CurrentDevice() != &device) return;
  Log(kLogMeterHead, state_.ModelSuffix + std::string(kLogDisconnectedTail));
  Timer1.SetEnabled(true);
  Timer3.SetEnabled(false);
  Timer2.SetEnabled(false);
  Pr1.SetPosition(0);
  Meter.Link.SetCurrentDevice(nullptr);
  boundMeter_ = nullptr;
  Meter.Update.MeterRemoved();
}

void TMForm::HIDDeviceCreateError(const TJvHidPnPInfo&, bool& handled, bool&) {
  // A device that cannot be opened or identified is left out without a word.
  handled = true;
}

void TMForm::FollowNewcomer() {
  if (MeterHeld() || !newcomer_) return;
  if (newcomer_->IsPluggedIn()) Meter.Link.SetCurrentDevice(newcomer_);
  newcomer_ = nullptr;
}

}  // namespace lu14
