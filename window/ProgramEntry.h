// The program's life from launch to exit, the same for every front end.
#pragma once

#include "ports/Shell.h"
#include "window/TMForm.h"
#include "ports/HidPlatform.h"

namespace lu14 {

// A front end shows the form in a real window (or none) and runs its message
// loop.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Mirrors the form, shows it centred on the screen and dispatches messages
  // until the window is closed (after the form's UserClose). Returns then.
  virtual void RunMessageLoop(TMForm& form) = 0;
};

// Guard, window creation with FormCreate, message loop, exit steps. Returns the
// process exit code, which is 0 also for a copy that was turned away.
int RunProgram(Shell& shell, HidPlatform& hidPlatform, FrontEnd& frontEnd);

}  // namespace lu14
