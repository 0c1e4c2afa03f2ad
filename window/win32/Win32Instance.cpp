// Win32Shell: the program path and the named semaphore of the single-instance guard.
#include "os/win32/Win32Handle.h"
#include "window/win32/Win32Shell.h"

namespace lu14::win32 {
namespace {

class Win32Semaphore : public NamedSemaphore {
 public:
  explicit Win32Semaphore(HANDLE handle) : handle_(handle) {}
  bool Wait(Milliseconds timeout) override {
    return WaitForSingleObject(handle_.get(), static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
  }
  void Release(std::int32_t count) override { ReleaseSemaphore(handle_.get(), count, nullptr); }

 private:
  UniqueHandle handle_;
};

}  // namespace

std::u16string Win32Shell::ProgramPath() {
  // Grows the buffer until the whole path fits, so long paths are never cut here;
  // the guard decides how much of it names the semaphore.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return std::u16string(path.begin(), path.end());
    }
    path.resize(path.size() * 2);
  }
}

std::unique_ptr<NamedSemaphore> Win32Shell::CreateNamedSemaphore(const std::u16string& name, std::int32_t initialCount,
                                                                 std::int32_t maximumCount) {
  const std::wstring wideName(name.begin(), name.end());
  HANDLE handle = CreateSemaphoreW(nullptr, initialCount, maximumCount, wideName.c_str());
  if (!handle) return nullptr;
  return std::make_unique<Win32Semaphore>(handle);
}

}  // namespace lu14::win32
