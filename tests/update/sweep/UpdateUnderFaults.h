// One update of the window's meter with faults planted in it, the checks a
// fault sweep makes of it, and the user's recovery: plug the meter back in
// and press the button again.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/update/sweep/PlantedFault.h"

namespace lu14::testing {

// Where a clean update lies, after the first poll: its transfers on the bus
// (1-based) and its commands at the meter (0-based since the meter was made).
struct UpdateSpan {
  std::size_t firstTransfer = 0;
  std::size_t lastTransfer = 0;
  std::size_t firstCommand = 0;
  std::size_t lastCommand = 0;
};
UpdateSpan CleanUpdateSpan();

// Runs the update with the faults and gives back the checks it broke:
// - no failure escapes a handler;
// - success is claimed only for a meter that holds the whole image, the
//   version text and the completion mark;
// - once a page was committed, the completion mark is never over a wrong image;
// - the settings backup, if one was left, holds the meter's EEPROM as it was
//   before the update, and no part file is left;
// - nothing but the update's own EEPROM bytes changed;
// - after the user's recovery a second update succeeds, with a right backup.
std::vector<std::string> UpdateUnderFaults(const std::vector<PlantedFault>& faults);

}  // namespace lu14::testing
