#include "app/cli/JsonText.h"

#include <cstdio>

namespace lu14::cli {
namespace {

// The library's output escapes C0 and never leaves a raw control byte
// outside a string, so DEL (0x7F) and the C1 controls (U+0080..U+009F, in
// UTF-8 C2 80..C2 9F) can only be inside strings: they are escaped there.
std::string EscapeRemainingControls(const std::string& dumped) {
  std::string out;
  out.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const auto byte = static_cast<unsigned char>(dumped[i]);
    unsigned control = 0x100;
    if (byte == 0x7F) {
      control = byte;
    } else if (byte == 0xC2 && i + 1 < dumped.size() && (static_cast<unsigned char>(dumped[i + 1]) & 0xE0) == 0x80) {
      control = static_cast<unsigned char>(dumped[++i]);
    }
    if (control < 0x100) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", control);
      out += escaped;
    } else {
      out += dumped[i];
    }
  }
  return out;
}

std::string Dump(const nlohmann::json& value) {
  // Malformed UTF-8 becomes U+FFFD rather than an exception.
  return EscapeRemainingControls(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace

std::string JsonLine(const nlohmann::json& value) { return Dump(value) + "\n"; }

std::string JsonString(const std::string& utf8) { return Dump(nlohmann::json(utf8)); }

}  // namespace lu14::cli
