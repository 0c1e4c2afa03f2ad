#include "tests/e2e/cli/CliChecks.h"

#include <sstream>

#include "tests/win32/ProgramCopy.h"

namespace lu14::e2e {

std::filesystem::path TempPath(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return std::filesystem::path(temp) / (std::to_wstring(GetCurrentProcessId()) + L"-" + name);
}

ExitDump::ExitDump(const std::wstring& name) : file_(TempPath(name + L"-exit-dump.txt")) {
  std::filesystem::remove(file_);
}

ExitDump::~ExitDump() {
  std::error_code ignored;
  std::filesystem::remove(file_, ignored);
}

std::string ExitDump::Command() const { return "dump-at-exit 1 " + win32::Utf8(file_.wstring()); }

std::vector<nlohmann::json> JsonLines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream text(out);
  for (std::string line; std::getline(text, line);) {
    if (!line.empty()) lines.push_back(nlohmann::json::parse(line));
  }
  return lines;
}

std::string Describe(const ConsoleOutcome& outcome) {
  return "exit " + (outcome.exitCode ? std::to_string(*outcome.exitCode) : std::string("(still running)")) +
         "\nstdout:\n" + outcome.out + "\nstderr:\n" + outcome.err;
}

}  // namespace lu14::e2e
