// Shows the form on a terminal: every log line as it is appended, and the
// progress bar (a bar redrawn in place on a terminal, a line every tenth of
// the way otherwise).
#pragma once

#include <ostream>

#include "app/TMForm.h"
#include "app/components/FormView.h"

namespace lu14::cli {

class ConsoleView : public FormView {
 public:
  ConsoleView(TMForm& form, std::ostream& out, bool terminal);
  ~ConsoleView() override;
  void CaptionChanged() override {}
  void ControlChanged(ControlId id) override;
  bool LineAppended(const std::string& line) override;
  void LinesCleared() override {}
  // Ends a bar drawn in place, so that what follows starts on a new line.
  void FinishProgress();

 private:
  TMForm& form_;
  std::ostream& out_;
  bool terminal_;
  bool barOpen_ = false;
  int lastShown_ = -1;
};

}  // namespace lu14::cli
