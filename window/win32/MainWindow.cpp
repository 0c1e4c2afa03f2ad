#include "window/win32/MainWindow.h"

#include <commctrl.h>

#include "ports/Utf.h"

namespace lu14::win32 {
namespace {

std::wstring Wide(std::string_view text) {
  const std::u16string utf16 = Utf8ToUtf16(text);
  return std::wstring(utf16.begin(), utf16.end());
}

// Single border, title bar with system menu and minimise, no resizing.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

struct ControlClass {
  const wchar_t* className;
  DWORD style;
  DWORD exStyle;
};

ControlClass ClassOf(const ControlLayout& layout) {
  const DWORD tabStop = layout.tabOrder >= 0 && layout.kind != ControlKind::ProgressBar ? WS_TABSTOP : 0;
  switch (layout.kind) {
    case ControlKind::Label: return {L"STATIC", SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::Button: return {L"BUTTON", BS_PUSHBUTTON | tabStop, 0};
    case ControlKind::ProgressBar: return {PROGRESS_CLASSW, 0, 0};
    // Appending never selects or scrolls; the list shows as many lines as fit.
    case ControlKind::ListBox:
      return {L"LISTBOX", LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_VSCROLL | tabStop, WS_EX_CLIENTEDGE};
    case ControlKind::GroupBox: return {L"BUTTON", BS_GROUPBOX, WS_EX_CONTROLPARENT};
    // Not an auto check box: the form model toggles the box and runs its handler.
    case ControlKind::CheckBox: return {L"BUTTON", BS_CHECKBOX | tabStop, 0};
    case ControlKind::Edit: return {L"EDIT", ES_AUTOHSCROLL | tabStop, WS_EX_CLIENTEDGE};
  }
  return {L"STATIC", 0, 0};
}

}  // namespace

void MainWindow::RunMessageLoop(TMForm& form) {
  form_ = &form;
  if (!Create()) return;
  form.AttachView(this);
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  for (;;) {
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      // Tab and the space bar move through and press the controls, as in a dialog.
      if (window_ && IsDialogMessageW(window_, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
      continue;
    }
    // Nothing waits: now a precise timer may tick, as WM_TIMER would.
    if (shell_.DispatchDuePreciseTick()) continue;
    HANDLE timer = shell_.PreciseTimerHandle();
    MsgWaitForMultipleObjectsEx(timer ? 1 : 0, timer ? &timer : nullptr, INFINITE, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

bool MainWindow::Create() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &MainWindow::WindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kMainIconId));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kMainIconId), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kMainWindowClass;
  RegisterClassExW(&windowClass);

  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  window_ = CreateWindowExW(kWindowExStyle, kMainWindowClass, Wide(form_->Caption()).c_str(), kWindowStyle, left, top,
                            width, height, nullptr, nullptr, instance, this);
  if (!window_) return false;
  SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Get(kWindowFont)), FALSE);
  CreateControls();
  CreateHints();
  return true;
}

void MainWindow::CreateControls() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const ControlLayout& layout : kControlLayouts) {
    const ControlClass kind = ClassOf(layout);
    const HWND parent = layout.insideGroup ? Handle(ControlId::G6) : window_;
    const auto index = static_cast<std::size_t>(layout.id);
    const HWND control = CreateWindowExW(
        kind.exStyle, kind.className, Wide(layout.text).c_str(), WS_CHILD | kind.style, layout.left, layout.top,
        layout.width, layout.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)),
        instance, nullptr);
    controls_[index] = control;
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Get(layout.font)), FALSE);
    if (layout.kind == ControlKind::GroupBox) SetWindowSubclass(control, &MainWindow::GroupProc, 0, 0);
    ControlChanged(layout.id);
  }
}

void MainWindow::CreateHints() {
  hints_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  if (!hints_) return;
  // Up after the pointer rests 500 ms, away after 2500 ms; moving onto another
  // control with a hint shows that one at once.
  SendMessageW(hints_, TTM_SETDELAYTIME, TTDT_INITIAL, MAKELPARAM(500, 0));
  SendMessageW(hints_, TTM_SETDELAYTIME, TTDT_AUTOPOP, MAKELPARAM(2500, 0));
  SendMessageW(hints_, TTM_SETDELAYTIME, TTDT_RESHOW, MAKELPARAM(0, 0));
  SendMessageW(hints_, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Get(kWindowFont)), FALSE);
  for (const ControlLayout& layout : kControlLayouts) {
    // Hints are on for C1, C2 and C3 only; C1 is hidden, so its hint never shows.
    if (!layout.hintsOn || layout.hint.empty()) continue;
    std::wstring text = Wide(layout.hint);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = GetParent(Handle(layout.id));
    tool.uId = reinterpret_cast<UINT_PTR>(Handle(layout.id));
    tool.lpszText = text.data();
    SendMessageW(hints_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void MainWindow::ShowProgressNow(HWND progress) {
  // At most every 100 ms, which keeps the bar moving during a long handler
  // (the backup). A paint costs about a millisecond under Wine's X11 driver:
  // after every page commit it would stretch the stream; a change left
  // unpainted here is painted as soon as the handler returns.
  const DWORD now = GetTickCount();
  if (now - lastShown_ < 100) return;
  lastShown_ = now;
  UpdateWindow(progress);
  // A thread that looks at its queue now and then is not marked "not
  // responding"; PM_NOREMOVE looks without taking or dispatching a message.
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self ? self->HandleMessage(message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

// The check boxes live inside the group box, so that disabling the group stops
// their input as the toolkit does; their notices are passed on to the window.
// A group box paints only its frame, so it fills its own inside here.
LRESULT CALLBACK MainWindow::GroupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_COMMAND:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: return SendMessageW(GetParent(window), message, wParam, lParam);
    case WM_ERASEBKGND: {
      RECT inside;
      GetClientRect(window, &inside);
      FillRect(reinterpret_cast<HDC>(wParam), &inside, GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    default: return DefSubclassProc(window, message, wParam, lParam);
  }
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        const int index = LOWORD(wParam) - kFirstControlId;
        if (index >= 0 && index < static_cast<int>(kControlCount)) form_->UserClick(static_cast<ControlId>(index));
        return 0;
      }
      break;
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
      // Labels and check boxes sit on the button-face background.
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE:
      // Closing is never refused, not even during an update.
      form_->UserClose();
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      form_->AttachView(nullptr);
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::CaptionChanged() { SetWindowTextW(window_, Wide(form_->Caption()).c_str()); }

void MainWindow::ControlChanged(ControlId id) {
  const HWND control = Handle(id);
  if (!control) return;
  const TControl& model = form_->Control(id);
  // Only what differs is changed: the model reports every change of a
  // control, the bar's twice a page, and each call here may repaint it.
  if ((IsWindowEnabled(control) != FALSE) != model.Enabled()) {
    if (!model.Enabled()) TakeFocusOutOf(control);
    EnableWindow(control, model.Enabled());
  }
  const bool visible = (GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0;
  if (visible != model.Visible()) ShowWindow(control, model.Visible() ? SW_SHOWNA : SW_HIDE);
  switch (id) {
    case ControlId::Label1: {
      // The poll sets the same text every second: sizing the label repaints
      // the whole window.
      std::wstring text = Wide(form_->Label1.Text());
      if (text == labelShown_) break;
      SetWindowTextW(control, text.c_str());
      labelShown_ = std::move(text);
      FitLabelToText(control);
      break;
    }
    case ControlId::E1: SetWindowTextW(control, Wide(form_->E1.Text()).c_str()); break;
    case ControlId::Pr1:
      if (SendMessageW(control, PBM_GETRANGE, FALSE, 0) != form_->Pr1.Max()) {
        SendMessageW(control, PBM_SETRANGE32, 0, form_->Pr1.Max());
      }
      if (SendMessageW(control, PBM_GETPOS, 0, 0) != form_->Pr1.Position()) {
        SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(form_->Pr1.Position()), 0);
      }
      ShowProgressNow(control);
      break;
    case ControlId::C1:
    case ControlId::C2:
    case ControlId::C3:
    case ControlId::C4: {
      const bool checked = static_cast<const TCheckBox&>(model).Checked();
      SendMessageW(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    }
    default: break;
  }
}

// A disabled control passes no input to what it holds, so the focus leaves
// it, and any control inside it, for the window itself, as the toolkit does.
// EnableWindow takes the focus only from the control itself: a check box of
// the disabled group would keep it, take the keyboard, and Tab would stop on
// it for good (its next box is refused the focus inside a disabled group).
void MainWindow::TakeFocusOutOf(HWND control) {
  const HWND focus = GetFocus();
  if (focus && (focus == control || IsChild(control, focus))) SetFocus(window_);
}

// The label takes the size of its text (as last set); its left and top
// edges stay in place.
void MainWindow::FitLabelToText(HWND label) {
  const std::wstring& text = *labelShown_;
  HDC context = GetDC(label);
  const HGDIOBJ previous = SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(context, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(context, previous);
  ReleaseDC(label, context);
  SetWindowPos(label, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, TRUE);
}

bool MainWindow::LineAppended(const std::string& line) {
  const LRESULT result = SendMessageW(Handle(ControlId::LB), LB_ADDSTRING, 0,
                                      reinterpret_cast<LPARAM>(Wide(line).c_str()));
  return result != LB_ERR && result != LB_ERRSPACE;
}

void MainWindow::LinesCleared() { SendMessageW(Handle(ControlId::LB), LB_RESETCONTENT, 0, 0); }

}  // namespace lu14::win32
