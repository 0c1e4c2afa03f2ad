// StatusView: where the status poll shows what it reads, step by step, and
// MeterStatus, the value a poll tick ends in.
//
// The poll calls the view in the order it reads the meter, so a tick that
// stops at a failed read leaves shown exactly what it had read until then.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace lu14 {

// The four option bytes the meter keeps, named after the window's boxes.
enum class OptionBox { C1, C2, C3, C4 };
inline constexpr std::array<OptionBox, 4> kOptionBoxes{OptionBox::C1, OptionBox::C2, OptionBox::C3, OptionBox::C4};

// What one poll tick read, as far as it got. Meter bytes appear in the texts as
// the characters U+0000..U+00FF (the identity letter goes up to U+0140).
struct MeterStatus {
  bool meterPresent = false;
  std::optional<std::uint8_t> firmwareFlag;  // EEPROM 1023: 1 complete, 0x88 update in progress
  std::optional<double> batteryVolts;
  std::u32string identity;                    // a letter and 34 hex digits; empty until read
  std::optional<std::u32string> versionText;  // the five characters at EEPROM 832
  std::optional<int> versionNumber;           // characters 2, 4 and 5 of the version text
  std::array<std::optional<bool>, 4> options; // ticked, in kOptionBoxes order; nothing when unread
  // Every step of the tick succeeded, options included.
  bool complete = false;
};

class StatusView {
 public:
  virtual ~StatusView() = default;
  // No meter is current: nothing can be read or updated.
  virtual void ShowNoMeter() = 0;
  // A meter is current and will be read: any update ticks still armed stop.
  virtual void StopUpdateTicks() = 0;
  // The battery measured low (the rest of the tick goes on).
  virtual void ShowBatteryLow() = 0;
  // The identity was read whole: an update may start from now on.
  virtual void ShowIdentity(const std::u32string& identity) = 0;
  // The version text was read (it is part of the identity the backup names).
  virtual void ShowVersionText(const std::u32string& versionText) = 0;
  // Characters 2, 4 and 5 of the version text are not a number: the tick ends.
  virtual void ShowVersionNotANumber() = 0;
  // The version and whether the firmware is complete; the options may be changed.
  virtual void ShowFirmware(const std::u32string& versionText, int versionNumber, bool complete) = 0;
  // The option bytes are re-read: between the two calls, ShowOption reports
  // what the meter holds, and a box set meanwhile must write nothing back.
  virtual void OptionsRefreshing() = 0;
  virtual void ShowOption(OptionBox box, bool ticked) = 0;
  virtual void OptionsRefreshed() = 0;
};

}  // namespace lu14
