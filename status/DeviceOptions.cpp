#include "status/DeviceOptions.h"

#include <algorithm>
#include <string>

#include "app/TMForm.h"

namespace lu14 {

DeviceOptions::DeviceOptions(TMForm& form, MeterMemory& memory, Shell& shell)
    : form_(form), memory_(memory), shell_(shell) {}

void DeviceOptions::BoxClicked(OptionBox box) {
  if (!form_.State().OptionsSyncEnabled) return;
  const auto option = std::find_if(kOptionBytes.begin(), kOptionBytes.end(),
                                   [box](const OptionByte& candidate) { return candidate.box == box; });
  const bool ticked = form_.OptionCheckBox(box).Checked();
  memory_.WriteEeprom(option->address, ticked ? option->writtenWhenTicked : option->writtenWhenClear);
}

void DeviceOptions::ShowChecksum() {
  form_.Link.SendCommand(cmdReadChecksum, false);
  shell_.Sleep(kRetryPause);
  const Report& reply = form_.Link.InReport;
  const std::uint32_t checksum = reply[1] + reply[2] * 256u + reply[3] * 65536u;
  form_.E1.SetText(std::to_string(checksum));
}

}  // namespace lu14
