#include "cli/fleet/OneMeterPlatform.h"

#include <algorithm>

namespace lu14::cli {

std::optional<std::vector<HidInterface>> OneMeterPlatform::PresentInterfaces() {
  std::optional<std::vector<HidInterface>> present = machine_.PresentInterfaces();
  if (present) std::erase_if(*present, [this](const HidInterface& device) { return device.path != path_; });
  return present;
}

std::unique_ptr<HidHandle> OneMeterPlatform::Open(const std::u16string& path, bool readWrite) {
  if (path != path_) return nullptr;
  return machine_.Open(path, readWrite);
}

}  // namespace lu14::cli
