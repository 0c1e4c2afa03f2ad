#include "window/ProgramEntry.h"

#include "window/FailureReport.h"
#include "window/InstanceGuard.h"

namespace lu14 {

int RunProgram(Shell& shell, HidPlatform& hidPlatform, FrontEnd& frontEnd) {
  InstanceGuard guard(shell);
  // A copy turned away opens no window and starts no command line; the guard's
  // exit step gives nothing back (its count is 0) and closes the handle.
  if (!guard.StartInstanceGuard()) return 0;
  {
    TMForm form(shell, hidPlatform, ApplicationTitle(shell.ProgramPath()));
    shell.SetEventSink(&form);
    frontEnd.RunMessageLoop(form);
    shell.SetEventSink(nullptr);
  }  // the form, its timers and the HID controller go before the guard is given back
  guard.EndInstanceGuard();
  return 0;
}

}  // namespace lu14
