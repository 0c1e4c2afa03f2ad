// The words a front end gives what the link to the meter reports: a retry
// or a fault of a transaction, and a refusal of the link itself.
#pragma once

#include "cli/output/Messages.h"
#include "device/LinkEvent.h"
#include "device/MeterLink.h"

namespace lu14::cli {

// A transaction's retry or fault, shown with -v (lu14) or in the page's log.
Msg LinkEventMessage(LinkEventKind kind);

// The link's refusal: no meter, or the meter busy.
Msg LinkFaultMessage(LinkFault fault);

}  // namespace lu14::cli
