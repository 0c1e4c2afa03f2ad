#include "window/MessageBoxes.h"

#include "window/ShellTexts.h"

namespace lu14 {

MessageBoxRequest InstanceRejectedBox(std::string_view programPathCaption) {
  return {std::string(kAlreadyRunningText), std::string(programPathCaption), true, false};
}

MessageBoxRequest DeviceProblemBox(std::string_view text) { return {std::string(text), std::string(), false, false}; }

MessageBoxRequest FailureBox(std::string_view text, std::string_view applicationTitle) {
  return {std::string(text), std::string(applicationTitle), true, true};
}

}  // namespace lu14
