#include <windows.h>

#include "cli/os/HardwarePlatform.h"
#include "device/win32/Win32HidPlatform.h"

namespace lu14::cli {
namespace {

// The platform's hidden window hears of plug and unplug through this thread's
// message queue (WM_DEVICECHANGE, broadcast by the system). A console program
// has no message loop of its own: the runtime empties the queue between its
// messages and ticks instead. A notice posted while the queue is emptied (a
// device-change notice that reposts itself) is taken in the same pass.
void DispatchWindowMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

HardwarePlatform MakeHardwarePlatform(RealTimeRuntime&) {
  // Every meter Windows lists may be opened by the user at the desktop:
  // nothing to name as inaccessible.
  return {std::make_unique<win32::Win32HidPlatform>(), DispatchWindowMessages, nullptr, "windows"};
}

}  // namespace lu14::cli
