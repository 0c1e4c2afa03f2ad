#include "ports/Utf.h"

#include <gtest/gtest.h>

namespace lu14 {
namespace {

TEST(Utf, RoundTripsTextsOfThisProgram) {
  for (std::string text : {"", "Прошивка версии  D1.50 для ЛУ-14", "C:/Users/Пользователь/Documents", "\xF0\x9F\x94\x8B"}) {
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  }
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x94\x8B"), (std::u16string{0xD83D, 0xDD0B}));
}

TEST(Utf, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', 0xD800, u'b'}), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), (std::u16string{u'a', 0xFFFD, u'b'}));
  EXPECT_EQ(Utf8ToUtf16("\xD0"), (std::u16string{0xFFFD}));          // cut sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD}));      // overlong "/"
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), (std::u16string{0xFFFD}));  // encoded surrogate
}

}  // namespace
}  // namespace lu14
