#include "status/DeviceOptions.h"

#include <algorithm>

namespace lu14 {
namespace {

const OptionByte& ByteOf(MeterOption box) {
  return *std::find_if(kOptionBytes.begin(), kOptionBytes.end(),
                       [box](const OptionByte& candidate) { return candidate.box == box; });
}

}  // namespace

DeviceOptions::DeviceOptions(MeterMemory& memory) : memory_(memory) {}

bool DeviceOptions::Write(MeterOption box, bool on) {
  const OptionByte& option = ByteOf(box);
  return memory_.WriteEeprom(option.address, on ? option.writtenWhenTicked : option.writtenWhenClear);
}

std::optional<bool> DeviceOptions::Read(MeterOption box) {
  const std::optional<std::uint8_t> byte = memory_.ReadEepromConfirmed(ByteOf(box).address);
  if (!byte) return std::nullopt;
  return OptionTicked(box, *byte);
}

OptionWriteOutcome DeviceOptions::WriteAndConfirm(MeterOption box, bool on) {
  const bool written = Write(box, on);
  return {box, on, written, Read(box)};
}

}  // namespace lu14
