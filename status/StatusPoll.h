// The once-a-second status poll: firmware flag, battery, identity, version and
// option bytes, shown through a StatusView as they are read.
#pragma once

#include <optional>
#include <string>

#include "device/MeterLink.h"
#include "device/MeterMemory.h"
#include "ports/StatusView.h"
#include "status/MeterStatus.h"
#include "update/FirmwarePayload.h"

namespace lu14 {

// How the poll takes the bytes it reads.
enum class PollReads {
  // As the window shows them: a read that fails ends the tick, except for
  // the option bytes, whose boxes follow whatever byte a failed read leaves.
  Shown,
  // Only bytes the meter confirmed, each asked again a few times
  // (MeterMemory's confirmed reads): for a front end that decides on what it
  // reads (whether an update is needed, whether the battery allows one).
  // Any byte that cannot be confirmed ends the tick.
  Confirmed,
};

class StatusPoll {
 public:
  StatusPoll(MeterLink& link, MeterMemory& memory, FirmwarePayload& payload, StatusView& view, PollReads reads);

  // One tick. A complete tick makes 34 transactions; any failed read ends it
  // quietly, keeping what it had already shown. Returns what it read.
  MeterStatus Tick();

 private:
  // Steps that read the meter; false when a read failed or raised an error.
  bool ReadMeter(MeterStatus& status);
  bool RefreshOptions(MeterStatus& status);
  // One byte of command 21, 24, 28 or 29, by the poll's rule.
  ByteRead Read(std::uint8_t command, std::uint16_t parameter);
  // The battery voltage by the poll's rule; nothing when not confirmed.
  std::optional<double> Battery();

  MeterLink& link_;
  MeterMemory& memory_;
  FirmwarePayload& payload_;
  StatusView& view_;
  PollReads reads_;
};

}  // namespace lu14
