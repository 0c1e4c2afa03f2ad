// The JSON lines a run of lu14 wrote to its output, each checked to parse.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace lu14::cli {

inline std::vector<nlohmann::json> JsonLines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream stream(out);
  for (std::string line; std::getline(stream, line);) {
    EXPECT_NO_THROW(lines.push_back(nlohmann::json::parse(line))) << line;
  }
  return lines;
}

}  // namespace lu14::cli
