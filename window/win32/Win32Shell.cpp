#include "window/win32/Win32Shell.h"

#include <shlobj.h>

#include "os/win32/Win32Files.h"
#include "ports/Utf.h"

namespace lu14::win32 {
namespace {
constexpr wchar_t kTimerWindowClass[] = L"LU14ShellWindow";
}  // namespace

Win32Shell::Win32Shell() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = &Win32Shell::TimerWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kTimerWindowClass;
  RegisterClassExW(&windowClass);
  timerWindow_ = CreateWindowExW(WS_EX_TOOLWINDOW, kTimerWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 instance, this);
}

Win32Shell::~Win32Shell() {
  if (timerWindow_) DestroyWindow(timerWindow_);
}

LRESULT CALLBACK Win32Shell::TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Shell*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_TIMER && self) {
    if (self->sink_) self->sink_->TimerTick(static_cast<TimerId>(wParam));
    return 0;
  }
  // TASKKILL without /F asks every top-level window to close; only the main
  // window decides that, so this one stays.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

bool Win32Shell::StartTimer(TimerId id, Milliseconds interval) {
  if (preciseIds_.contains(id) && precise_.WaitHandle()) {
    precise_.Start(id, interval);
    return true;
  }
  return timerWindow_ &&
         SetTimer(timerWindow_, static_cast<UINT_PTR>(id), static_cast<UINT>(interval.count()), nullptr) != 0;
}

void Win32Shell::StopTimer(TimerId id) {
  // A precise timer never has a message timer: no KillTimer, which is a call
  // into the system at every chunk tick.
  if (preciseIds_.contains(id) && precise_.WaitHandle()) return precise_.Stop(id);
  if (timerWindow_) KillTimer(timerWindow_, static_cast<UINT_PTR>(id));
}

bool Win32Shell::DispatchDuePreciseTick() {
  const std::optional<TimerId> due = precise_.TakeDue();
  if (!due) return false;
  if (sink_) sink_->TimerTick(*due);
  return true;
}

// ::Sleep waits whole scheduler quanta (up to 16 ms for 10); the pauses of the
// protocol are meant as given.
void Win32Shell::Sleep(Milliseconds duration) { PreciseTimers::PreciseSleep(duration); }

void Win32Shell::ShowMessageBox(const MessageBoxRequest& box) {
  UINT style = MB_OK | (box.errorIcon ? MB_ICONERROR : 0u);
  HWND owner = nullptr;
  if (box.ownedByActiveWindow) {
    owner = GetActiveWindow();
    // With no active window the box disables all of this thread's windows.
    if (!owner) style |= MB_TASKMODAL;
  }
  const std::u16string text = Utf8ToUtf16(box.text);
  const std::u16string caption = Utf8ToUtf16(box.caption);
  MessageBoxW(owner, reinterpret_cast<const wchar_t*>(text.c_str()), reinterpret_cast<const wchar_t*>(caption.c_str()),
              style);
}

std::optional<std::string> Win32Shell::EnvironmentVariable(const std::string& name) {
  const std::u16string wideName = Utf8ToUtf16(name);
  const auto* key = reinterpret_cast<const wchar_t*>(wideName.c_str());
  const DWORD size = GetEnvironmentVariableW(key, nullptr, 0);  // with the terminating zero
  if (size == 0) return std::nullopt;
  std::u16string value(size, u'\0');
  const DWORD length = GetEnvironmentVariableW(key, reinterpret_cast<wchar_t*>(value.data()), size);
  if (length >= size) return std::nullopt;  // changed meanwhile: no whole value to give
  value.resize(length);
  return Utf16ToUtf8(value);
}

LocalTime Win32Shell::Now() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

bool Win32Shell::StartHiddenCommand(const std::string& commandLine) {
  // WinExec returns a value above 31 when the process was started.
  return WinExec(commandLine.c_str(), SW_HIDE) > 31;
}

std::optional<std::filesystem::path> Win32Shell::DocumentsFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PERSONAL, TRUE)) return std::nullopt;
  return std::filesystem::path(folder);
}

std::uint32_t Win32Shell::MakeDirectory(const std::filesystem::path& path) { return win32::MakeDirectory(path); }

std::unique_ptr<OutputFile> Win32Shell::CreateOutputFile(const std::filesystem::path& path) {
  return win32::CreateOutputFile(path);
}

MoveOutcome Win32Shell::MoveFileNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  return win32::MoveFileNoReplace(from, to);
}

bool Win32Shell::RemoveFile(const std::filesystem::path& path) { return win32::RemoveFile(path); }

}  // namespace lu14::win32
