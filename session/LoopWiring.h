// One meter on a runtime's own loop, as the console tool and the web page
// run it: the pacer drives the agent's update ticks, and the controller
// reports the meters it finds and the devices that leave, and scans again
// on a device change while the agent has no meter.
#pragma once

#include <functional>

#include "device/TJvHidDeviceController.h"
#include "session/LoopPacer.h"
#include "session/MeterAgent.h"

namespace lu14 {

struct LoopWiring {
  // Runs a tick; the front end reports there what the tick throws.
  LoopPacer::Dispatch dispatch;
  // A device of the scan: the front end offers it to the agent if it is a meter.
  std::function<void(TJvHidDevice&)> found;
  std::function<void(TJvHidDevice&)> removed;
};

void WireOnLoop(MeterAgent& meter, LoopPacer& pacer, TJvHidDeviceController& controller, const LoopWiring& wiring);

}  // namespace lu14
