// Text that came from the meter, made safe to print on a terminal.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lu14::cli {

// Printable ASCII stays; a backslash becomes "\\", any other character (a
// control character, DEL, or a byte above 0x7E) "\xNN", or "\uNNNN" above
// U+00FF. A meter's bytes can then never move the cursor or retitle a window.
std::string TerminalSafe(std::u32string_view meterText);

// UTF-8 text with its control characters (C0, DEL, and the C1 controls
// U+0080..U+009F) written as printf's `format` makes of their code ("\\x%02X"
// for a terminal, "\\u%04x" for JSON); every other character stays.
std::string EscapeControlCharacters(std::string_view utf8, const char* format);

// " (reason)" to close a message with what the platform said went wrong with
// which path (BackupOutcome::reason), control characters escaped; nothing for
// no reason.
std::string Because(std::string_view reason);

// UTF-8 text for the terminal: control characters (C0, DEL, C1) as \xNN, so
// that a file name can never drive the terminal; other letters stay.
std::string Utf8TerminalSafe(std::string_view utf8);

// A path as the user sees it: for the terminal escaped, for JSON as it is
// (JsonLine escapes it there).
std::string PathText(const std::filesystem::path& path, bool forJson);

// A number with this many decimals ("3.700").
std::string Fixed(double value, int decimals);

// A meter's text for the terminal (escaped, as TerminalSafe) or for JSON
// (as it is: the library and JsonLine escape it there).
std::string MeterText(std::u32string_view text, bool forJson);

// The width of UTF-8 text in columns: one per code point (lu14's texts are
// Latin or Cyrillic, and a meter's text is made ASCII by TerminalSafe).
std::size_t Columns(std::string_view utf8);

// The text cut to at most `columns` code points (0: as it is), so that a line
// redrawn in place never wraps onto a second row of the terminal.
std::string FitColumns(std::string_view utf8, std::size_t columns);

// The text in at most `columns` code points, a stretch of it left out where
// "…" stands: as much as fits of code points [keepFrom, keepTo) is kept, the
// cut as near the middle as that allows, so that both ends stay; only when
// neither end reaches that part does the text keep a stretch of its middle
// between two "…". Text that fits stays as it is.
std::string Shorten(std::string_view utf8, std::size_t columns, std::size_t keepFrom, std::size_t keepTo);

// The code points [from, to) of texts[which] that tell it from the other
// texts: from the first after the longest beginning it shares with another,
// to the last before the longest ending it shares with another. All of it
// when it is the only text.
std::pair<std::size_t, std::size_t> DistinguishingPart(const std::vector<std::string>& texts, std::size_t which);

}  // namespace lu14::cli
