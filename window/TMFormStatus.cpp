// TMForm as the status poll's view: the label, the update button, the options
// group and its boxes.
#include "window/TMForm.h"
#include "window/WindowTexts.h"
#include "ports/Utf.h"

namespace lu14 {

void TMForm::ShowNoMeter() {
  Label1.SetText(std::string(kLabelConnectMeter));
  B1.SetEnabled(false);
  G6.SetEnabled(false);
}

void TMForm::StopUpdateTicks() {
  Timer2.SetEnabled(false);
  Timer3.SetEnabled(false);
}

void TMForm::ShowBatteryLow() { Label1.SetText(std::string(kLabelChargeBattery)); }

void TMForm::ShowIdentity(const std::u32string& identity) {
  state_.DeviceIdentity = identity;
  B1.SetEnabled(true);
}

void TMForm::ShowVersionText(const std::u32string& versionText) { state_.DeviceIdentity += versionText; }

void TMForm::ShowVersionNotANumber() { Log(kLogVersionNotANumber); }

void TMForm::ShowFirmware(const std::u32string& versionText, int versionNumber, bool complete) {
  state_.FirmwareVersionNumber = versionNumber;
  Label1.SetText(std::string(complete ? kLabelCurrentVersion : kLabelReloadFirmware) + CodePointsToUtf8(versionText));
  G6.SetEnabled(true);
}

// Setting a box runs its click handler; with the sync off it writes nothing.
void TMForm::OptionsRefreshing() { state_.OptionsSyncEnabled = false; }

void TMForm::ShowOption(MeterOption box, bool ticked) { OptionCheckBox(box).SetChecked(ticked); }

void TMForm::OptionsRefreshed() { state_.OptionsSyncEnabled = true; }

}  // namespace lu14
