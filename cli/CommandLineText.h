// How lu14's usage errors show what the user typed and what is valid.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lu14::cli {

// An argument as an error message quotes it: control characters shown as
// \xNN, so that an empty or blank argument is visible and none can drive
// the terminal.
std::string Quoted(const std::string& argument);

// Words joined by ", ".
std::string Join(const std::vector<std::string>& words);

// Of the candidates, the one a typed word most likely stands for: at most two
// single-character edits (insert, delete, replace, swap of two neighbours)
// away, the nearest first. Empty when none is that near.
std::string Nearest(std::string_view word, const std::vector<std::string>& candidates);

}  // namespace lu14::cli
