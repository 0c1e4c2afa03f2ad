// The option boxes' writes to the meter and the debug checksum readout.
#pragma once

#include "device/MeterMemory.h"
#include "status/StatusTexts.h"

namespace lu14 {

class TMForm;

class DeviceOptions {
 public:
  DeviceOptions(TMForm& form, MeterMemory& memory, Shell& shell);

  // A box changed (by the user, or by the program): writes its byte while the
  // options are in sync with the meter. The write's result is not looked at:
  // the box shows the meter's byte again at the next complete poll.
  void BoxClicked(OptionBox box);

  // Asks for the firmware checksum (command 25) and shows InReport bytes 1..3,
  // lowest first, in E1 as a decimal number. Errors reach the failure report.
  void ShowChecksum();

 private:
  TMForm& form_;
  MeterMemory& memory_;
  Shell& shell_;
};

}  // namespace lu14
