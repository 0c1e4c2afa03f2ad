#include "cli/output/JsonText.h"
#include "cli/output/TerminalText.h"

#include <cstdio>

namespace lu14::cli {
namespace {

// The library's output escapes C0 and never leaves a raw control byte
// outside a string, so DEL (0x7F) and the C1 controls (U+0080..U+009F, in
// UTF-8 C2 80..C2 9F) can only be inside strings: they are escaped there.
std::string EscapeRemainingControls(const std::string& dumped) {
  return EscapeControlCharacters(dumped, "\\u%04x");
}

std::string Dump(const nlohmann::json& value) {
  // Malformed UTF-8 becomes U+FFFD rather than an exception.
  return EscapeRemainingControls(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

}  // namespace

std::string JsonLine(const nlohmann::json& value) { return Dump(value) + "\n"; }

std::string JsonString(const std::string& utf8) { return Dump(nlohmann::json(utf8)); }

}  // namespace lu14::cli
