// The four kinds of modal message box the program shows.
#pragma once

#include <string>
#include <string_view>

#include "ports/Shell.h"

namespace lu14 {

// A second copy is turned away: error icon, the program path as caption, no owner.
MessageBoxRequest InstanceRejectedBox(std::string_view programPathCaption);

// A device write problem ("Ошибка записи", "Сбой записи 1 "): no owner, no icon,
// empty caption, OK only.
MessageBoxRequest DeviceProblemBox(std::string_view text);

// A failure that escaped a handler: owned by the active window, error icon,
// the application title as caption.
MessageBoxRequest FailureBox(std::string_view text, std::string_view applicationTitle);

}  // namespace lu14
