// The simulated world reaching into the form: refused as well.
#pragma once

#include "app/TMForm.h"
#include "sim/meter/SimMeter.h"
