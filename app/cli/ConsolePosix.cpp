#include <unistd.h>

#include "app/cli/Console.h"

namespace lu14::cli {

struct Console::Saved {};

Console::Console()
    : errorRedraws_(isatty(STDERR_FILENO) != 0), personAnswers_(errorRedraws_ && isatty(STDIN_FILENO) != 0) {}

Console::~Console() = default;

}  // namespace lu14::cli
