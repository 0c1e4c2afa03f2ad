#include "app/cli/JsonText.h"

#include <cmath>
#include <cstdio>

namespace lu14::cli {

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    const auto byte = static_cast<unsigned char>(c);
    // Control characters, DEL and the C1 controls (U+0080..U+009F, which a
    // meter's bytes can carry) are escaped, so that the text shown on a
    // terminal can never drive it.
    unsigned control = 0x100;
    if (byte < 0x20 || byte == 0x7F) {
      control = byte;
    } else if (byte == 0xC2 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80) {
      control = static_cast<unsigned char>(utf8[++i]);
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (control < 0x100) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", control);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

}  // namespace lu14::cli
