// JSON as lu14 writes it: nlohmann/json's text, with every control character
// escaped, the C1 ones and DEL included, which the library leaves raw. Texts
// from the meter may hold such bytes, and JSON on a terminal must never drive it.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace lu14::cli {

// One line of compact JSON, newline included.
std::string JsonLine(const nlohmann::json& value);

// A JSON string literal of UTF-8 text; control characters (C0, DEL, C1) escaped.
std::string JsonString(const std::string& utf8);

// A value that may be unknown: null then.
inline nlohmann::json OptionalBool(const std::optional<bool>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace lu14::cli
