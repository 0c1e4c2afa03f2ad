#include "update/SettingsRestore.h"

#include <algorithm>

namespace lu14 {
namespace {

constexpr std::uint16_t kVersionTextLength = 5;
constexpr std::uint16_t kCoefficientLength = 4;

struct OptionAddress {
  std::uint16_t address;
  MeterOption box;
};
constexpr OptionAddress kOptionAddresses[] = {
    {kEepromAutoSave, MeterOption::AutoSave},
    {kEepromCapacitance, MeterOption::Capacitance},
    {kEepromMenuSwap, MeterOption::MenuSwap},
    {kEepromModifiedMeter, MeterOption::ModifiedMeter},
};

bool Within(std::uint16_t address, std::uint16_t first, std::uint16_t length) {
  return address >= first && address < first + length;
}

}  // namespace

std::optional<MeterOption> OptionAt(std::uint16_t address) {
  for (const OptionAddress& option : kOptionAddresses) {
    if (option.address == address) return option.box;
  }
  return std::nullopt;
}

EepromPart PartOf(std::uint16_t address) {
  if (OptionAt(address)) return EepromPart::Option;
  if (Within(address, kEepromBatteryCoefficient, kCoefficientLength)) return EepromPart::BatteryCoefficient;
  if (Within(address, kEepromVersionText, kVersionTextLength)) return EepromPart::VersionText;
  if (address == kEepromAfterUpdate) return EepromPart::AfterUpdate;
  if (address == kEepromFirmwareValidFlag) return EepromPart::FirmwareFlag;
  return EepromPart::Other;
}

bool OwnedByUpdate(std::uint16_t address) {
  const EepromPart part = PartOf(address);
  return part == EepromPart::VersionText || part == EepromPart::AfterUpdate || part == EepromPart::FirmwareFlag;
}

RestorePlan CompareImages(const EepromImage& meter, const EepromImage& backup) {
  RestorePlan plan;
  for (std::uint16_t address = 0; address < kEepromSize; ++address) {
    if (meter[address] == backup[address]) continue;
    const ByteDifference difference{address, meter[address], backup[address]};
    (OwnedByUpdate(address) ? plan.skipped : plan.toWrite).push_back(difference);
  }
  return plan;
}

std::size_t RestoreOutcome::Count(ByteResult result) const {
  return static_cast<std::size_t>(
      std::count_if(bytes.begin(), bytes.end(), [&](const ByteWritten& byte) { return byte.result == result; }));
}

SettingsRestore::SettingsRestore(MeterMemory& memory) : memory_(memory) {}

EepromReading SettingsRestore::ReadMeter(const std::function<bool()>& stop) {
  EepromImage image{};
  for (std::uint16_t address = 0; address < kEepromSize; ++address) {
    if (stop && stop()) return {std::nullopt, address, true};
    // Only a confirmed byte is compared: a wrong one would show differences
    // that are not there (and write bytes for them) or hide real ones.
    const std::optional<std::uint8_t> byte = memory_.ReadEepromConfirmed(address);
    if (!byte) return {std::nullopt, address, false};
    image[address] = *byte;
  }
  return {image, 0, false};
}

RestoreOutcome SettingsRestore::Write(const RestorePlan& plan, const std::function<bool()>& stop) {
  RestoreOutcome outcome;
  for (const ByteDifference& difference : plan.toWrite) outcome.bytes.push_back({difference, ByteResult::NotAttempted, std::nullopt});
  for (ByteWritten& byte : outcome.bytes) {
    if (stop && stop()) {
      outcome.interrupted = true;
      break;
    }
    const std::uint16_t address = byte.difference.address;
    const bool written = memory_.WriteEeprom(address, byte.difference.file);
    // Read back also after an unconfirmed write: the account then says what
    // the meter holds there now.
    byte.readBack = memory_.ReadEepromConfirmed(address);
    if (!written) {
      byte.result = ByteResult::WriteNotConfirmed;
    } else if (!byte.readBack) {
      byte.result = ByteResult::ReadBackFailed;
    } else if (*byte.readBack != byte.difference.file) {
      byte.result = ByteResult::ReadBackDiffers;
    } else {
      byte.result = ByteResult::Confirmed;
    }
    if (byte.result != ByteResult::Confirmed) break;
  }
  return outcome;
}

}  // namespace lu14
