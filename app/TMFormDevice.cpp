// TMForm: the handlers of the HID controller's events: finding the meter,
// losing it, and devices that cannot be opened.
#include "app/TMForm.h"
#include "device/DiscoveryTexts.h"
#include "device/MeterProtocol.h"

namespace lu14 {

void TMForm::HIDDeviceChange() {
  // Cleared and found again within the same notice, so no other handler sees
  // the meter missing because some other HID device came or went.
  Link.SetCurrentDevice(nullptr);
  HID.Enumerate();
}

bool TMForm::HIDEnumerate(TJvHidDevice& device, std::int32_t) {
  if (device.Attributes().vendorId != kMeterVendorId || device.Attributes().productId != kMeterProductId) return true;
  state_.ModelSuffix = std::string(kMatchedModelSuffix);
  SetCaption(std::string(kMatchedCaptionHead) + state_.ModelSuffix);
  LB.Append(std::string(kLogMeterHead) + state_.ModelSuffix + std::string(kLogConnectedTail));
  Link.SetCurrentDevice(&device);
  device.CheckOut();  // false when this object was matched before
  Payload.LoadBlobCopy();
  state_.ModelCode = kMatchedModelCode;
  return true;  // visit every device: with two meters the later one is current
}

void TMForm::HIDRemoval(TJvHidDevice& device) {
  if (Link.CurrentDevice() != &device) return;
  LB.Append(std::string(kLogMeterHead) + state_.ModelSuffix + std::string(kLogDisconnectedTail));
  Timer1.SetEnabled(true);
  Timer3.SetEnabled(false);
  Timer2.SetEnabled(false);
  Pr1.SetPosition(0);
  Link.SetCurrentDevice(nullptr);
}

void TMForm::HIDDeviceCreateError(const TJvHidPnPInfo&, bool& handled, bool&) {
  // A device that cannot be opened or identified is left out without a word.
  handled = true;
}

}  // namespace lu14
