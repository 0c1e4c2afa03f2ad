// The firmware version number the poll forms from the version text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lu14 {

// Parses a whole text as an integer: optional leading blanks, an optional
// sign, then decimal digits, or hexadecimal digits after "$", "x" or "0x"
// (either case of the x). Nothing when the text is not such a number.
std::optional<int> ParseInteger(std::u32string_view text);

// Characters 2, 4 and 5 of the version text ("D1.50" gives "150"); the text
// must hold at least five characters.
std::u32string VersionNumberText(std::u32string_view versionText);

}  // namespace lu14
