// lu14-updater.exe: the Windows program.
#include <windows.h>

#include <commctrl.h>

#include "window/ProgramEntry.h"
#include "window/win32/MainWindow.h"
#include "window/win32/Win32Shell.h"
#include "device/win32/SystemLibraries.h"
#include "device/win32/Win32HidPlatform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  lu14::win32::LoadLibrariesFromTheSystemFolderOnly();
  // The toolkit's own start: common controls (progress bar, themed buttons)
  // and the shell's hidden window, before the guard runs.
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  lu14::win32::Win32Shell shell;
  // Timer2 sends a chunk every 2 ms, Timer3 starts the finishing step 1 ms
  // after the last one; a message timer would stretch either to 10-16 ms.
  shell.DrivePrecisely(lu14::kTimer2Id);
  shell.DrivePrecisely(lu14::kTimer3Id);
  lu14::win32::Win32HidPlatform hid;
  lu14::win32::MainWindow window(shell);
  return lu14::RunProgram(shell, hid, window);
}
