// A device header that reaches up into the form: the layer check must refuse it.
#pragma once

#include "window/TMForm.h"
#include "ports/Shell.h"
