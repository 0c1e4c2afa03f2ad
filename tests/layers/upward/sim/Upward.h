// The simulated world reaching into the form: refused as well.
#pragma once

#include "window/TMForm.h"
#include "sim/meter/SimMeter.h"
