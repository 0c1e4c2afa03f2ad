#include <windows.h>

#include <iostream>
#include <ostream>
#include <optional>

#include "cli/output/Console.h"
#include "cli/output/ConsoleBuffersWindows.h"

namespace lu14::cli {
namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

struct Console::Saved {
  Saved(HANDLE out, HANDLE err) : outBuffer(out, IsConsole(out)), errBuffer(err, IsConsole(err)) {}

  UINT outputCodePage = GetConsoleOutputCP();
  ConsoleOutputBuffer outBuffer;
  ConsoleOutputBuffer errBuffer;
  std::optional<ConsoleInputBuffer> inBuffer;
  std::streambuf* cout = nullptr;
  std::streambuf* cerr = nullptr;
  std::streambuf* cin = nullptr;
  // The questions' way to the console when the error stream is elsewhere.
  HANDLE console = INVALID_HANDLE_VALUE;
  std::optional<ConsoleOutputBuffer> consoleBuffer;
  std::optional<std::ostream> consoleStream;
};

Console::Console() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  saved_ = std::make_unique<Saved>(out, err);
  // For whatever still goes through the C runtime; lu14's own text goes
  // through the buffers, which do not depend on it.
  if (saved_->outputCodePage != 0) SetConsoleOutputCP(CP_UTF8);
  saved_->cout = std::cout.rdbuf(&saved_->outBuffer);
  saved_->cerr = std::cerr.rdbuf(&saved_->errBuffer);
  if (IsConsole(in)) {
    saved_->inBuffer.emplace(in);
    saved_->cin = std::cin.rdbuf(&*saved_->inBuffer);
  }
  // The buffer carries out the progress bar's ESC [ K itself, on any console.
  errorRedraws_ = IsConsole(err);
  // A console wraps at its buffer's width.
  CONSOLE_SCREEN_BUFFER_INFO screen{};
  if (errorRedraws_ && GetConsoleScreenBufferInfo(err, &screen) && screen.dwSize.X > 0) {
    errorColumns_ = static_cast<std::size_t>(screen.dwSize.X);
  }
  if (!saved_->inBuffer) return;
  if (errorRedraws_) {
    questions_ = &std::cerr;
  } else {
    saved_->console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    if (IsConsole(saved_->console)) {
      saved_->consoleBuffer.emplace(saved_->console, true);
      saved_->consoleStream.emplace(&*saved_->consoleBuffer);
      questions_ = &*saved_->consoleStream;
    }
  }
  personAnswers_ = questions_ != nullptr;
}

Console::~Console() {
  std::cout.flush();
  std::cerr.flush();
  std::cout.rdbuf(saved_->cout);
  std::cerr.rdbuf(saved_->cerr);
  if (saved_->cin) std::cin.rdbuf(saved_->cin);
  saved_->consoleStream.reset();  // flushed by its buffer, before the handle closes
  saved_->consoleBuffer.reset();
  if (saved_->console != INVALID_HANDLE_VALUE) CloseHandle(saved_->console);
  if (saved_->outputCodePage != 0) SetConsoleOutputCP(saved_->outputCodePage);
}

}  // namespace lu14::cli
