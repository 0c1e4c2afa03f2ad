// Timers that keep a period below the message timer's resolution. A message
// timer ticks no faster than every 10 to 16 ms, which would stretch the
// update's 3761 chunk ticks of 2 ms to about a minute. These timers sit on a
// high-resolution waitable timer that the main message loop waits on; the
// loop hands out a due tick only when no message is waiting, exactly as the
// system does with WM_TIMER, so a queued device notice still goes first.
#pragma once

#include <windows.h>

#include <chrono>
#include <map>
#include <optional>

#include "ports/Shell.h"
#include "os/win32/Win32Handle.h"

namespace lu14::win32 {

class PreciseTimers {
 public:
  PreciseTimers();

  // The first tick is one full interval from now; starting again restarts.
  void Start(TimerId id, Milliseconds interval);
  void Stop(TimerId id);

  // The handle that becomes signalled shortly before the earliest timer is
  // due (null when the system has no waitable timers). It may also become
  // signalled for a timer stopped since; TakeDue then hands out nothing.
  HANDLE WaitHandle() const { return waitable_.get(); }

  // A timer whose tick is due, rescheduled one interval from now; nothing
  // when none is due or a message waits. A tick due within its spin margin is
  // waited for here, spinning. One tick per call, so ticks never pile up.
  std::optional<TimerId> TakeDue();

  // Blocks for `duration` to within a few microseconds: the high-resolution
  // timer for the bulk, a short spin for the rest. (The window's pauses, and
  // every wait of the console tool's runtime.) Any thread may wait at once.
  static void PreciseSleep(std::chrono::microseconds duration);

 private:
  struct Timer {
    LONGLONG interval;  // in performance-counter ticks
    LONGLONG due;
    LONGLONG spin;  // how long before `due` the loop is woken to spin the rest
  };
  static LONGLONG Now();
  static LONGLONG Frequency();
  // The longest a due time is spun for rather than waited for.
  static LONGLONG SpinTicks();
  // Sets the waitable timer for the earliest due timer, unless it is set so already.
  void Arm();

  UniqueHandle waitable_;
  std::map<TimerId, Timer> timers_;
  std::optional<LONGLONG> armedFor_;  // when the waitable timer is set to fire, if it is
};

}  // namespace lu14::win32
