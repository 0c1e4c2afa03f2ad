#include "cli/output/TerminalText.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "ports/Utf.h"

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

std::string EscapeControlCharacters(std::string_view utf8, const char* format) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    unsigned control = 0x100;
    if (byte < 0x20 || byte == 0x7F) {
      control = byte;
    } else if (byte == 0xC2 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xE0) == 0x80) {
      control = static_cast<unsigned char>(utf8[++i]);
    }
    if (control < 0x100) {
      char escaped[12];
      std::snprintf(escaped, sizeof escaped, format, control);
      out += escaped;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

namespace {
bool StartsCodePoint(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }
}  // namespace

std::string Utf8TerminalSafe(std::string_view utf8) { return EscapeControlCharacters(utf8, "\\x%02X"); }

std::string PathText(const std::filesystem::path& path, bool forJson) {
  const std::u8string utf8 = path.u8string();
  const std::string text(utf8.begin(), utf8.end());
  return forJson ? text : Utf8TerminalSafe(text);
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string MeterText(std::u32string_view text, bool forJson) {
  return forJson ? CodePointsToUtf8(text) : TerminalSafe(text);
}

std::string Because(std::string_view reason) {
  return reason.empty() ? std::string() : " (" + EscapeControlCharacters(reason, "\\x%02X") + ")";
}

std::size_t Columns(std::string_view utf8) {
  return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), StartsCodePoint));
}

std::string FitColumns(std::string_view utf8, std::size_t columns) {
  if (columns == 0) return std::string(utf8);
  std::size_t counted = 0;
  for (std::size_t at = 0; at < utf8.size(); ++at) {
    if (StartsCodePoint(utf8[at]) && counted++ == columns) return std::string(utf8.substr(0, at));
  }
  return std::string(utf8);
}

}  // namespace lu14::cli
