// The calls the stand-in hid.dll exports to the stand-in setupapi.dll, which
// imports them: the bus and its devices live in hid.dll only.
#pragma once

#include <windows.h>

extern "C" {

// One present device interface.
struct Lu14StandInInterface {
  DWORD devInst;
  WCHAR path[520];  // zero-terminated
};

// Copies the interfaces present now, in the order they were plugged, into
// `out` (at most `capacity`) and returns how many are present.
DWORD WINAPI Lu14StandInListInterfaces(Lu14StandInInterface* out, DWORD capacity);
// A device information set was made (+1) or destroyed (-1).
void WINAPI Lu14StandInCountSet(LONG delta);
// A call was refused for a wrong record size or argument.
void WINAPI Lu14StandInCountRefusal();

}  // extern "C"
