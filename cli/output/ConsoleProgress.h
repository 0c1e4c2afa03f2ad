// Shows an update's progress on the error stream: each phase named, with its
// percent and the time left; a bar redrawn in place on a terminal, a line
// every tenth of the way otherwise.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <ostream>

#include "cli/output/Messages.h"
#include "ports/UpdateView.h"
#include "update/UpdateOutcome.h"

namespace lu14::cli {

class ConsoleProgress {
 public:
  using Clock = std::function<std::chrono::microseconds()>;
  // clock: the run's time (the wall clock, or the virtual one in tests).
  ConsoleProgress(std::ostream& err, bool terminal, Language language, Clock clock)
      : err_(err), terminal_(terminal), language_(language), clock_(std::move(clock)) {}
  ~ConsoleProgress() { Finish(); }
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  // Nothing is shown (lu14 -q, or JSON shows the progress instead).
  void SetSilent(bool silent) { silent_ = silent; }
  // The terminal's width (0: not known): a bar redrawn in place must not wrap,
  // or each redraw would start a new line. Its bar narrows first, then the
  // line is cut.
  void SetColumns(std::size_t columns) { columns_ = columns; }
  void PhaseStarted(UpdatePhase phase);
  void Show(const UpdateProgress& progress);
  // Ends a bar drawn in place, so that what follows starts on a new line.
  void Finish();

  // The lines or pages done of a progress report (the backup reports the
  // index of the line it wrote).
  static int Done(const UpdateProgress& progress);
  // Seconds left in a phase, from the pace so far; nothing before any is done.
  static std::optional<long> SecondsLeft(std::chrono::microseconds elapsed, int done, int total);

 private:
  std::string PhaseName(UpdatePhase phase) const;

  std::ostream& err_;
  bool terminal_;
  Language language_;
  Clock clock_;
  bool silent_ = false;
  std::size_t columns_ = 0;
  bool barOpen_ = false;
  UpdatePhase phase_ = UpdatePhase::SavingSettings;
  std::chrono::microseconds phaseStart_{0};
  int lastShown_ = -1;  // terminal: the percent drawn; otherwise the tenth
};

}  // namespace lu14::cli
