#include <sys/ioctl.h>
#include <unistd.h>

#include "app/cli/Console.h"

namespace lu14::cli {

struct Console::Saved {};

Console::Console()
    : errorRedraws_(isatty(STDERR_FILENO) != 0), personAnswers_(errorRedraws_ && isatty(STDIN_FILENO) != 0) {
  winsize size{};
  if (errorRedraws_ && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0) errorColumns_ = size.ws_col;
}

Console::~Console() = default;

}  // namespace lu14::cli
