// Reading a settings backup back: the text checked into an image, faults
// named by line and column, and the meter a backup's name belongs to.
#include <gtest/gtest.h>

#include "update/BackupFile.h"
#include "update/SettingsBackup.h"

namespace lu14 {
namespace {

// The text SaveSettingsBackup writes for this image.
std::string TextOf(const EepromImage& image, std::string_view lineEnd = "\r\n") {
  std::string text;
  for (std::size_t line = 0; line < 128; ++line) {
    std::string written = BackupLine(image.data() + line * 16);
    written.resize(32);
    text += written;
    text += lineEnd;
  }
  return text;
}

EepromImage Pattern() {
  EepromImage image{};
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return image;
}

TEST(BackupText, WhatTheBackupWritesReadsBackByteForByte) {
  const EepromImage image = Pattern();
  for (const std::string_view lineEnd : {"\r\n", "\n"}) {
    const BackupText read = ReadBackupText(TextOf(image, lineEnd));
    ASSERT_TRUE(read.image) << "line " << read.error.line << " column " << read.error.column;
    EXPECT_EQ(*read.image, image);
  }
  // Lower-case digits and a last line without its end are read as well.
  std::string text = TextOf(image);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  text.resize(text.size() - 2);
  const BackupText lower = ReadBackupText(text);
  ASSERT_TRUE(lower.image);
  EXPECT_EQ(*lower.image, image);
}

TEST(BackupText, TheFirstFaultIsNamedByLineAndColumn) {
  const std::string good = TextOf(Pattern());
  const std::size_t lineLength = 34;  // 32 digits and CR LF
  const auto at = [&](std::size_t line, std::size_t column) { return (line - 1) * lineLength + (column - 1); };
  struct Case {
    const char* what;
    std::string text;
    BackupTextFault fault;
    std::size_t line;
    std::size_t column;
  };
  const Case cases[] = {
      {"a bad digit", std::string(good).replace(at(5, 7), 1, "G"), BackupTextFault::BadCharacter, 5, 7},
      {"a space", std::string(good).replace(at(1, 1), 1, " "), BackupTextFault::BadCharacter, 1, 1},
      {"a lone CR", std::string(good).replace(at(9, 32), 1, "\r"), BackupTextFault::BadCharacter, 9, 32},
      {"a short line", std::string(good).erase(at(3, 31), 2), BackupTextFault::ShortLine, 3, 31},
      {"an empty line", std::string(good).insert(at(4, 1), "\r\n"), BackupTextFault::ShortLine, 4, 1},
      {"a long line", std::string(good).insert(at(2, 33), "0"), BackupTextFault::LongLine, 2, 33},
      {"127 lines", good.substr(0, at(128, 1)), BackupTextFault::MissingLines, 128, 1},
      {"an empty file", "", BackupTextFault::MissingLines, 1, 1},
      {"the last line cut", good.substr(0, at(128, 20)), BackupTextFault::ShortLine, 128, 20},
      {"a 129th line", good + good.substr(0, lineLength), BackupTextFault::ExtraData, 129, 1},
      {"a blank line at the end", good + "\r\n", BackupTextFault::ExtraData, 129, 1},
      {"a byte after the last line end", good + "x", BackupTextFault::ExtraData, 129, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const BackupText read = ReadBackupText(c.text);
    EXPECT_FALSE(read.image);
    EXPECT_EQ(read.error.fault, c.fault);
    EXPECT_EQ(read.error.line, c.line);
    EXPECT_EQ(read.error.column, c.column);
  }
}

TEST(BackupName, TheNameSaysWhichMeterTheBackupCameFrom) {
  const std::u32string identity = U"B0123456789ABCDEF0123456789ABCDEF01";
  const std::string named = "B0123456789ABCDEF0123456789ABCDEF01";
  struct Case {
    std::string file;
    std::optional<std::string> version;  // nothing: the name holds no identity
  };
  const Case cases[] = {
      {"/home/u/Documents/lu14/" + named + "D1.40_0930_101226.hex", "D1.40"},
      {named + "D1.50_2359_010127_2.hex", "D1.50"},
      {named + "D1.50_2359_010127_999.hex", "D1.50"},
      {named + "D1_50_0930_101226.hex", "D1_50"},  // a version byte a file name cannot hold
      {"my backup " + named + "D1.40_0930_101226.hex", "D1.40"},  // renamed: the words before are the user's
      {"ЛУ-14 " + named + "D1.40_0930_101226.hex", "D1.40"},
      {named + "D1.40_0930_101226 (1).hex", "D1.40"},  // a browser's second download of one name
      {named + "D1.40_0930_101226_2(12).hex", "D1.40"},
      {named + "D1.40_0930_101226 ().hex", std::nullopt},
      {named + "D1.40_0930_101226 (x).hex", std::nullopt},
      {"settings.hex", std::nullopt},
      {named + "D1.40_0930_101226.txt", std::nullopt},
      {named + "D1.40_930_101226.hex", std::nullopt},
      {named + "D1.40_0930_1012.hex", std::nullopt},
      {"D1.40_0930_101226.hex", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::optional<BackupName> name = BackupNameOf(c.file);
    ASSERT_EQ(name.has_value(), c.version.has_value());
    if (!name) continue;
    EXPECT_EQ(name->versionText, *c.version);
    EXPECT_EQ(name->identity, named);
    EXPECT_TRUE(NamesMeter(*name, identity));
  }
  // Another meter, or a meter whose identity was not read.
  const BackupName other = *BackupNameOf("C" + named.substr(1) + "D1.40_0930_101226.hex");
  EXPECT_FALSE(NamesMeter(other, identity));
  EXPECT_FALSE(NamesMeter(*BackupNameOf(named + "D1.40_0930_101226.hex"), U""));
  // An identity with characters a file name cannot hold is compared in its file-name form.
  EXPECT_TRUE(NamesMeter(*BackupNameOf("B_1D1.40_0930_101226.hex"), U"B:1"));
}

}  // namespace
}  // namespace lu14
