// Why an update ended, in a run's language: the words lu14 and the web page
// give an UpdateOutcome that did not complete.
#pragma once

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

}  // namespace lu14::cli
