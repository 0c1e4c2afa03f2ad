#include "session/LoopWiring.h"

namespace lu14 {

void WireOnLoop(MeterAgent& meter, LoopPacer& pacer, TJvHidDeviceController& controller, const LoopWiring& wiring) {
  pacer.Drive([&meter] { meter.Update.ChunkTick(); }, [&meter] { meter.Update.FinishTick(); }, wiring.dispatch);
  controller.OnEnumerate = [found = wiring.found](TJvHidDevice& device, std::int32_t) {
    found(device);
    return true;
  };
  controller.OnDeviceChange = [&meter, &controller] {
    if (!meter.Link.CurrentDevice()) controller.Enumerate();
  };
  controller.OnRemoval = wiring.removed;
  // A device that cannot be opened is not the meter's: the scan goes on without it.
  controller.OnDeviceCreateError = [](const TJvHidPnPInfo&, bool& handled, bool&) { handled = true; };
}

}  // namespace lu14
