// Stream buffers between lu14's UTF-8 text and a Windows console.
//
// A console shows what WriteConsoleW hands it, in UTF-16; bytes written
// through the C runtime go through the console's code page instead, and an
// older console decodes each write on its own, so a Cyrillic letter whose two
// bytes land in two writes comes out as two wrong signs. The output buffer
// converts whole characters only and keeps the start of a split one for the
// next write. The two escape sequences lu14 writes, ESC [ K (clear to the
// end of the line) and ESC [ n A (n lines up), it carries out with the
// console API: a console before Windows 10, and Wine's, would print them.
// To a file or pipe it writes the UTF-8 bytes as they are.
#pragma once

#include <windows.h>

#include <streambuf>
#include <string>
#include <string_view>

namespace lu14::cli {

// How many bytes at the start of `utf8` end on a character boundary: all of
// them, less a multibyte sequence cut off at the end. Malformed bytes count
// as whole (they become U+FFFD when converted).
std::size_t WholeCharactersLength(std::string_view utf8);

class ConsoleOutputBuffer : public std::streambuf {
 public:
  // console: `handle` is a console (GetConsoleMode succeeds on it).
  ConsoleOutputBuffer(HANDLE handle, bool console) : handle_(handle), console_(console) {}
  ~ConsoleOutputBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  bool Write(std::string_view bytes);
  bool WriteToConsole(std::string_view utf8);
  bool ClearToEndOfLine();
  bool CursorUp(int lines);

  HANDLE handle_;
  bool console_;
  std::string pending_;
};

// Reads a console line by line with ReadConsoleW and hands it out as UTF-8.
// Ctrl-Z at the start of a line ends the input, as it does for the C runtime;
// so does a stop request (CancelConsoleRead), which a console does not always
// let cut a read short by itself.
class ConsoleInputBuffer : public std::streambuf {
 public:
  explicit ConsoleInputBuffer(HANDLE handle) : handle_(handle) {}

 protected:
  int_type underflow() override;

 private:
  HANDLE handle_;
  std::u16string split_;  // a high surrogate whose low half the next read brings
  std::string line_;
};

// Ends a ReadConsoleW that a ConsoleInputBuffer is waiting in, from another
// thread (the console control handler's). Nothing else the reading thread
// does is cancelled: never a transfer with the meter.
void CancelConsoleRead();

}  // namespace lu14::cli
