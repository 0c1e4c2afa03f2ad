// lu14.exe's console output in-process: UTF-8 written in pieces that cut
// characters (or the progress bar's ESC [ K) in two still reaches a console
// whole, and a pipe byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <ostream>
#include <string>

#include "cli/output/ConsoleBuffersWindows.h"
#include "tests/e2e/cli/ConsoleRun.h"

namespace lu14::cli {
namespace {

// Cyrillic (two bytes a letter), a check mark (three) and ASCII.
const std::string kText = "Пинцет ЛУ-14 ✓ подключен";
const std::wstring kWide = L"Пинцет ЛУ-14 ✓ подключен";

// Writes the text a byte at a time, flushing after each, as a stream whose
// writes land anywhere in a character would.
void WriteByteByByte(ConsoleOutputBuffer& buffer, const std::string& text = kText) {
  std::ostream out(&buffer);
  for (const char c : text) out.put(c).flush();
}

TEST(ConsoleOutput, CharactersCutBetweenWritesReachAConsoleWhole) {
  ASSERT_TRUE(e2e::GiveThisProcessAConsole());
  const e2e::ScreenBuffer screen;
  ASSERT_NE(screen.Handle(), INVALID_HANDLE_VALUE) << GetLastError();
  {
    ConsoleOutputBuffer buffer(screen.Handle(), true);
    WriteByteByByte(buffer);
  }
  EXPECT_EQ(screen.Text().substr(0, kWide.size()), kWide);
}

TEST(ConsoleOutput, EscapeKClearsTheRestOfTheLineEvenWhenCutBetweenWrites) {
  ASSERT_TRUE(e2e::GiveThisProcessAConsole());
  const e2e::ScreenBuffer screen;
  ASSERT_NE(screen.Handle(), INVALID_HANDLE_VALUE) << GetLastError();
  {
    ConsoleOutputBuffer buffer(screen.Handle(), true);
    WriteByteByByte(buffer, "writing [####] 40%, 12 s left\rwriting [##########] 100%\x1b[K");
  }
  EXPECT_EQ(screen.Text().substr(0, 40), L"writing [##########] 100%" + std::wstring(15, L' '));
}

TEST(ConsoleOutput, EscapeNALeadsBackUpSoABlockOfLinesIsDrawnOverItself) {
  ASSERT_TRUE(e2e::GiveThisProcessAConsole());
  const e2e::ScreenBuffer screen;
  ASSERT_NE(screen.Handle(), INVALID_HANDLE_VALUE) << GetLastError();
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(screen.Handle(), &info));
  const auto width = static_cast<std::size_t>(info.dwSize.X);
  {
    ConsoleOutputBuffer buffer(screen.Handle(), true);
    WriteByteByByte(buffer,
                    "meter-1 writing 10%\x1b[K\nmeter-2 writing 20%\x1b[K\n"
                    "\x1b[2A\rmeter-1 done\x1b[K\n\rmeter-2 done\x1b[K\n\x1b[Xno");
  }
  const std::wstring text = screen.Text();
  const auto row = [&](std::size_t index) { return text.substr(index * width, 20); };
  EXPECT_EQ(row(0), L"meter-1 done        ");
  EXPECT_EQ(row(1), L"meter-2 done        ");
  // A sequence lu14 does not write is shown as it came.
  EXPECT_EQ(row(2), L"\x1b[Xno" + std::wstring(15, L' '));
}

TEST(ConsoleOutput, APipeGetsTheBytesAsTheyAre) {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  ASSERT_TRUE(CreatePipe(&read, &write, nullptr, 0));
  {
    ConsoleOutputBuffer buffer(write, false);
    WriteByteByByte(buffer);
  }
  CloseHandle(write);
  std::string received(kText.size() + 16, '\0');
  DWORD count = 0;
  ReadFile(read, received.data(), static_cast<DWORD>(received.size()), &count, nullptr);
  CloseHandle(read);
  received.resize(count);
  EXPECT_EQ(received, kText);
}

TEST(ConsoleOutput, OnlyACharacterCutAtTheEndWaitsForItsRest) {
  const struct {
    std::string text;
    std::size_t whole;
  } kCases[] = {
      {"abc", 3},
      {"\xD0\x9F", 2},                // П
      {"a\xD0", 1},                   // П's first byte
      {"\xE2\x9C", 0},                // two of ✓'s three bytes
      {"\xF0\x9D\x84", 0},            // three of 𝄞's four bytes
      {"\xF0\x9D\x84\x9E", 4},        // 𝄞 whole
      {"a\xFF", 2},                   // not UTF-8: written (as U+FFFD), never held back
      {"\x80\x80\x80", 3},            // stray continuation bytes likewise
  };
  for (const auto& c : kCases) EXPECT_EQ(WholeCharactersLength(c.text), c.whole) << c.text.size();
}

}  // namespace
}  // namespace lu14::cli
