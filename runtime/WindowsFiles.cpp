// RealTimeRuntime: the backup's file, the process id its part file is named
// with, and the move that never replaces one, on Windows, as the window writes
// them. A UTF-8 path through fopen would pass
// the ANSI code page and lose every letter outside it.
#include <windows.h>

#include <system_error>

#include "runtime/RealTimeRuntime.h"
#include "os/win32/Win32Files.h"

namespace lu14 {

std::uint32_t RealTimeRuntime::ProcessId() { return GetCurrentProcessId(); }

std::string RealTimeRuntime::PlatformErrorText() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

std::unique_ptr<OutputFile> RealTimeRuntime::OpenOutputFile(const std::filesystem::path& path) {
  return win32::CreateOutputFile(path);
}

MoveOutcome RealTimeRuntime::MoveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
  return win32::MoveFileNoReplace(from, to);
}

}  // namespace lu14
