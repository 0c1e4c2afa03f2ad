// The once-a-second status poll: firmware flag, battery, identity, version and
// option bytes, shown through a StatusView as they are read.
#pragma once

#include <string>

#include "device/MeterLink.h"
#include "device/MeterMemory.h"
#include "ports/StatusView.h"
#include "update/FirmwarePayload.h"

namespace lu14 {

class StatusPoll {
 public:
  StatusPoll(MeterLink& link, MeterMemory& memory, FirmwarePayload& payload, StatusView& view);

  // One tick. A complete tick makes 34 transactions; any failed read ends it
  // quietly, keeping what it had already shown. Returns what it read.
  MeterStatus Tick();

 private:
  // Steps that read the meter; false when a read failed or raised an error.
  bool ReadMeter(MeterStatus& status);
  bool RefreshOptions(MeterStatus& status);

  MeterLink& link_;
  MeterMemory& memory_;
  FirmwarePayload& payload_;
  StatusView& view_;
};

}  // namespace lu14
