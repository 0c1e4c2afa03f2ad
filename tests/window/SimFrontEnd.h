// A front end without a window for the simulated runtime: it runs the virtual
// message loop until the scripted user closes the form.
#pragma once

#include "window/ProgramEntry.h"
#include "sim/SimRuntime.h"

namespace lu14::sim {

class SimFrontEnd : public FrontEnd {
 public:
  // closeAfter: when, after the loop starts, the user closes the window.
  SimFrontEnd(SimRuntime& runtime, SimTime closeAfter) : runtime_(runtime), closeAfter_(closeAfter) {}

  void RunMessageLoop(TMForm& form) override;

  // The form as it was when the loop ended, for inspection after RunProgram.
  bool Ran() const { return ran_; }
  const std::string& CaptionAtClose() const { return captionAtClose_; }

 private:
  SimRuntime& runtime_;
  SimTime closeAfter_;
  bool ran_ = false;
  std::string captionAtClose_;
};

}  // namespace lu14::sim
