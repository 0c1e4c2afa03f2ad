// Holds a copy of lu14-updater.exe at its first timer tick, so that a test
// can read the window exactly as the program made it, before the status poll
// (Timer1, one second after the form is made) changes it. Under load the
// program can take longer than that second to show its window, and the tick
// then comes at once: a test that only hurries can lose that race.
//
// The test starts the copy suspended and puts a message hook (WH_GETMESSAGE)
// from lu14-first-tick-hold.dll on its main thread, the thread of the window.
// The hook runs in the program: as that thread takes its first WM_TIMER from
// its queue, before the tick is dispatched, it sets the "held" event and waits
// for the "release" event (both named after the program's process id). While
// it waits, the thread answers no message: the test reads only what the
// system keeps of the windows (StoredText, places, styles), never WM_GETTEXT.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>

namespace lu14::win32 {

inline constexpr wchar_t kFirstTickHoldLibrary[] = L"lu14-first-tick-hold.dll";
inline constexpr char kFirstTickHoldProcedure[] = "HoldAtFirstTimerTick";
inline constexpr wchar_t kFirstTickHeldEvent[] = L"lu14-first-tick-held-";       // + process id
inline constexpr wchar_t kFirstTickReleaseEvent[] = L"lu14-first-tick-release-";  // + process id
// The hook lets the thread go on by itself after this long.
inline constexpr DWORD kFirstTickHoldLimitMs = 120'000;

class ProgramCopy;

// Test side. Ends the hold (and removes the hook) on destruction at the latest.
class FirstTickHold {
 public:
  // `copy` must have been started suspended; it is resumed here, hooked.
  explicit FirstTickHold(ProgramCopy& copy);
  ~FirstTickHold();
  FirstTickHold(const FirstTickHold&) = delete;
  FirstTickHold& operator=(const FirstTickHold&) = delete;

  // false when the hook could not be set, or the copy was not held in time.
  bool WaitUntilHeld(std::chrono::milliseconds limit) const;
  // Lets the thread dispatch its first tick and go on.
  void Release();

 private:
  HANDLE held_ = nullptr;
  HANDLE release_ = nullptr;
  HMODULE library_ = nullptr;
  HHOOK hook_ = nullptr;
};

}  // namespace lu14::win32
