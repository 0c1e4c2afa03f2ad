// Text that came from the meter, made safe to print on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace lu14::cli {

// Printable ASCII stays; a backslash becomes "\\", any other character (a
// control character, DEL, or a byte above 0x7E) "\xNN", or "\uNNNN" above
// U+00FF. A meter's bytes can then never move the cursor or retitle a window.
std::string TerminalSafe(std::u32string_view meterText);

}  // namespace lu14::cli
