// lu14-first-tick-hold.dll: the message hook that FirstTickHold (in
// FirstTickHold.h) puts on a program copy's window thread. Runs inside the
// program.
#include <windows.h>

#include <cwchar>

#include "tests/win32/FirstTickHold.h"

namespace {

bool tickHeld = false;  // once per process: only the first tick is held

HANDLE OpenNamedEvent(const wchar_t* prefix, DWORD access) {
  wchar_t name[64];
  std::swprintf(name, 64, L"%ls%lu", prefix, static_cast<unsigned long>(GetCurrentProcessId()));
  return OpenEventW(access, FALSE, name);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK HoldAtFirstTimerTick(int code, WPARAM removal, LPARAM message) {
  const auto* taken = reinterpret_cast<const MSG*>(message);
  // PM_NOREMOVE: a look at the queue that dispatches nothing (the window does
  // that while a long handler runs); only a tick taken out is about to run.
  if (code == HC_ACTION && removal == PM_REMOVE && !tickHeld && taken->message == WM_TIMER) {
    tickHeld = true;
    const HANDLE held = OpenNamedEvent(lu14::win32::kFirstTickHeldEvent, EVENT_MODIFY_STATE);
    const HANDLE release = OpenNamedEvent(lu14::win32::kFirstTickReleaseEvent, SYNCHRONIZE);
    if (held && release && SetEvent(held)) WaitForSingleObject(release, lu14::win32::kFirstTickHoldLimitMs);
    if (held) CloseHandle(held);
    if (release) CloseHandle(release);
  }
  return CallNextHookEx(nullptr, code, removal, message);
}
