// The console lu14 talks through, made ready for its UTF-8 text for the length
// of a run, and what its standard streams are. Made once, first thing in the
// entry point; the destructor puts back whatever it changed.
//
// POSIX (ConsolePosix.cpp): the terminal takes UTF-8 as it is; nothing changes,
// except that a standard descriptor (0, 1 or 2) the process was started
// without is opened on /dev/null before anything else opens a file.
// Windows (ConsoleWindows.cpp): std::cout and std::cerr write to a console
// with WriteConsoleW, whole characters only, and raw UTF-8 bytes to a file or
// pipe; std::cin reads a console with ReadConsoleW; the output code page is
// UTF-8 while the run lasts. A missing standard handle needs nothing there:
// lu14's text goes to the handles GetStdHandle gave at the start, and a file
// the run opens gets a handle of its own, never one of those.
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>

namespace lu14::cli {

class Console {
 public:
  Console();
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // The error stream is a terminal on which the progress bar may redraw its
  // line (carriage return, ESC [ K): not one whose TERM is "dumb".
  bool ErrorRedraws() const { return errorRedraws_; }
  // Standard input is a terminal: a person is there to answer a question,
  // which goes to Questions().
  bool PersonAnswers() const { return personAnswers_; }
  // Where a question is seen on that terminal: the error stream when it is
  // the terminal, else the terminal itself (/dev/tty, CONOUT$). Null when
  // nobody answers.
  std::ostream* Questions() const { return questions_; }
  // How many columns the error stream's terminal has (0: not known): a line
  // redrawn in place must fit in them.
  std::size_t ErrorColumns() const { return errorColumns_; }

 private:
  struct Saved;  // what the destructor puts back
  std::unique_ptr<Saved> saved_;
  bool errorRedraws_ = false;
  bool personAnswers_ = false;
  std::ostream* questions_ = nullptr;
  std::size_t errorColumns_ = 0;
};

}  // namespace lu14::cli
