#include "tests/win32/FirstTickHold.h"

#include <string>

#include "tests/win32/ProgramCopy.h"
#include "tests/win32/WaitFor.h"

namespace lu14::win32 {
namespace {

HANDLE MakeEvent(const wchar_t* prefix, DWORD processId) {
  const std::wstring name = prefix + std::to_wstring(processId);
  return CreateEventW(nullptr, TRUE, FALSE, name.c_str());
}

}  // namespace

FirstTickHold::FirstTickHold(ProgramCopy& copy)
    : held_(MakeEvent(kFirstTickHeldEvent, copy.ProcessId())),
      release_(MakeEvent(kFirstTickReleaseEvent, copy.ProcessId())),
      library_(LoadLibraryW((TestsFolder() / kFirstTickHoldLibrary).c_str())) {
  const auto procedure =
      library_ ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(library_, kFirstTickHoldProcedure)))
               : nullptr;
  // Set before the program's thread runs at all, so that no tick comes first.
  if (held_ && release_ && procedure && copy.MainThreadId() != 0) {
    hook_ = SetWindowsHookExW(WH_GETMESSAGE, procedure, library_, copy.MainThreadId());
  }
  copy.Resume();
}

FirstTickHold::~FirstTickHold() {
  Release();
  if (hook_) UnhookWindowsHookEx(hook_);
  if (library_) FreeLibrary(library_);
  if (held_) CloseHandle(held_);
  if (release_) CloseHandle(release_);
}

bool FirstTickHold::WaitUntilHeld(std::chrono::milliseconds limit) const {
  return hook_ && PumpUntil([&] { return WaitForSingleObject(held_, 0) == WAIT_OBJECT_0; }, limit);
}

void FirstTickHold::Release() {
  if (release_) SetEvent(release_);
}

}  // namespace lu14::win32
