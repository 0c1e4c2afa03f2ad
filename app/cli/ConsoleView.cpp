#include "app/cli/ConsoleView.h"

#include <string>

namespace lu14::cli {

ConsoleView::ConsoleView(TMForm& form, std::ostream& out, bool terminal)
    : form_(form), out_(out), terminal_(terminal) {
  form_.AttachView(this);
}

ConsoleView::~ConsoleView() {
  FinishProgress();
  form_.AttachView(nullptr);
}

void ConsoleView::FinishProgress() {
  if (barOpen_) out_ << '\n' << std::flush;
  barOpen_ = false;
}

bool ConsoleView::LineAppended(const std::string& line) {
  FinishProgress();
  out_ << line << '\n' << std::flush;
  return true;
}

void ConsoleView::ControlChanged(ControlId id) {
  if (id != ControlId::Pr1) return;
  const int position = form_.Pr1.Position();
  const int maximum = std::max(form_.Pr1.Max(), 1);
  if (position == lastShown_) return;
  if (terminal_) {
    constexpr int kWidth = 40;
    const int filled = position * kWidth / maximum;
    out_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << position << '/' << maximum
         << std::flush;
    barOpen_ = true;
    lastShown_ = position;
  } else if (position == maximum || position * 10 / maximum != lastShown_ * 10 / maximum) {
    out_ << "progress " << position << '/' << maximum << '\n' << std::flush;
    lastShown_ = position;
  }
}

}  // namespace lu14::cli
