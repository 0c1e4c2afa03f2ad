#include "app/cli/ConsoleProgress.h"

#include <algorithm>
#include <string>

namespace lu14::cli {

void ConsoleProgress::Finish() {
  if (barOpen_) out_ << '\n' << std::flush;
  barOpen_ = false;
}

void ConsoleProgress::Show(const UpdateProgress& progress) {
  if (progress.phase != phase_) {
    Finish();
    phase_ = progress.phase;
    lastShown_ = -1;
  }
  // The backup reports the index of the line it wrote; show lines done.
  const int done = progress.phase == UpdatePhase::SavingSettings ? progress.done + 1 : progress.done;
  const int total = std::max(progress.total, 1);
  if (done == lastShown_) return;
  if (terminal_) {
    constexpr int kWidth = 40;
    const int filled = done * kWidth / total;
    out_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << done << '/' << total << std::flush;
    barOpen_ = true;
    lastShown_ = done;
  } else if (done == total || lastShown_ < 0 || done * 10 / total != lastShown_ * 10 / total) {
    out_ << "progress " << done << '/' << total << '\n' << std::flush;
    lastShown_ = done;
  }
}

}  // namespace lu14::cli
