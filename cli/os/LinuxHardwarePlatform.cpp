#include "cli/os/HardwarePlatform.h"
#include "device/MeterProtocol.h"
#include "device/linux/LinuxHidPlatform.h"

namespace lu14::cli {

HardwarePlatform MakeHardwarePlatform(RealTimeRuntime& runtime) {
  auto platform = std::make_unique<linux_hid::LinuxHidPlatform>(runtime);
  linux_hid::LinuxHidPlatform* hidraw = platform.get();
  // A meter that is attached but that this user may not open would otherwise
  // look like no meter at all: the session names it and the remedy.
  auto inaccessible = [hidraw] {
    std::vector<std::string> nodes;
    for (const linux_hid::AccessProblem& problem : hidraw->AccessProblems(kMeterVendorId, kMeterProductId)) {
      nodes.push_back(problem.devnode);
    }
    return nodes;
  };
  // udev's events are read between messages, as they come.
  return {std::move(platform), [hidraw] { hidraw->Poll(); }, inaccessible, "linux"};
}

}  // namespace lu14::cli
