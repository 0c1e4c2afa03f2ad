// The firmware's words in a run's language, as lu14 and the web page give
// them: why an update that did not complete ended, and how a meter's
// checksum compares with the carried firmware's.
#pragma once

#include <cstdint>
#include <string>

#include "cli/output/Messages.h"
#include "update/UpdateOutcome.h"

namespace lu14::cli {

// The outcome holds this fault among those it found.
bool HasFault(const UpdateOutcome& outcome, UpdateFault fault);

// Why an update that did not complete ended, and what to do next (where
// running it again is the cure, in the words of `updateAgain`: lu14's
// command or the page's button); empty for one that completed.
std::string UpdateFailure(Language language, const UpdateOutcome& outcome, Msg updateAgain);

// The meter's firmware checksum, in decimal and hex, against the carried firmware's.
std::string ChecksumComparison(Language language, std::uint32_t checksum);

}  // namespace lu14::cli
