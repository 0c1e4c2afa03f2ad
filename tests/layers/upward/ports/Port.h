// A port that needs nothing above it: the layer check lets it pass.
#pragma once

#include "ports/Shell.h"
