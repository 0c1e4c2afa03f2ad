#include "status/StatusPoll.h"

#include "ports/Refusal.h"
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

StatusPoll::StatusPoll(MeterLink& link, MeterMemory& memory, FirmwarePayload& payload, StatusView& view,
                       PollReads reads)
    : link_(link), memory_(memory), payload_(payload), view_(view), reads_(reads) {}

ByteRead StatusPoll::Read(std::uint8_t command, std::uint16_t parameter) {
  if (reads_ == PollReads::Shown) return memory_.ReadByte(command, parameter);
  const std::optional<std::uint8_t> byte = memory_.ReadDeviceParamConfirmed(command, parameter);
  return {byte.has_value(), byte};
}

std::optional<double> StatusPoll::Battery() {
  // The window's measurement looks at no result; only an error ends the tick.
  if (reads_ == PollReads::Shown) return memory_.MeasureBattery();
  return memory_.MeasureBatteryConfirmed();
}

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
  // One guarded block: a refusal anywhere (the meter gone, a log line the
  // window could not show) ends the tick without a word, like a failed read.
  try {
    const ByteRead flag = Read(cmdReadEeprom, kEepromFirmwareValidFlag);
    if (!flag.confirmed) return false;
    status.firmwareFlag = flag.value;
    std::uint8_t unused = 0;
    memory_.ReadDeviceParam(cmdQuery30, kQuery30Parameter, unused);
    status.batteryVolts = Battery();
    if (!status.batteryVolts) return false;
    if (IsBatteryLow(*status.batteryVolts)) view_.ShowBatteryLow();
    payload_.BuildImageSegment(kSegment2);
    payload_.BuildImageSegment(kSegment3);

    std::u32string identity;
    for (const IdentityRead& read : kIdentityReads) {
      const ByteRead byte = Read(read.command, read.parameter);
      if (!byte.confirmed) return false;
      if (identity.empty()) identity += static_cast<char32_t>(kIdentityLetterBase + *byte.value);
      else AppendHex(identity, *byte.value);
    }
    status.identity = identity;
    view_.ShowIdentity(identity);

    std::u32string versionText;
    for (std::uint16_t i = 0; i < kVersionTextLength; ++i) {
      const ByteRead byte = Read(cmdReadEeprom, static_cast<std::uint16_t>(kEepromVersionText + i));
      if (!byte.confirmed) return false;
      versionText += static_cast<char32_t>(*byte.value);
    }
    status.versionText = versionText;
    view_.ShowVersionText(versionText);
    return true;
  } catch (const Refusal&) {
    return false;
  }
}

bool StatusPoll::RefreshOptions(MeterStatus& status) {
  bool allRead = true;
  view_.OptionsRefreshing();
  for (std::size_t i = 0; i < kOptionBytes.size(); ++i) {
    const OptionByte& option = kOptionBytes[i];
    const ByteRead read = Read(cmdReadEeprom, option.address);
    allRead &= read.confirmed;
    if (read.confirmed) status.options[i] = OptionTicked(option.box, *read.value);
    // The window's unconfirmed read still shows the byte it left; one that
    // raised an error (or any unconfirmed one, with confirmed reads) gives back
    // nothing, and the box then stays as it is.
    if (read.value) view_.ShowOption(option.box, OptionTicked(option.box, *read.value));
  }
  view_.OptionsRefreshed();
  return allRead;
}

}  // namespace lu14
