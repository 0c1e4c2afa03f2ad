#include "status/VersionNumber.h"

namespace lu14 {
namespace {

int DigitValue(char32_t c, int base) {
  int value = -1;
  if (c >= U'0' && c <= U'9') value = static_cast<int>(c - U'0');
  else if (c >= U'a' && c <= U'f') value = static_cast<int>(c - U'a') + 10;
  else if (c >= U'A' && c <= U'F') value = static_cast<int>(c - U'A') + 10;
  return value < base ? value : -1;
}

}  // namespace

std::optional<int> ParseInteger(std::u32string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == U' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == U'+' || text[pos] == U'-')) negative = text[pos++] == U'-';
  int base = 10;
  if (pos < text.size() && (text[pos] == U'$' || text[pos] == U'x' || text[pos] == U'X')) {
    base = 16;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == U'0' && (text[pos + 1] == U'x' || text[pos + 1] == U'X')) {
    base = 16;
    pos += 2;
  }
  if (pos == text.size()) return std::nullopt;
  long long value = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = DigitValue(text[pos], base);
    if (digit < 0) return std::nullopt;
    value = value * base + digit;
    if (value > 0x7FFFFFFF) return std::nullopt;
  }
  return static_cast<int>(negative ? -value : value);
}

std::u32string VersionNumberText(std::u32string_view versionText) {
  return {versionText[1], versionText[3], versionText[4]};
}

}  // namespace lu14
