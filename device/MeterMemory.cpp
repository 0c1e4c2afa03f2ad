#include "device/MeterMemory.h"

#include <cmath>

namespace lu14 {

double DecodeEepromFloat(const std::array<std::uint8_t, 4>& bytes) {
  const int exponent = (bytes[3] & 0x7F) * 2 + (bytes[2] >> 7);
  const std::uint32_t fraction = bytes[0] + bytes[1] * 256u + (bytes[2] & 0x7Fu) * 65536u;
  const double value = std::ldexp(1.0 + std::ldexp(static_cast<double>(fraction), -23), exponent - 127);
  return (bytes[3] & 0x80) ? -value : value;
}

bool IsBatteryLow(double voltage) { return voltage <= 1.4; }

MeterMemory::MeterMemory(MeterLink& link, Shell& shell) : link_(link), shell_(shell) {}

void MeterMemory::PutParameter(std::uint16_t parameter) {
  link_.OutReport[kParamHigh] = static_cast<std::uint8_t>(parameter >> 8);
  link_.OutReport[kParamLow] = static_cast<std::uint8_t>(parameter & 0xFF);
}

bool MeterMemory::ReadDeviceParam(std::uint8_t command, std::uint16_t parameter, std::uint8_t& value) {
  try {
    PutParameter(parameter);
    const bool done = link_.SendCommand(command, false);
    // The meter repeats its latest reply; reading it into OutReport leaves the
    // reply there, and later commands send its bytes on where they set none.
    link_.GetFeature(link_.OutReport);
    value = link_.OutReport[kParamHigh];
    return done;
  } catch (const std::exception&) {
    return false;
  }
}

bool MeterMemory::ReadEeprom(std::uint16_t address, std::uint8_t& value) {
  return ReadDeviceParam(cmdReadEeprom, address, value);
}

bool MeterMemory::WriteEeprom(std::uint16_t address, std::uint8_t value) {
  try {
    PutParameter(address);
    link_.OutReport[kEchoFirst] = value;
    const bool done = link_.SendCommand(cmdWriteEeprom, true);
    shell_.Sleep(kEepromWritePause);
    return done;
  } catch (const std::exception&) {
    return false;
  }
}

double MeterMemory::ReadEepromFloat(std::uint16_t address) {
  std::array<std::uint8_t, 4> bytes{};
  for (std::uint16_t i = 0; i < bytes.size(); ++i) ReadEeprom(static_cast<std::uint16_t>(address + i), bytes[i]);
  return DecodeEepromFloat(bytes);
}

double MeterMemory::MeasureBattery() {
  link_.OutReport[1] = kMeasureRequest[0];
  link_.OutReport[2] = kMeasureRequest[1];
  link_.OutReport[3] = kMeasureRequest[2];
  link_.SendCommand(cmdMeasure, false);
  link_.GetFeature(link_.OutReport);
  const unsigned raw = link_.OutReport[1] * 256u + link_.OutReport[2];
  const double coefficient = ReadEepromFloat(kEepromBatteryCoefficient);
  return raw * coefficient / kMeasureDivisor;
}

}  // namespace lu14
