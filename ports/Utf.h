// Conversions between the core's UTF-8 texts and the UTF-16 the platform uses.
#pragma once

#include <string>
#include <string_view>

namespace lu14 {

// An unpaired surrogate (which Windows allows in names) becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Malformed UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Code points above U+10FFFF or in the surrogate range become U+FFFD.
std::string CodePointsToUtf8(std::u32string_view text);

}  // namespace lu14
