#include "ports/Utf.h"

namespace lu14 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Decodes one UTF-8 sequence at `pos`, advancing it; malformed input yields U+FFFD
// and skips one byte, so decoding always makes progress.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos++]);
  if (lead < 0x80) return lead;
  int length = 0;
  char32_t cp = 0;
  if ((lead & 0xE0) == 0xC0) { length = 1; cp = lead & 0x1Fu; }
  else if ((lead & 0xF0) == 0xE0) { length = 2; cp = lead & 0x0Fu; }
  else if ((lead & 0xF8) == 0xF0) { length = 3; cp = lead & 0x07u; }
  else return kReplacement;
  if (pos + static_cast<std::size_t>(length) > text.size()) return kReplacement;
  for (int i = 0; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + static_cast<std::size_t>(i)]);
    if ((next & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (next & 0x3Fu);
  }
  pos += static_cast<std::size_t>(length);
  constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[length] || cp > 0x10FFFF || IsHighSurrogate(cp) || IsLowSurrogate(cp)) return kReplacement;
  return cp;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      unit = kReplacement;
    }
    AppendUtf8(out, unit);
  }
  return out;
}

std::string CodePointsToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t cp : text) AppendUtf8(out, cp > 0x10FFFF || IsHighSurrogate(cp) || IsLowSurrogate(cp) ? kReplacement : cp);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) AppendUtf16(out, DecodeUtf8(text, pos));
  return out;
}

}  // namespace lu14
