// Win32HidPlatform: the hidden window that receives device-tree notices.
//
// The system broadcasts WM_DEVICECHANGE with DBT_DEVNODES_CHANGED to every
// top-level window when its device tree changes. Message-only windows
// (HWND_MESSAGE) are not top-level and get no broadcasts, so this is an
// ordinary, never shown popup window with no owner.
#include "device/win32/Win32HidPlatform.h"

#include <dbt.h>

namespace lu14::win32 {
namespace {
constexpr wchar_t kNotificationWindowClass[] = L"LU14HidNotifications";
}  // namespace

LRESULT CALLBACK Win32HidPlatform::NotificationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32HidPlatform*>(GetWindowLongPtrW(window, GWLP_USERDATA));

  // A broadcast that is sent rather than posted would run the scan wherever
  // this thread happens to look at its queue, even inside a handler that only
  // peeks (to stay responsive during a long backup). Reposted, the notice
  // waits its turn in the queue like every other message.
  if (message == WM_DEVICECHANGE && wParam == DBT_DEVNODES_CHANGED && InSendMessage()) {
    PostMessageW(window, message, wParam, lParam);
    return TRUE;
  }
  if (message == WM_DEVICECHANGE && wParam == DBT_DEVNODES_CHANGED && self && self->onDevicesChanged_) {
    // A copy: the callback may stop the notifications, which drops the stored one.
    const std::function<void(std::intptr_t)> onDevicesChanged = self->onDevicesChanged_;
    // An exception cannot unwind through the system's message dispatch (the
    // frames between DispatchMessageW and here are not C++), so it would end
    // the program. The core's callback catches its own; this is the last stop.
    try {
      onDevicesChanged(static_cast<std::intptr_t>(lParam));
    } catch (...) {
    }
  }
  // TASKKILL without /F asks every top-level window of the process to close;
  // only the main window decides that, so this one stays.
  if (message == WM_CLOSE) return 0;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (self && self->window_ == window) self->window_ = nullptr;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool Win32HidPlatform::StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) {
  StopNotifications();
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &Win32HidPlatform::NotificationWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kNotificationWindowClass;
  // Fails harmlessly when an earlier platform object registered it already.
  RegisterClassExW(&windowClass);
  onDevicesChanged_ = std::move(onDevicesChanged);
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kNotificationWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            instance, this);
  if (!window_) onDevicesChanged_ = nullptr;
  return window_ != nullptr;
}

void Win32HidPlatform::PostDevicesChanged(std::intptr_t secondParameter) {
  if (window_) PostMessageW(window_, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, static_cast<LPARAM>(secondParameter));
}

void Win32HidPlatform::StopNotifications() {
  onDevicesChanged_ = nullptr;
  // Notices still queued for the window are discarded with it.
  if (window_) DestroyWindow(window_);
  window_ = nullptr;
}

}  // namespace lu14::win32
