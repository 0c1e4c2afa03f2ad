// An adapter that reaches up into the window's front end: refused as well.
#pragma once

#include "window/win32/Win32Shell.h"
#include "os/win32/Win32Handle.h"
#include "ports/HidPlatform.h"
