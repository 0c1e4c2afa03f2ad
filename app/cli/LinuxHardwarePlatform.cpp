#include "app/cli/HardwarePlatform.h"
#include "device/MeterProtocol.h"
#include "device/linux/LinuxHidPlatform.h"

namespace lu14::cli {

HardwarePlatform MakeHardwarePlatform(RealTimeRuntime& runtime, std::ostream& problems) {
  auto platform = std::make_unique<linux_hid::LinuxHidPlatform>(runtime);
  // A meter that is attached but that this user may not open would otherwise
  // look like no meter at all.
  for (const linux_hid::AccessProblem& problem : platform->AccessProblems(kMeterVendorId, kMeterProductId)) {
    problems << problem.message << '\n';
  }
  linux_hid::LinuxHidPlatform* hidraw = platform.get();
  // udev's events are read between messages, as they come.
  return {std::move(platform), [hidraw] { hidraw->Poll(); }};
}

}  // namespace lu14::cli
