// The two JSON values the console tool writes.
#pragma once

#include <string>

namespace lu14::cli {

// A JSON string literal of UTF-8 text; control characters (C0, DEL, C1) escaped.
std::string JsonString(const std::string& utf8);
// A finite number as JSON (a non-finite one as null).
std::string JsonNumber(double value);

}  // namespace lu14::cli
