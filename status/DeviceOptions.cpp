#include "status/DeviceOptions.h"

#include <algorithm>

namespace lu14 {
namespace {

const OptionByte& ByteOf(OptionBox box) {
  return *std::find_if(kOptionBytes.begin(), kOptionBytes.end(),
                       [box](const OptionByte& candidate) { return candidate.box == box; });
}

}  // namespace

DeviceOptions::DeviceOptions(MeterMemory& memory) : memory_(memory) {}

bool DeviceOptions::Write(OptionBox box, bool on) {
  const OptionByte& option = ByteOf(box);
  return memory_.WriteEeprom(option.address, on ? option.writtenWhenTicked : option.writtenWhenClear);
}

std::optional<bool> DeviceOptions::Read(OptionBox box) {
  const ByteRead read = memory_.ReadEepromByte(ByteOf(box).address);
  if (!read.confirmed) return std::nullopt;
  return OptionTicked(box, *read.value);
}

OptionWriteOutcome DeviceOptions::WriteAndConfirm(OptionBox box, bool on) {
  const bool written = Write(box, on);
  return {box, on, written, Read(box)};
}

}  // namespace lu14
