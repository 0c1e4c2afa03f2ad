// What the lu14.exe suites check a run with: its exit codes, the meter's state
// as the run ended, its JSON lines, and a description of the run for a failed
// expectation.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/MeterControl.h"
#include "tests/e2e/cli/ConsoleRun.h"

namespace lu14::e2e {

inline constexpr DWORD kExitOk = 0;
inline constexpr DWORD kExitFailed = 1;
inline constexpr DWORD kExitNoMeter = 3;
inline constexpr DWORD kExitRefused = 4;
inline constexpr DWORD kExitInterrupted = 5;

// A file of this test process under %TEMP%.
std::filesystem::path TempPath(const std::wstring& name);

// The meter's state as the run ended: the stand-in writes it as the process
// exits ("dump-at-exit"). Removed again afterwards.
class ExitDump {
 public:
  explicit ExitDump(const std::wstring& name);
  ~ExitDump();
  ExitDump(const ExitDump&) = delete;
  ExitDump& operator=(const ExitDump&) = delete;
  // The line of meters.txt that asks for it (meter 1).
  std::string Command() const;
  std::optional<MeterDump> Read() const { return MeterDump::Read(file_); }

 private:
  std::filesystem::path file_;
};

// Every line of a run's standard output as JSON; a line that is not fails.
std::vector<nlohmann::json> JsonLines(const std::string& out);
// The run's exit code and output, for the message of a failed expectation.
std::string Describe(const ConsoleOutcome& outcome);

}  // namespace lu14::e2e
