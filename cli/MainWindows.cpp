// lu14.exe. The command line comes as UTF-16 (wmain): main's narrow argv would
// pass it through the ANSI code page, which loses a Cyrillic file name on a
// system set to another one.
#include <windows.h>

#include "cli/LuMain.h"
#include "device/win32/SystemLibraries.h"
#include "ports/Utf.h"

int wmain(int argc, wchar_t** argv) {
  lu14::win32::LoadLibrariesFromTheSystemFolderOnly();
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(lu14::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  const lu14::cli::Console console;
  return lu14::cli::LuMain(arguments, console);
}
