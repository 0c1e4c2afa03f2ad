#include "tests/e2e/WindowDriver.h"

#include <commctrl.h>

#include "tests/win32/ProgramCopy.h"

namespace lu14::e2e {
namespace {

constexpr int kFirstControlId = 100;
constexpr int kMessageBoxTextId = 0xFFFF;
// The program answers between its handlers; one may run for a while.
constexpr UINT kReplyTimeoutMs = 30000;

LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kReplyTimeoutMs, &result)) return -1;
  return static_cast<LRESULT>(result);
}

std::wstring TextOf(HWND window) {
  const LRESULT length = Ask(window, WM_GETTEXTLENGTH);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}


}  // namespace

HWND WindowDriver::Control(ControlId id) const {
  const bool insideGroup = LayoutOf(id).insideGroup;
  const HWND parent = insideGroup ? GetDlgItem(window_, kFirstControlId + static_cast<int>(ControlId::G6)) : window_;
  return GetDlgItem(parent, kFirstControlId + static_cast<int>(id));
}

std::wstring WindowDriver::Caption() const { return TextOf(window_); }

std::wstring WindowDriver::Label() const { return TextOf(Control(ControlId::Label1)); }

std::vector<std::wstring> WindowDriver::Log() const {
  const HWND list = Control(ControlId::LB);
  std::vector<std::wstring> lines;
  const LRESULT count = Ask(list, LB_GETCOUNT);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = Ask(list, LB_GETTEXTLEN, static_cast<WPARAM>(i));
    if (length < 0) break;  // the list changed under us; the caller asks again
    std::wstring line(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = Ask(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line.data()));
    if (copied < 0) break;
    line.resize(static_cast<std::size_t>(copied));
    lines.push_back(std::move(line));
  }
  return lines;
}

int WindowDriver::Progress() const { return static_cast<int>(Ask(Control(ControlId::Pr1), PBM_GETPOS)); }

int WindowDriver::ProgressMax() const {
  return static_cast<int>(Ask(Control(ControlId::Pr1), PBM_GETRANGE, FALSE, 0));
}

bool WindowDriver::Enabled(ControlId id) const { return IsWindowEnabled(Control(id)) != FALSE; }

bool WindowDriver::Checked(ControlId id) const { return Ask(Control(id), BM_GETCHECK) == BST_CHECKED; }

void WindowDriver::Click(ControlId id) const { PostMessageW(Control(id), BM_CLICK, 0, 0); }

void WindowDriver::Close() const { PostMessageW(window_, WM_CLOSE, 0, 0); }

HWND FindMessageBox(DWORD processId) {
  return win32::FindVisibleWindowOfProcess(processId, L"#32770");
}

std::wstring MessageBoxText(HWND box) { return TextOf(GetDlgItem(box, kMessageBoxTextId)); }

void AnswerOk(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

HWND WindowDriver::Focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

void WindowDriver::PressTab() const {
  const HWND focus = Focus();
  PostMessageW(focus ? focus : window_, WM_KEYDOWN, VK_TAB, 0);
}

}  // namespace lu14::e2e
