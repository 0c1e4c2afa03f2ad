#include "app/cli/TerminalText.h"

#include <cstdio>

namespace lu14::cli {

std::string TerminalSafe(std::u32string_view meterText) {
  std::string safe;
  for (const char32_t c : meterText) {
    if (c == U'\\') {
      safe += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      safe += static_cast<char>(c);
    } else {
      char escaped[12];
      std::snprintf(escaped, sizeof escaped, c <= 0xFF ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(c));
      safe += escaped;
    }
  }
  return safe;
}

}  // namespace lu14::cli
