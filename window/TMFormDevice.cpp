// TMForm: the handlers of the HID controller's events: finding the meter,
// losing it, and devices that cannot be opened.
#include "window/TMForm.h"
#include "window/WindowTexts.h"

namespace lu14 {

void TMForm::HIDDeviceChange() {
  // Cleared and found again within the same notice, so no other handler sees
  // the meter missing because some other HID device came or went.
  Meter.Link.SetCurrentDevice(nullptr);
  HID.Enumerate();
}

bool TMForm::HIDEnumerate(TJvHidDevice& device, std::int32_t) {
  if (!MeterAgent::IsMeter(device)) return true;
  state_.ModelSuffix = std::string(kMatchedModelSuffix);
  SetCaption(std::string(kMatchedCaptionHead) + state_.ModelSuffix);
  Log(kLogMeterHead, state_.ModelSuffix + std::string(kLogConnectedTail));
  // With two meters the later one becomes current, except while an update
  // holds its own.
  Meter.Offer(device);
  state_.ModelCode = kMatchedModelCode;
  return true;  // visit every device
}

void TMForm::HIDRemoval(TJvHidDevice& device) {
  if (!Meter.IsCurrent(device)) return;
  Log(kLogMeterHead, state_.ModelSuffix + std::string(kLogDisconnectedTail));
  Timer1.SetEnabled(true);
  Timer3.SetEnabled(false);
  Timer2.SetEnabled(false);
  Pr1.SetPosition(0);
  Meter.Removed(device);
}

void TMForm::HIDDeviceCreateError(const TJvHidPnPInfo&, bool& handled, bool&) {
  // A device that cannot be opened or identified is left out without a word.
  handled = true;
}

}  // namespace lu14
