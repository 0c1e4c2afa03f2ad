// Reads and works the program's main window from the test process, through
// the Windows API only, as an accessibility tool or a user would: texts of the
// caption, the label and the log, the progress bar, the buttons and boxes;
// clicks; and the program's message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "resources/WindowLayout.h"

namespace lu14::e2e {

class WindowDriver {
 public:
  explicit WindowDriver(HWND mainWindow) : window_(mainWindow) {}

  HWND Window() const { return window_; }
  // The control's window: child id 100 + its index; C1 to C4 sit inside G6.
  HWND Control(ControlId id) const;

  std::wstring Caption() const;
  std::wstring Label() const;  // Label1
  std::vector<std::wstring> Log() const;  // the lines of LB, first to last
  int Progress() const;  // Pr1's position
  int ProgressMax() const;
  bool Enabled(ControlId id) const;
  bool Checked(ControlId id) const;

  // Clicks the button or check box. Posted, so that the test stays free to
  // answer a box that the click opens.
  void Click(ControlId id) const;
  // Closes the window as the user does.
  void Close() const;

  // The keyboard focus of the window's thread: a control, the window, or null.
  HWND Focus() const;
  // Presses Tab: posted to the control with the focus, or to the window when
  // none has it, as the keyboard delivers it.
  void PressTab() const;

 private:
  HWND window_;
};

// A message box (dialog class #32770) of the process, or null.
HWND FindMessageBox(DWORD processId);
// The box's text (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);
// Presses OK.
void AnswerOk(HWND box);

}  // namespace lu14::e2e
