// Writing and reading the meter's option bytes.
#pragma once

#include <optional>

#include "device/MeterMemory.h"
#include "status/StatusParameters.h"

namespace lu14 {

// What an option write with its read-back ended in.
struct OptionWriteOutcome {
  MeterOption box = MeterOption::AutoSave;
  bool requested = false;        // on or off
  bool written = false;          // the meter confirmed the write's echo
  std::optional<bool> readBack;  // what the meter holds afterwards; nothing when unread
  bool Succeeded() const { return written && readBack == requested; }
};

class DeviceOptions {
 public:
  explicit DeviceOptions(MeterMemory& memory);

  // Writes the option's byte for on or off; whether the meter confirmed it.
  bool Write(MeterOption box, bool on);
  // Whether the option is on, from a confirmed read; nothing otherwise.
  std::optional<bool> Read(MeterOption box);
  // Writes the option, then reads it back.
  OptionWriteOutcome WriteAndConfirm(MeterOption box, bool on);

 private:
  MeterMemory& memory_;
};

}  // namespace lu14
