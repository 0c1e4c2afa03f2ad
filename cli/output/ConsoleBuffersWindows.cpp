#include "cli/output/ConsoleBuffersWindows.h"

#include <algorithm>
#include <mutex>

#include "ports/Utf.h"

namespace lu14::cli {
namespace {

// Enough for any line lu14 writes at once; longer text is written in parts.
constexpr std::size_t kFlushAt = 4096;
constexpr DWORD kReadChars = 256;

// The escape sequences lu14 writes to a terminal, ESC [ K (clear to the end
// of the line: the progress bar) and ESC [ n A (n lines up: the board of
// update --all), as far as `text` (which starts with ESC) holds one.
enum class EscapeScan { Complete, Partial, Other };
struct Escape {
  EscapeScan scan = EscapeScan::Other;
  std::size_t length = 0;
  char command = 0;
  int count = 0;
};

Escape ScanEscape(std::string_view text) {
  Escape escape;
  if (text.size() < 2) return {EscapeScan::Partial};
  if (text[1] != '[') return escape;
  std::size_t at = 2;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && escape.count < 10000) {
    escape.count = escape.count * 10 + (text[at] - '0');
    ++at;
  }
  if (at == text.size()) return {EscapeScan::Partial};
  if (text[at] != 'K' && text[at] != 'A') return escape;
  escape.scan = EscapeScan::Complete;
  escape.length = at + 1;
  escape.command = text[at];
  return escape;
}

// The length of the UTF-8 sequence a lead byte starts (1 for anything else).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Which thread waits in ReadConsoleW, if any. The handler cancels that
// thread's I/O only while holding the lock and only while the thread is
// marked: the reader must take the lock to unmark itself, so a cancel can
// never reach any later I/O of that thread (a transfer with the meter).
std::mutex readLock;
HANDLE readingThread = nullptr;  // a real handle to the reader, made once, kept
bool reading = false;

// Marks this thread as reading for the length of one read.
class Reading {
 public:
  Reading() {
    const std::lock_guard<std::mutex> lock(readLock);
    if (!readingThread) {
      DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &readingThread, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    }
    reading = true;
  }
  ~Reading() {
    const std::lock_guard<std::mutex> lock(readLock);
    reading = false;
  }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;
};

}  // namespace

std::size_t WholeCharactersLength(std::string_view utf8) {
  // A sequence is at most four bytes: only the last three can start a cut one.
  const std::size_t size = utf8.size();
  for (std::size_t back = 1; back <= std::min<std::size_t>(3, size); ++back) {
    const auto byte = static_cast<unsigned char>(utf8[size - back]);
    if (IsContinuation(byte)) continue;
    // The lead byte of the last sequence: cut when it wants more than is there.
    return SequenceLength(byte) > back ? size - back : size;
  }
  return size;
}

ConsoleOutputBuffer::int_type ConsoleOutputBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return sync() == 0 ? traits_type::not_eof(c) : c;
  pending_.push_back(traits_type::to_char_type(c));
  if (pending_.size() >= kFlushAt && sync() != 0) return traits_type::eof();
  return c;
}

std::streamsize ConsoleOutputBuffer::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  if (pending_.size() >= kFlushAt && sync() != 0) return 0;
  return count;
}

int ConsoleOutputBuffer::sync() {
  std::size_t whole = pending_.size();
  if (console_) {
    whole = WholeCharactersLength(pending_);
    // The start of an escape sequence waits for its rest, like the start of a character.
    const std::size_t escape = std::string_view(pending_).substr(0, whole).rfind('\x1b');
    if (escape != std::string_view::npos &&
        ScanEscape(std::string_view(pending_).substr(escape, whole - escape)).scan == EscapeScan::Partial) {
      whole = escape;
    }
  }
  const bool written = Write(std::string_view(pending_).substr(0, whole));
  pending_.erase(0, whole);
  return written ? 0 : -1;
}

bool ConsoleOutputBuffer::Write(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (!console_) {
    while (!bytes.empty()) {
      DWORD written = 0;
      const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
      if (!WriteFile(handle_, bytes.data(), size, &written, nullptr) || written == 0) return false;
      bytes.remove_prefix(written);
    }
    return true;
  }
  for (std::size_t at; (at = bytes.find('\x1b')) != std::string_view::npos;) {
    if (!WriteToConsole(bytes.substr(0, at))) return false;
    bytes.remove_prefix(at);
    const Escape escape = ScanEscape(bytes);
    if (escape.scan != EscapeScan::Complete) {
      // Not one of ours (or cut off at the very end): shown as it is.
      if (!WriteToConsole(bytes.substr(0, 1))) return false;
      bytes.remove_prefix(1);
      continue;
    }
    if (!(escape.command == 'K' ? ClearToEndOfLine() : CursorUp(escape.count))) return false;
    bytes.remove_prefix(escape.length);
  }
  return WriteToConsole(bytes);
}

bool ConsoleOutputBuffer::WriteToConsole(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  std::u16string_view rest(wide);
  while (!rest.empty()) {
    DWORD written = 0;
    const auto size = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 8192));
    if (!WriteConsoleW(handle_, rest.data(), size, &written, nullptr) || written == 0) return false;
    rest.remove_prefix(written);
  }
  return true;
}

bool ConsoleOutputBuffer::CursorUp(int lines) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(handle_, &info)) return false;
  // ESC [ A alone is one line up; never above the buffer's first line.
  COORD position = info.dwCursorPosition;
  position.Y = static_cast<SHORT>(std::max(0, position.Y - std::max(1, lines)));
  return SetConsoleCursorPosition(handle_, position) != 0;
}

bool ConsoleOutputBuffer::ClearToEndOfLine() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(handle_, &info)) return false;
  // Blanks from the cursor on; the cursor stays where it is.
  const auto blanks = static_cast<DWORD>(info.dwSize.X - info.dwCursorPosition.X);
  DWORD written = 0;
  return FillConsoleOutputCharacterW(handle_, L' ', blanks, info.dwCursorPosition, &written) != 0;
}

ConsoleInputBuffer::int_type ConsoleInputBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  std::u16string text;
  do {
    char16_t chars[kReadChars];
    DWORD count = 0;
    bool read = false;
    {
      const Reading marked;
      read = ReadConsoleW(handle_, chars, kReadChars, &count, nullptr) != FALSE;
    }
    // Nothing read: the input ended, or a stop request cut the read short.
    if (!read || count == 0) return traits_type::eof();
    text = split_ + std::u16string(chars, count);
    split_.clear();
    if (text.back() >= 0xD800 && text.back() <= 0xDBFF) {
      split_ = text.back();
      text.pop_back();
    }
  } while (text.empty());
  if (text.front() == u'\x1a') return traits_type::eof();
  line_ = Utf16ToUtf8(text);
  setg(line_.data(), line_.data(), line_.data() + line_.size());
  return traits_type::to_int_type(*gptr());
}

void CancelConsoleRead() {
  const std::lock_guard<std::mutex> lock(readLock);
  if (reading && readingThread) CancelSynchronousIo(readingThread);
}

}  // namespace lu14::cli
