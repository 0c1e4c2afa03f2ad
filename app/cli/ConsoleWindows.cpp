#include <windows.h>

#include <iostream>
#include <optional>

#include "app/cli/Console.h"
#include "app/cli/ConsoleBuffersWindows.h"

namespace lu14::cli {
namespace {

std::optional<DWORD> ConsoleMode(HANDLE handle) {
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return std::nullopt;
  return mode;
}

}  // namespace

struct Console::Saved {
  Saved(HANDLE out, HANDLE err)
      : outMode(ConsoleMode(out)),
        errMode(ConsoleMode(err)),
        outBuffer(out, outMode.has_value()),
        errBuffer(err, errMode.has_value()) {}

  UINT outputCodePage = GetConsoleOutputCP();
  std::optional<DWORD> outMode;
  std::optional<DWORD> errMode;
  ConsoleOutputBuffer outBuffer;
  ConsoleOutputBuffer errBuffer;
  std::optional<ConsoleInputBuffer> inBuffer;
  std::streambuf* cout = nullptr;
  std::streambuf* cerr = nullptr;
  std::streambuf* cin = nullptr;
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
  if (ConsoleMode(in)) {
    saved_->inBuffer.emplace(in);
    saved_->cin = std::cin.rdbuf(&*saved_->inBuffer);
  }
  // The progress bar redraws its line with ESC [ K, which a console before
  // Windows 10 prints as it is: there it writes a line per tenth instead.
  if (saved_->errMode) {
    errorRedraws_ = SetConsoleMode(err, *saved_->errMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    personAnswers_ = saved_->inBuffer.has_value();
  }
}

Console::~Console() {
  std::cout.flush();
  std::cerr.flush();
  std::cout.rdbuf(saved_->cout);
  std::cerr.rdbuf(saved_->cerr);
  if (saved_->cin) std::cin.rdbuf(saved_->cin);
  if (saved_->errMode) SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), *saved_->errMode);
  if (saved_->outputCodePage != 0) SetConsoleOutputCP(saved_->outputCodePage);
}

}  // namespace lu14::cli
