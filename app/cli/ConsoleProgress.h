// Shows an update's progress on the console: a bar redrawn in place on a
// terminal, a line every tenth of the way otherwise.
#pragma once

#include <ostream>

#include "ports/UpdateView.h"

namespace lu14::cli {

class ConsoleProgress {
 public:
  ConsoleProgress(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
  ~ConsoleProgress() { Finish(); }
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  void Show(const UpdateProgress& progress);
  // Ends a bar drawn in place, so that what follows starts on a new line.
  void Finish();

 private:
  std::ostream& out_;
  bool terminal_;
  bool barOpen_ = false;
  UpdatePhase phase_ = UpdatePhase::SavingSettings;
  int lastShown_ = -1;
};

}  // namespace lu14::cli
