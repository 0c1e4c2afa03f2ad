#include "cli/output/ConsoleProgress.h"

#include <algorithm>
#include <string>

#include "cli/output/TerminalText.h"

namespace lu14::cli {

void ConsoleProgress::Finish() {
  if (barOpen_) err_ << '\n' << std::flush;
  barOpen_ = false;
}

std::string ConsoleProgress::PhaseName(UpdatePhase phase) const {
  switch (phase) {
    case UpdatePhase::SavingSettings: return Text(language_, Msg::PhaseSavingSettings);
    case UpdatePhase::Writing: return Text(language_, Msg::PhaseWriting);
    case UpdatePhase::Finishing: return Text(language_, Msg::PhaseVerifying);
  }
  return {};
}

int ConsoleProgress::Done(const UpdateProgress& progress) {
  return progress.phase == UpdatePhase::SavingSettings ? progress.done + 1 : progress.done;
}

std::optional<long> ConsoleProgress::SecondsLeft(std::chrono::microseconds elapsed, int done, int total) {
  if (done <= 0 || total <= 0) return std::nullopt;
  const auto left = elapsed * std::max(total - done, 0) / done;
  // Rounded up: "0 s left" only at the end.
  return static_cast<long>((std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 999) / 1000);
}

void ConsoleProgress::PhaseStarted(UpdatePhase phase) {
  phase_ = phase;
  phaseStart_ = clock_ ? clock_() : std::chrono::microseconds(0);
  lastShown_ = -1;
  if (silent_) return;
  Finish();
  // The last phase has no steps to count: its name is all there is to show.
  if (phase == UpdatePhase::Finishing) err_ << PhaseName(phase) << "...\n" << std::flush;
}

void ConsoleProgress::Show(const UpdateProgress& progress) {
  if (silent_) return;
  if (progress.phase != phase_) PhaseStarted(progress.phase);
  const int total = std::max(progress.total, 1);
  const int done = std::clamp(Done(progress), 0, total);
  const int percent = done * 100 / total;
  const auto elapsed = (clock_ ? clock_() : std::chrono::microseconds(0)) - phaseStart_;
  const std::optional<long> left = SecondsLeft(elapsed, done, total);
  const std::string leftText = left && done < total ? ", " + Text(language_, Msg::TimeLeft, {std::to_string(*left)}) : "";
  if (terminal_) {
    if (percent == lastShown_ && done < total) return;
    const std::string head = PhaseName(progress.phase) + " [";
    const std::string tail = "] " + std::to_string(percent) + '%' + leftText;
    // The widest bar that leaves the last column free, 10 to 30 marks.
    constexpr std::size_t kWidest = 30, kNarrowest = 10;
    const std::size_t room = columns_ > 0 ? columns_ - 1 : kWidest + Columns(head) + Columns(tail);
    const std::size_t around = Columns(head) + Columns(tail);
    const int width = static_cast<int>(std::clamp(room > around ? room - around : 0, kNarrowest, kWidest));
    const int filled = done * width / total;
    const std::string bar = head + std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(width - filled), '.') + tail;
    // \x1b[K clears what a longer line drawn before left behind.
    err_ << '\r' << FitColumns(bar, columns_ > 0 ? columns_ - 1 : 0) << "\x1b[K" << std::flush;
    barOpen_ = true;
    lastShown_ = percent;
    return;
  }
  const int tenth = done * 10 / total;
  if (tenth == lastShown_) return;
  err_ << PhaseName(progress.phase) << ": " << percent << '%' << leftText << '\n' << std::flush;
  lastShown_ = tenth;
}

}  // namespace lu14::cli
