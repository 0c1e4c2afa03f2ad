// The options the meter keeps, each in one EEPROM byte (device/MeterMemory.h).
#pragma once

#include <array>

namespace lu14 {

// The four options the meter keeps in its EEPROM: auto-save of the last mode
// (947), the voltage with a capacitance over 1 uF attached (856), swapped
// menu actions (1022) and the modified-meter mark (957).
enum class MeterOption : int { AutoSave, Capacitance, MenuSwap, ModifiedMeter };
inline constexpr std::array<MeterOption, 4> kMeterOptions{MeterOption::AutoSave, MeterOption::Capacitance,
                                                          MeterOption::MenuSwap, MeterOption::ModifiedMeter};

}  // namespace lu14
