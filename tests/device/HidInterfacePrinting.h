// How GoogleTest prints a HidInterface when a comparison of scan results fails.
#pragma once

#include <ostream>
#include <string>

#include "ports/HidPlatform.h"

namespace lu14 {

inline void PrintTo(const HidInterface& interface, std::ostream* out) {
  *out << "{" << std::string(interface.path.begin(), interface.path.end()) << ", 0x" << std::hex << interface.deviceId
       << std::dec << "}";
}

}  // namespace lu14
