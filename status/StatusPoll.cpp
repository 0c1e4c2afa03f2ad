#include "status/StatusPoll.h"

#include "app/TMForm.h"
#include "app/Utf.h"
#include "status/StatusTexts.h"
#include "status/VersionNumber.h"

namespace lu14 {
namespace {

void AppendHex(std::u32string& text, std::uint8_t byte) {
  constexpr char32_t kDigits[] = U"0123456789ABCDEF";
  text += kDigits[byte >> 4];
  text += kDigits[byte & 0x0F];
}

}  // namespace

StatusPoll::StatusPoll(TMForm& form, MeterMemory& memory) : form_(form), memory_(memory) {}

void StatusPoll::Tick() {
  // Inside another transaction's "Ошибка записи" box the shared buffers are
  // taken: this tick is skipped, the next one comes a second later.
  if (form_.Link.InTransaction()) return;
  if (!form_.Link.CurrentDevice()) {
    form_.Label1.SetText(std::string(kLabelConnectMeter));
    form_.B1.SetEnabled(false);
    form_.G6.SetEnabled(false);
    return;
  }
  form_.Timer2.SetEnabled(false);
  form_.Timer3.SetEnabled(false);

  std::uint8_t firmwareState = 0;
  std::u32string versionText;
  if (!ReadMeter(firmwareState, versionText)) return;

  const std::optional<int> number = ParseInteger(VersionNumberText(versionText));
  if (!number) {
    form_.LB.Append(std::string(kLogVersionNotANumber));
    return;
  }
  SharedState& state = form_.State();
  state.FirmwareVersionNumber = *number;
  const std::string_view head = firmwareState == kFirmwareComplete ? kLabelCurrentVersion : kLabelReloadFirmware;
  form_.Label1.SetText(std::string(head) + CodePointsToUtf8(versionText));
  form_.G6.SetEnabled(true);
  RefreshOptions();
}

bool StatusPoll::ReadMeter(std::uint8_t& firmwareState, std::u32string& versionText) {
  SharedState& state = form_.State();
  // One guarded block: an error anywhere (the battery transaction, say) ends
  // the tick without a word, like a failed read.
  try {
    if (!memory_.ReadEeprom(kEepromFirmwareValidFlag, firmwareState)) return false;
    std::uint8_t unused = 0;
    memory_.ReadDeviceParam(cmdQuery30, kQuery30Parameter, unused);
    if (IsBatteryLow(memory_.MeasureBattery())) form_.Label1.SetText(std::string(kLabelChargeBattery));
    form_.Payload.BuildImageSegment(kSegment2);
    form_.Payload.BuildImageSegment(kSegment3);

    std::u32string identity;
    for (const IdentityRead& read : kIdentityReads) {
      std::uint8_t byte = 0;
      if (!memory_.ReadDeviceParam(read.command, read.parameter, byte)) return false;
      if (identity.empty()) identity += static_cast<char32_t>(kIdentityLetterBase + byte);
      else AppendHex(identity, byte);
    }
    state.DeviceIdentity = identity;
    form_.B1.SetEnabled(true);

    for (std::uint16_t i = 0; i < kVersionTextLength; ++i) {
      std::uint8_t byte = 0;
      if (!memory_.ReadEeprom(static_cast<std::uint16_t>(kEepromVersionText + i), byte)) return false;
      versionText += static_cast<char32_t>(byte);
    }
    state.DeviceIdentity += versionText;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

void StatusPoll::RefreshOptions() {
  SharedState& state = form_.State();
  // Setting a box can run its click handler; with the sync off it writes nothing.
  state.OptionsSyncEnabled = false;
  for (const OptionByte& option : kOptionBytes) {
    TCheckBox& box = form_.OptionCheckBox(option.box);
    // A read that raised an error gives back nothing: the box then stays.
    std::uint8_t stored = box.Checked() ? option.writtenWhenTicked : option.writtenWhenClear;
    memory_.ReadEeprom(option.address, stored);
    box.SetChecked(OptionTicked(option.box, stored));
  }
  state.OptionsSyncEnabled = true;
}

}  // namespace lu14
