#include "tests/e2e/cli/ConsoleRun.h"

#include <algorithm>
#include <chrono>
#include <cwctype>

#include "tests/win32/ProgramCopy.h"

namespace lu14::e2e {
namespace {

// Generous: a whole update under Wine on a loaded machine.
constexpr DWORD kRunTimeoutMs = 240'000;

bool SameName(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towupper(x) == std::towupper(y);
         });
}

// This process's environment with the changes made, as CreateProcessW takes
// it: NAME=VALUE strings, each ending in a zero, and one zero more.
std::wstring EnvironmentBlock(const EnvironmentChanges& changes) {
  std::vector<std::wstring> entries;
  if (wchar_t* strings = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) entries.emplace_back(entry);
    FreeEnvironmentStringsW(strings);
  }
  for (const auto& [name, value] : changes) {
    // "=C:=C:\..." entries (a drive's current folder) start with '=': skipped from 1.
    std::erase_if(entries, [&](const std::wstring& entry) {
      const auto equals = entry.find(L'=', 1);
      return equals != std::wstring::npos && SameName(std::wstring_view(entry).substr(0, equals), name);
    });
    if (value) entries.push_back(name + L"=" + *value);
  }
  std::wstring block;
  for (const std::wstring& entry : entries) block += entry + L'\0';
  block += L'\0';
  return block;
}

}  // namespace

std::filesystem::path ConsoleProgram() { return (win32::TestsFolder() / LU14_CONSOLE_FROM_TESTS).lexically_normal(); }

std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  // Backslashes are literal unless they come before a quote: then doubled.
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

ConsoleRun::PipeReader::PipeReader(HANDLE readEnd) : readEnd_(readEnd) {
  InitializeCriticalSection(&lock_);
  thread_ = std::thread([this] {
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd_, buffer, sizeof buffer, &read, nullptr) && read > 0) {
      EnterCriticalSection(&lock_);
      text_.append(buffer, read);
      LeaveCriticalSection(&lock_);
    }
  });
}

ConsoleRun::PipeReader::~PipeReader() {
  Join();
  CloseHandle(readEnd_);
  DeleteCriticalSection(&lock_);
}

void ConsoleRun::PipeReader::Join() {
  if (thread_.joinable()) thread_.join();
}

std::string ConsoleRun::PipeReader::Text() const {
  EnterCriticalSection(&lock_);
  std::string text = text_;
  LeaveCriticalSection(&lock_);
  return text;
}

bool GiveThisProcessAConsole() {
  static const bool given = [] {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    FreeConsole();
    const bool made = AllocConsole() != FALSE;
    SetStdHandle(STD_INPUT_HANDLE, in);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, err);
    return made;
  }();
  return given;
}

ScreenBuffer::ScreenBuffer() {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  handle_ = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                      CONSOLE_TEXTMODE_BUFFER, nullptr);
}

ScreenBuffer::~ScreenBuffer() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

std::wstring ScreenBuffer::Text() const {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(handle_, &info)) return {};
  std::wstring text(static_cast<std::size_t>(info.dwSize.X) * static_cast<std::size_t>(info.dwSize.Y), L' ');
  DWORD read = 0;
  ReadConsoleOutputCharacterW(handle_, text.data(), static_cast<DWORD>(text.size()), COORD{0, 0}, &read);
  text.resize(read);
  return text;
}

ConsoleInput::ConsoleInput() {
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  handle_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                        OPEN_EXISTING, 0, nullptr);
  if (handle_ != INVALID_HANDLE_VALUE) FlushConsoleInputBuffer(handle_);
}

ConsoleInput::~ConsoleInput() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

void ConsoleInput::Type(const std::wstring& keys) const {
  std::vector<INPUT_RECORD> records;
  for (const wchar_t key : keys) {
    for (const BOOL down : {TRUE, FALSE}) {
      INPUT_RECORD record{};
      record.EventType = KEY_EVENT;
      record.Event.KeyEvent.bKeyDown = down;
      record.Event.KeyEvent.wRepeatCount = 1;
      record.Event.KeyEvent.wVirtualKeyCode = key == L'\r' ? VK_RETURN : 0;
      record.Event.KeyEvent.uChar.UnicodeChar = key;
      records.push_back(record);
    }
  }
  DWORD written = 0;
  WriteConsoleInputW(handle_, records.data(), static_cast<DWORD>(records.size()), &written);
}

ConsoleRun::ConsoleRun(const std::wstring& name, const std::vector<std::string>& meterCommands,
                       const std::vector<std::string>& arguments, const RunOptions& options) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  folder_ = std::filesystem::path(temp) / (L"lu14-cli-e2e-" + std::to_wstring(GetCurrentProcessId())) / name;
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
  std::filesystem::create_directories(folder_);
  const std::filesystem::path program = folder_ / L"lu14.exe";
  // CopyFileW: see InstallStandInsInSystemFolder on std::filesystem::copy_file under Wine.
  if (!CopyFileW(ConsoleProgram().c_str(), program.c_str(), FALSE)) return;
  if (!InstallStandIns(folder_, meterCommands)) return;
  for (const auto& [fileName, source] : options.besideTheProgram) {
    if (!CopyFileW(source.c_str(), (folder_ / fileName).c_str(), FALSE)) return;
  }

  std::wstring commandLine = QuotedArgument(program.wstring());
  for (const std::string& argument : arguments) commandLine += L" " + QuotedArgument(win32::Wide(argument));
  std::wstring block = EnvironmentBlock(options.environment);

  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  CreatePipe(&outRead, &outWrite, &inheritable, 0);
  CreatePipe(&errRead, &errWrite, &inheritable, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                             nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = options.consoleInput ? options.consoleInput : input;
  startup.hStdOutput = options.consoleOutput ? options.consoleOutput : outWrite;
  startup.hStdError = options.consoleOutput ? options.consoleOutput : errWrite;
  PROCESS_INFORMATION info{};
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (options.newProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0);
  const std::wstring folder = folder_.wstring();
  if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, block.data(), folder.c_str(),
                     &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
  }
  // The child holds its own ends now; the readers see the end of each pipe
  // once it has exited.
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  CloseHandle(input);
  out_.emplace(outRead);
  err_.emplace(errRead);
  meters_.emplace(processId_);
}

ConsoleRun::~ConsoleRun() {
  if (process_) {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_, 99);
      WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
  }
  out_.reset();
  err_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string ConsoleRun::ErrorSoFar() const { return err_ ? err_->Text() : std::string(); }

ConsoleOutcome ConsoleRun::Finish() {
  ConsoleOutcome outcome;
  if (!process_) return outcome;
  if (WaitForSingleObject(process_, kRunTimeoutMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    outcome.exitCode = code;
    out_->Join();
    err_->Join();
  }
  outcome.out = out_->Text();
  outcome.err = err_->Text();
  return outcome;
}

}  // namespace lu14::e2e
