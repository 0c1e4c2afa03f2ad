// Where one meter's update runs when several run at once (update --all): a
// runtime of its own, driven by the meter's own thread, and a HID platform
// that only this rig uses. A transfer blocks the thread that runs it, so
// meters that share a thread would take turns; a rig each lets them run side
// by side.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/SimulatedMeter.h"
#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"
#include "ports/Shell.h"

namespace lu14::cli {

class MeterRig {
 public:
  virtual ~MeterRig() = default;
  virtual Shell& RigShell() = 0;
  virtual EventLoop& Loop() = 0;
  virtual HidPlatform& Platform() = 0;
  // Called between messages (the system's device events, a simulated meter's script).
  virtual void Step() = 0;
};

// Makes the rig for the meter with this id, on the thread that will drive it.
// boxes: where the text of a message box goes. Null when no such meter can be served.
using RigMaker = std::function<std::unique_ptr<MeterRig>(const std::string& id, std::ostream& boxes)>;

// Rigs on the wall clock, backups in `documents`: the simulated meter with
// this id alone on a bus of its own; or the machine's HID platform narrowed
// to the device with this id.
std::unique_ptr<MeterRig> SimulatedRig(const SimulatedMeter& meters, const std::string& id,
                                       std::optional<std::filesystem::path> documents, std::ostream& boxes);
std::unique_ptr<MeterRig> HardwareRig(const std::string& id, std::optional<std::filesystem::path> documents,
                                      std::ostream& boxes);

}  // namespace lu14::cli
