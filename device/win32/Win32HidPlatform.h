// The HidPlatform over the Windows API: setupapi.dll and hid.dll bound at run
// time, device handles from CreateFileW, and a hidden top-level window that
// receives the system's device-tree broadcast (WM_DEVICECHANGE with
// DBT_DEVNODES_CHANGED).
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ports/HidPlatform.h"

namespace lu14::win32 {

struct HidServices;

class Win32HidPlatform : public HidPlatform {
 public:
  // The system's own setupapi.dll and hid.dll, from the system folder only.
  Win32HidPlatform() = default;
  // The libraries at these full paths instead (stand-ins in tests).
  Win32HidPlatform(std::wstring setupApiPath, std::wstring hidPath);
  ~Win32HidPlatform() override;
  Win32HidPlatform(const Win32HidPlatform&) = delete;
  Win32HidPlatform& operator=(const Win32HidPlatform&) = delete;

  bool Bind() override;
  std::optional<std::vector<HidInterface>> PresentInterfaces() override;
  std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) override;
  bool StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) override;
  void PostDevicesChanged(std::intptr_t secondParameter) override;
  void StopNotifications() override;

  // The notification window while notifications run, otherwise null.
  HWND NotificationWindow() const { return window_; }

 private:
  static LRESULT CALLBACK NotificationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  bool systemLibraries_ = true;
  std::wstring setupApiPath_;
  std::wstring hidPath_;
  std::shared_ptr<const HidServices> services_;
  GUID hidGuid_{};

  HWND window_ = nullptr;
  std::function<void(std::intptr_t)> onDevicesChanged_;
};

}  // namespace lu14::win32
