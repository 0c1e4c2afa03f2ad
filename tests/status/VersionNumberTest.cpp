#include "status/VersionNumber.h"

#include <gtest/gtest.h>

namespace lu14 {
namespace {

TEST(VersionNumber, CharactersTwoFourAndFiveParsedAsAWholeInteger) {
  const std::pair<std::u32string, std::optional<int>> cases[] = {
      {U"D1.50", 150},  {U"D2.07", 207},   {U"V 0 9", 9},     {U"V+.12", 12},   {U"V-.12", -12},
      {U"V$.1F", 0x1F}, {U"Vx.Ab", 0xAB},  {U"VX.ff", 0xFF},  {U"V0.x7", 7},    {U"V0.X7", 7},
      {U"D1.5 ", std::nullopt},            {U"D1.5A", std::nullopt},            {U"\u00FF\u00FF\u00FF\u00FF\u00FF", std::nullopt},
      {U"V$. 1", std::nullopt},            {U"V- .1", std::nullopt},            {U"V - 1", 1},
      {U"V .  ", std::nullopt},            {U"V$.$1", std::nullopt},            {U"V\u0661.\u0662\u0663", std::nullopt},
  };
  for (const auto& [version, number] : cases) {
    EXPECT_EQ(ParseInteger(VersionNumberText(version)), number)
        << std::string(version.begin(), version.end());
  }
}

}  // namespace
}  // namespace lu14
