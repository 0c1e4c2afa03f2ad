// StatusView: where the status poll shows what it reads, step by step. The
// tick's value, MeterStatus, lives with the poll (status/MeterStatus.h).
//
// The poll calls the view in the order it reads the meter, so a tick that
// stops at a failed read leaves shown exactly what it had read until then.
#pragma once

#include <string>

namespace lu14 {

// The value the view is given (device/MeterOption.h).
enum class MeterOption : int;

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
  virtual void ShowOption(MeterOption box, bool ticked) = 0;
  virtual void OptionsRefreshed() = 0;
};

// A view that shows nothing, for a front end (or a test) that reads the
// tick's MeterStatus instead.
class SilentStatusView : public StatusView {
 public:
  void ShowNoMeter() override {}
  void StopUpdateTicks() override {}
  void ShowBatteryLow() override {}
  void ShowIdentity(const std::u32string&) override {}
  void ShowVersionText(const std::u32string&) override {}
  void ShowVersionNotANumber() override {}
  void ShowFirmware(const std::u32string&, int, bool) override {}
  void OptionsRefreshing() override {}
  void ShowOption(MeterOption, bool) override {}
  void OptionsRefreshed() override {}
};

}  // namespace lu14
