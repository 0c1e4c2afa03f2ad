// A stand-in for TASKKILL placed beside lu14-updater.exe in the end-to-end
// tests. Windows looks for a command in the program's own folder first, so the
// program starts this one: it ends nothing and appends one line to
// taskkill.log beside itself: its creation time (100 ns units, which orders the
// starts) and the command line it was started with, UTF-8.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const unsigned long long createdAt = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                                       created.dwLowDateTime;

  const wchar_t* commandLine = GetCommandLineW();
  const int size = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, utf8.data(), size, nullptr, nullptr);
  const std::string line = std::to_string(createdAt) + "\t" + utf8 + "\r\n";

  wchar_t log[MAX_PATH];
  GetModuleFileNameW(nullptr, log, MAX_PATH);
  std::wstring logPath(log);
  logPath = logPath.substr(0, logPath.find_last_of(L"\\/") + 1) + L"taskkill.log";
  // Four copies start at once: retry while another holds the file.
  for (int attempt = 0; attempt < 500; ++attempt) {
    HANDLE file = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
      return 0;
    }
    Sleep(10);
  }
  return 1;
}
