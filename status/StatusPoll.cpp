#include "status/StatusPoll.h"

#include "status/StatusParameters.h"
#include "status/VersionNumber.h"

namespace lu14 {
namespace {

void AppendHex(std::u32string& text, std::uint8_t byte) {
  constexpr char32_t kDigits[] = U"0123456789ABCDEF";
  text += kDigits[byte >> 4];
  text += kDigits[byte & 0x0F];
}

}  // namespace

StatusPoll::StatusPoll(MeterLink& link, MeterMemory& memory, FirmwarePayload& payload, StatusView& view)
    : link_(link), memory_(memory), payload_(payload), view_(view) {}

MeterStatus StatusPoll::Tick() {
  MeterStatus status;
  // Inside another transaction's "write not confirmed" question the shared
  // buffers are taken: this tick is skipped, the next one comes a second later.
  if (link_.InTransaction()) return status;
  if (!link_.CurrentDevice()) {
    view_.ShowNoMeter();
    return status;
  }
  status.meterPresent = true;
  view_.StopUpdateTicks();

  if (!ReadMeter(status)) return status;
  status.versionNumber = ParseInteger(VersionNumberText(*status.versionText));
  if (!status.versionNumber) {
    view_.ShowVersionNotANumber();
    return status;
  }
  view_.ShowFirmware(*status.versionText, *status.versionNumber, status.firmwareFlag == kFirmwareComplete);
  status.complete = RefreshOptions(status);
  return status;
}

bool StatusPoll::ReadMeter(MeterStatus& status) {
  // One guarded block: an error anywhere (the battery transaction, say) ends
  // the tick without a word, like a failed read.
  try {
    std::uint8_t flag = 0;
    if (!memory_.ReadEeprom(kEepromFirmwareValidFlag, flag)) return false;
    status.firmwareFlag = flag;
    std::uint8_t unused = 0;
    memory_.ReadDeviceParam(cmdQuery30, kQuery30Parameter, unused);
    status.batteryVolts = memory_.MeasureBattery();
    if (IsBatteryLow(*status.batteryVolts)) view_.ShowBatteryLow();
    payload_.BuildImageSegment(kSegment2);
    payload_.BuildImageSegment(kSegment3);

    std::u32string identity;
    for (const IdentityRead& read : kIdentityReads) {
      std::uint8_t byte = 0;
      if (!memory_.ReadDeviceParam(read.command, read.parameter, byte)) return false;
      if (identity.empty()) identity += static_cast<char32_t>(kIdentityLetterBase + byte);
      else AppendHex(identity, byte);
    }
    status.identity = identity;
    view_.ShowIdentity(identity);

    std::u32string versionText;
    for (std::uint16_t i = 0; i < kVersionTextLength; ++i) {
      std::uint8_t byte = 0;
      if (!memory_.ReadEeprom(static_cast<std::uint16_t>(kEepromVersionText + i), byte)) return false;
      versionText += static_cast<char32_t>(byte);
    }
    status.versionText = versionText;
    view_.ShowVersionText(versionText);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool StatusPoll::RefreshOptions(MeterStatus& status) {
  bool allRead = true;
  view_.OptionsRefreshing();
  for (std::size_t i = 0; i < kOptionBytes.size(); ++i) {
    const OptionByte& option = kOptionBytes[i];
    const ByteRead read = memory_.ReadEepromByte(option.address);
    allRead &= read.confirmed;
    if (read.confirmed) status.options[i] = OptionTicked(option.box, *read.value);
    // An unconfirmed read still shows the byte it left; one that raised an
    // error gives back nothing, and the box then stays as it is.
    if (read.value) view_.ShowOption(option.box, OptionTicked(option.box, *read.value));
  }
  view_.OptionsRefreshed();
  return allRead;
}

}  // namespace lu14
