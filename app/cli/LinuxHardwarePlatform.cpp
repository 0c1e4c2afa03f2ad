#include "app/cli/HardwarePlatform.h"

namespace lu14::cli {
namespace {
// Until the hidraw adapter is wired in, the hardware path binds nothing.
class NoHid : public HidPlatform {
 public:
  bool Bind() override { return false; }
  std::optional<std::vector<HidInterface>> PresentInterfaces() override { return std::nullopt; }
  std::unique_ptr<HidHandle> Open(const std::u16string&, bool) override { return nullptr; }
  bool StartNotifications(std::function<void(std::intptr_t)>) override { return false; }
  void PostDevicesChanged(std::intptr_t) override {}
  void StopNotifications() override {}
};
}  // namespace

HardwarePlatform MakeHardwarePlatform(RealTimeRuntime&, std::ostream&) { return {std::make_unique<NoHid>(), {}}; }

}  // namespace lu14::cli
