// Byte-wise access to the meter's EEPROM and information bytes, and the
// battery measurement, on top of the command transaction.
#pragma once

#include <array>
#include <cstdint>

#include "app/Shell.h"
#include "device/MeterLink.h"

namespace lu14 {

// The EEPROM addresses the tool uses.
inline constexpr std::uint16_t kEepromSize = 2048;
inline constexpr std::uint16_t kEepromVersionText = 832;   // 5 bytes, 832..836
inline constexpr std::uint16_t kEepromOptionC2 = 856;      // 0 = on
inline constexpr std::uint16_t kEepromOptionC1 = 947;      // 1 = on
inline constexpr std::uint16_t kEepromOptionC4 = 957;      // 0 = on
inline constexpr std::uint16_t kEepromAfterUpdate = 958;   // set to 0 after an update
inline constexpr std::uint16_t kEepromBatteryCoefficient = 976;  // binary32, 976..979, LSB first
inline constexpr std::uint16_t kEepromOptionC3 = 1022;     // not 0 = on
inline constexpr std::uint16_t kEepromFirmwareValidFlag = 1023;
inline constexpr std::uint8_t kFirmwareComplete = 1;
inline constexpr std::uint8_t kFirmwareUpdating = 0x88;

// Battery measurement: command 27 with these bytes, voltage = raw * coefficient / 16000.
inline constexpr std::array<std::uint8_t, 3> kMeasureRequest{0x20, 0x01, 0x02};
inline constexpr double kMeasureDivisor = 16000.0;

// Decodes four EEPROM bytes (least significant first) as binary32 with no
// special case: exponent 0 is not zero or subnormal, exponent 255 not
// infinity or NaN. Every such value is exact in a double.
double DecodeEepromFloat(const std::array<std::uint8_t, 4>& bytes);

// The battery is low below 1.4 V. The limit is 1.4 held with a 64-bit
// significand (1.39999999999999999997...); for a double voltage that is the
// same as "at most the double nearest 1.4", so exactly 1.4 counts as low.
bool IsBatteryLow(double voltage);

class MeterMemory {
 public:
  MeterMemory(MeterLink& link, Shell& shell);

  // One EEPROM byte. The value is byte 1 of a second read of the reply into
  // OutReport, given back also when the transaction failed. An error (no
  // meter, busy link) gives false and leaves `value` untouched.
  bool ReadEeprom(std::uint16_t address, std::uint8_t& value);
  // One information byte of command 24, 28, 29 or 30, as ReadEeprom.
  bool ReadDeviceParam(std::uint8_t command, std::uint16_t parameter, std::uint8_t& value);
  // Stores one byte (verified), then pauses 5 ms. Returns whether the
  // transaction succeeded; an error gives false without the pause.
  bool WriteEeprom(std::uint16_t address, std::uint8_t value);
  // Four ReadEeprom calls from `address` up, decoded; a byte whose read
  // raised an error counts as 0. Reports no success.
  double ReadEepromFloat(std::uint16_t address);
  // The battery voltage. Errors of its transaction pass to the caller.
  double MeasureBattery();

 private:
  void PutParameter(std::uint16_t parameter);

  MeterLink& link_;
  Shell& shell_;
};

}  // namespace lu14
