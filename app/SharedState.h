// State shared by the subsystems for the whole run of the program, in one
// clearly owned place: the form owns it, subsystems get it by reference.
#pragma once

#include <cstdint>
#include <string>

namespace lu14 {

struct SharedState {
  // 0 until a meter has been matched, then 14.
  std::uint8_t ModelCode = 0;
  // Holds the start-up caption from FormCreate until a meter is matched, then "14".
  std::string ModelSuffix;
};

}  // namespace lu14
