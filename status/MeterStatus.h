// MeterStatus: the value a status poll tick ends in.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "device/MeterOption.h"

namespace lu14 {

// What one poll tick read, as far as it got. Meter bytes appear in the texts as
// the characters U+0000..U+00FF (the identity letter goes up to U+0140).
struct MeterStatus {
  bool meterPresent = false;
  std::optional<std::uint8_t> firmwareFlag;  // EEPROM 1023: 1 complete, 0x88 update in progress
  std::optional<double> batteryVolts;
  std::u32string identity;                    // a letter and 34 hex digits; empty until read
  std::optional<std::u32string> versionText;  // the five characters at EEPROM 832
  std::optional<int> versionNumber;           // characters 2, 4 and 5 of the version text
  std::array<std::optional<bool>, 4> options;  // on, in kMeterOptions order; nothing when unread
  // Every step of the tick succeeded, options included.
  bool complete = false;
};

}  // namespace lu14
