// One restore of a settings backup into the simulated meter with faults
// planted in it, and the checks a fault sweep makes of it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/update/sweep/PlantedFault.h"

namespace lu14::testing {

// Where a clean restore of six differing bytes lies, after the first poll:
// its transfers on the bus (1-based) and its commands at the meter.
struct RestoreSpan {
  std::size_t firstTransfer = 0;
  std::size_t lastTransfer = 0;
  std::size_t firstCommand = 0;
  std::size_t lastCommand = 0;
};
RestoreSpan CleanRestoreSpan();

// Restores a backup that differs from the meter in six bytes (and in bytes
// the update owns, which are never written) with the faults planted, and
// gives back the checks it broke:
// - the meter is read as it is: the differences found are the real ones;
// - the account is the truth: a byte counted written holds the file's byte,
//   a byte not attempted its own, a failed one either, and every byte read
//   back is what the meter holds;
// - success is claimed only when every differing byte holds the file's;
// - no other byte changes;
// - the same restore run again afterwards finishes the job.
std::vector<std::string> RestoreUnderFaults(const std::vector<PlantedFault>& faults);

}  // namespace lu14::testing
