// A path the user named, from the command line's UTF-8 text. A path made from
// a std::string reads it in the ANSI code page on Windows, where a file named
// in Cyrillic (or any letter outside that page) would not be found; from
// char8_t it is UTF-8 everywhere.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lu14::cli {

inline std::filesystem::path Utf8Path(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace lu14::cli
