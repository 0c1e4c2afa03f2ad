// The shell's catch-all for failures that escape an event handler: the failure
// is shown in a box and the program goes on.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "ports/Shell.h"

namespace lu14 {

// The text of the innermost failure that has one (std::nested_exception chains
// are followed); empty when no failure in the chain has a text.
std::string FailureText(const std::exception_ptr& failure);

// Adds "." when the text is not empty and its last character's code is above
// that of the full stop: texts ending in a letter or digit get one, texts ending
// in ".", "!", ",", "-" or a blank stay as they are.
std::string WithFullStop(std::string text);

// The program file's name without its folder, cut before its first full stop,
// every character after the first in lower case: "C:\x\UPDATER.EXE" -> "Updater".
std::string ApplicationTitle(std::u16string_view programPath);

// Shows the failure in a box owned by the active window, with the application
// title as caption and the error icon, and returns when the user dismissed it.
void ReportUnhandledFailure(Shell& shell, std::string_view applicationTitle, const std::exception_ptr& failure);

}  // namespace lu14
