#include "cli/output/TerminalText.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

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

std::vector<std::string_view> CodePoints(std::string_view utf8) {
  std::vector<std::string_view> points;
  for (std::size_t at = 0; at < utf8.size();) {
    std::size_t next = at + 1;
    while (next < utf8.size() && !StartsCodePoint(utf8[next])) ++next;
    points.push_back(utf8.substr(at, next - at));
    at = next;
  }
  return points;
}
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

std::string Shorten(std::string_view utf8, std::size_t columns, std::size_t keepFrom, std::size_t keepTo) {
  std::vector<std::size_t> starts;  // the byte each code point starts at, then the end
  for (std::size_t at = 0; at < utf8.size(); ++at) {
    if (StartsCodePoint(utf8[at])) starts.push_back(at);
  }
  const std::size_t count = starts.size();
  starts.push_back(utf8.size());
  if (count <= columns) return std::string(utf8);
  if (columns == 0) return {};
  keepTo = std::min(keepTo, count);
  keepFrom = std::min(keepFrom, keepTo);
  const auto kept = [&](std::size_t from, std::size_t to) {
    return std::max(std::min(to, keepTo), std::max(from, keepFrom)) - std::max(from, keepFrom);
  };
  const auto part = [&](std::size_t from, std::size_t to) {
    return std::string(utf8.substr(starts[from], starts[to] - starts[from]));
  };
  // How near a cut lies to where it would best be: 0 there, less the farther off.
  const auto nearness = [](std::size_t a, std::size_t b) { return -static_cast<long>(a > b ? a - b : b - a); };
  constexpr std::string_view kEllipsis = "\u2026";

  // A cut scores by how much it keeps of the part to keep, then by its form
  // (both ends rather than a stretch of the middle), then by how near it lies
  // to the middle of the room (or the stretch to the middle of the part).
  using Score = std::tuple<std::size_t, int, long>;
  std::optional<Score> best;
  std::string shortened;
  const auto consider = [&](Score score, const auto& make) {
    if (!best || score > *best) best = score, shortened = make();
  };
  const std::size_t room = columns - 1;  // beside one "…"
  for (std::size_t head = 0; head <= room; ++head) {
    const std::size_t tail = room - head;
    consider({kept(0, head) + kept(count - tail, count), 1, nearness(head, room / 2)},
             [&] { return part(0, head) + std::string(kEllipsis) + part(count - tail, count); });
  }
  if (columns >= 3) {
    const std::size_t inner = columns - 2;  // between two "…"
    for (std::size_t from = 1; from + inner < count; ++from) {
      consider({kept(from, from + inner), 0, nearness(2 * from + inner, keepFrom + keepTo)},
               [&] { return std::string(kEllipsis) + part(from, from + inner) + std::string(kEllipsis); });
    }
  }
  return shortened;
}

std::pair<std::size_t, std::size_t> DistinguishingPart(const std::vector<std::string>& texts, std::size_t which) {
  const std::vector<std::string_view> own = CodePoints(texts[which]);
  const std::size_t length = own.size();
  if (texts.size() < 2 || length == 0) return {0, length};
  std::size_t sharedStart = 0, sharedEnd = 0;
  for (std::size_t other = 0; other < texts.size(); ++other) {
    if (other == which) continue;
    const std::vector<std::string_view> theirs = CodePoints(texts[other]);
    const std::size_t most = std::min(length, theirs.size());
    std::size_t start = 0, end = 0;
    while (start < most && own[start] == theirs[start]) ++start;
    while (end < most && own[length - 1 - end] == theirs[theirs.size() - 1 - end]) ++end;
    sharedStart = std::max(sharedStart, start);
    sharedEnd = std::max(sharedEnd, end);
  }
  // The two ends may overlap (a text shares its beginning with one, its end
  // with another): the part then runs between the two differences.
  const std::size_t first = std::min(sharedStart, length - 1);
  const std::size_t last = sharedEnd < length ? length - 1 - sharedEnd : 0;
  return {std::min(first, last), std::max(first, last) + 1};
}

}  // namespace lu14::cli
