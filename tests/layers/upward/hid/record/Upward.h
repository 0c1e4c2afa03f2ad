// Record and replay reaching into the console tool for its wording: refused.
#pragma once

#include "cli/output/Messages.h"
#include "ports/HidPlatform.h"
