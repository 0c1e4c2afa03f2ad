// The HID platform of the machine the console tool runs on: hidraw on Linux
// (LinuxHardwarePlatform.cpp), the system's HID libraries on Windows
// (Win32HardwarePlatform.cpp).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/RealTimeRuntime.h"
#include "ports/HidPlatform.h"

namespace lu14::cli {

struct HardwarePlatform {
  std::unique_ptr<HidPlatform> platform;
  // Called between messages: delivers the system's device-change events.
  std::function<void()> step;
  // The device nodes of meters attached now that this user may not open
  // (none where the system has no such rights: empty).
  std::function<std::vector<std::string>()> inaccessibleMeters;
  // The platform as a recording's header names it.
  const char* name;
};

HardwarePlatform MakeHardwarePlatform(RealTimeRuntime& runtime);

}  // namespace lu14::cli
