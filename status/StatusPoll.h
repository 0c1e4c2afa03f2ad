// The once-a-second status poll (Timer1): firmware flag, battery, identity,
// version and option bytes, shown in the window.
#pragma once

#include <string>

#include "device/MeterMemory.h"

namespace lu14 {

class TMForm;

class StatusPoll {
 public:
  StatusPoll(TMForm& form, MeterMemory& memory);

  // One tick. A complete tick makes 34 transactions; any failed read ends it
  // quietly, keeping what it had already shown.
  void Tick();

 private:
  // Steps that read the meter; false when a read failed or raised an error.
  bool ReadMeter(std::uint8_t& firmwareState, std::u32string& versionText);
  void RefreshOptions();

  TMForm& form_;
  MeterMemory& memory_;
};

}  // namespace lu14
