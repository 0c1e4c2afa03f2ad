// The main window: real Win32 controls that mirror TMForm and turn the user's
// clicks and keys into calls on it. It is also the program's front end: it
// shows the window centred and runs the message loop until the window closes.
#pragma once

#include <windows.h>

#include <array>
#include <optional>
#include <string>

#include "window/ProgramEntry.h"
#include "window/controls/FormView.h"
#include "window/win32/Win32Fonts.h"
#include "window/win32/Win32Shell.h"

namespace lu14::win32 {

inline constexpr wchar_t kMainWindowClass[] = L"TMForm";
inline constexpr int kMainIconId = 1;
// Child control ids are kFirstControlId + the control's place in the layout.
inline constexpr int kFirstControlId = 100;

class MainWindow : public FrontEnd, public FormView {
 public:
  explicit MainWindow(Win32Shell& shell) : shell_(shell) {}
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // FrontEnd
  void RunMessageLoop(TMForm& form) override;

  // FormView
  void CaptionChanged() override;
  void ControlChanged(ControlId id) override;
  bool LineAppended(const std::string& line) override;
  void LinesCleared() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK GroupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  bool Create();
  void CreateControls();
  void CreateHints();
  // Lets the window show a progress change, and the system see that the
  // program is alive, while a long handler (the backup) runs: at most every
  // 100 ms. Nothing is dispatched: no other handler may run in between.
  void ShowProgressNow(HWND progress);
  HWND Handle(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }
  void FitLabelToText(HWND label);
  // Moves the keyboard focus to the window when it is on `control` or inside it.
  void TakeFocusOutOf(HWND control);

  Win32Shell& shell_;
  TMForm* form_ = nullptr;
  HWND window_ = nullptr;
  HWND hints_ = nullptr;
  DWORD lastShown_ = 0;
  std::optional<std::wstring> labelShown_;  // Label1's text as last set and sized
  std::array<HWND, kControlCount> controls_{};
  Win32Fonts fonts_;
};

}  // namespace lu14::win32
