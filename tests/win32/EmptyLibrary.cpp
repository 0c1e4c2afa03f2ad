// A library that exports nothing. Copied beside the program as hid.dll, it is
// loaded instead of the system's and offers none of the HID functions: the
// program then has no HID services, as on a system where they are missing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
