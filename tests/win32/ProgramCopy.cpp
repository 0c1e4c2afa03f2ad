#include "tests/win32/ProgramCopy.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tests/win32/WaitFor.h"

namespace lu14::win32 {
namespace {

struct Search {
  DWORD processId;
  const wchar_t* className;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && (!search->visibleOnly || IsWindowVisible(window)) &&
      ClassName(window) == search->className) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopLevel(DWORD processId, const wchar_t* className, bool visibleOnly = true) {
  Search search{processId, className, visibleOnly, nullptr};
  EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

std::filesystem::path TestsFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path();
}

std::filesystem::path UpdaterProgram() { return (TestsFolder() / LU14_UPDATER_FROM_TESTS).lexically_normal(); }

ProgramFolder::ProgramFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  folder_ = std::filesystem::path(temp) / (L"lu14-e2e-" + std::to_wstring(GetCurrentProcessId())) / name;
  std::filesystem::remove_all(folder_);
  std::filesystem::create_directories(folder_);
  std::filesystem::copy_file(UpdaterProgram(), Program());
  std::filesystem::copy_file(TestsFolder() / L"taskkill.exe", folder_ / L"taskkill.exe");
}

ProgramFolder::~ProgramFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> ProgramFolder::CommandsStarted() const {
  std::ifstream log(folder_ / L"taskkill.log", std::ios::binary);
  std::vector<std::pair<unsigned long long, std::string>> entries;
  std::string line;
  while (std::getline(log, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    entries.emplace_back(std::stoull(line.substr(0, tab)), line.substr(tab + 1));
  }
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> commands;
  for (auto& entry : entries) commands.push_back(std::move(entry.second));
  return commands;
}

HWND FindWindowOfProcess(DWORD processId, const wchar_t* className) {
  return FindTopLevel(processId, className, false);
}

HWND FindVisibleWindowOfProcess(DWORD processId, const wchar_t* className) {
  return FindTopLevel(processId, className, true);
}

ProgramCopy::ProgramCopy(const std::filesystem::path& program, Start start) {
  std::wstring commandLine = L"\"" + program.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const std::wstring folder = program.parent_path().wstring();
  const DWORD flags = start == Start::kSuspended ? CREATE_SUSPENDED : 0;
  if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr, folder.c_str(),
                     &startup, &info)) {
    if (start == Start::kSuspended) {
      suspendedThread_ = info.hThread;
    } else {
      CloseHandle(info.hThread);
    }
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    mainThreadId_ = info.dwThreadId;
  } else {
    startError_ = GetLastError();
  }
}

std::string ProgramCopy::State() const {
  if (!process_) return "not started (error " + std::to_string(startError_) + ")";
  if (Running()) return "running";
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return "ended with exit code " + std::to_string(code);
}

bool ProgramCopy::Resume() {
  if (!suspendedThread_) return false;
  const bool resumed = ResumeThread(suspendedThread_) != static_cast<DWORD>(-1);
  CloseHandle(suspendedThread_);
  suspendedThread_ = nullptr;
  return resumed;
}

ProgramCopy::~ProgramCopy() {
  if (suspendedThread_) CloseHandle(suspendedThread_);
  if (!process_) return;
  if (Running()) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 10000);
  }
  CloseHandle(process_);
}

bool ProgramCopy::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

HWND ProgramCopy::MainWindow() const { return FindTopLevel(processId_, L"TMForm"); }

HWND ProgramCopy::WaitForMainWindow() const {
  HWND window = nullptr;
  PumpUntil([&] { return (window = MainWindow()) != nullptr || !Running(); }, kWindowTimeout);
  // The test's own assertion follows; this says why there is no window.
  if (!window) std::cerr << "no main window: the copy " << State() << '\n';
  return window;
}

HWND ProgramCopy::WaitForMessageBox() const {
  HWND box = nullptr;
  PumpUntil([&] { return (box = FindTopLevel(processId_, L"#32770")) != nullptr || !Running(); }, kWindowTimeout);
  return box;
}

std::optional<DWORD> ProgramCopy::WaitForExit() const {
  if (!process_ || !PumpUntil([&] { return !Running(); }, kWindowTimeout)) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return code;
}

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  // WM_GETTEXT reads other processes' windows, unlike GetWindowText for controls.
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 10000, nullptr);
  return text;
}

std::wstring StoredText(HWND window) {
  wchar_t text[1024] = {};
  InternalGetWindowText(window, text, 1024);
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

HWND DialogItem(HWND dialog, int id) { return GetDlgItem(dialog, id); }

RECT ChildRect(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::wstring Wide(const std::string& utf8) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
  return utf8;
}

}  // namespace lu14::win32
