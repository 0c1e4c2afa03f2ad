#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

struct Console::Saved {};

Console::Console() {
  OpenClosedStandardDescriptors();
  errorRedraws_ = isatty(STDERR_FILENO) != 0;
  personAnswers_ = errorRedraws_ && isatty(STDIN_FILENO) != 0;
  winsize size{};
  if (errorRedraws_ && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) errorColumns_ = size.ws_col;
}

Console::~Console() = default;

}  // namespace lu14::cli
