#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "cli/output/Console.h"

namespace lu14::cli {
namespace {

// A process started with descriptor 0, 1 or 2 closed (`lu14 ... 2>&-`) would
// hand that number to the next file it opens: the settings backup or the
// recording would then take the progress text or the results written to the
// standard stream. Each closed one is opened on /dev/null first, in order, so
// that open() gives back the lowest free number, which is that one.
void OpenClosedStandardDescriptors() {
  for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != descriptor) {
      dup2(opened, descriptor);
      close(opened);
    }
  }
}

// A terminal that cannot move its cursor or clear a line.
bool DumbTerminal() {
  const char* term = std::getenv("TERM");
  return term && std::strcmp(term, "dumb") == 0;
}

}  // namespace

struct Console::Saved {
  std::ofstream terminal;  // the questions' way to the terminal when the error stream is elsewhere
};

Console::Console() : saved_(std::make_unique<Saved>()) {
  OpenClosedStandardDescriptors();
  const bool errorTerminal = isatty(STDERR_FILENO) != 0;
  errorRedraws_ = errorTerminal && !DumbTerminal();
  winsize size{};
  if (errorRedraws_ && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) errorColumns_ = size.ws_col;
  if (isatty(STDIN_FILENO) == 0) return;
  if (errorTerminal) {
    questions_ = &std::cerr;
  } else {
    saved_->terminal.open("/dev/tty");
    if (saved_->terminal) questions_ = &saved_->terminal;
  }
  personAnswers_ = questions_ != nullptr;
}

Console::~Console() = default;

}  // namespace lu14::cli
