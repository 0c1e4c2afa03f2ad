// The HID platform of the machine the console tool runs on.
#pragma once

#include <functional>
#include <memory>
#include <ostream>

#include "app/realtime/RealTimeRuntime.h"
#include "ports/HidPlatform.h"

namespace lu14::cli {

struct HardwarePlatform {
  std::unique_ptr<HidPlatform> platform;
  // Called between messages: delivers the system's device-change events.
  std::function<void()> step;
};

// problems: where the platform explains what keeps it from a meter (access
// rights, say).
HardwarePlatform MakeHardwarePlatform(RealTimeRuntime& runtime, std::ostream& problems);

}  // namespace lu14::cli
