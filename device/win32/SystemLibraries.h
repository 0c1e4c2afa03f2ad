// The rule both Windows programs start with: a library loaded by name, by the
// program or by a system library on its behalf, comes from the system folder,
// never from beside the program, the current folder or PATH. A hid.dll left
// in a downloads folder next to the program would otherwise run inside it.
#pragma once

namespace lu14::win32 {

// Call first thing in the program's entry point. Looked up rather than
// imported: Windows 7 without KB2533623 lacks SetDefaultDllDirectories, and
// the program must still start there (its HID libraries are then loaded by
// full path, see Win32HidServices.h).
void LoadLibrariesFromTheSystemFolderOnly();

}  // namespace lu14::win32
