// Runs the real lu14.exe from the end-to-end tests: a copy in a folder of its
// own with the simulated meters of that folder (meters.txt, see
// standin/StandInProtocol.h), started with a command line and changes to the
// environment, its standard output and error read through pipes.
#pragma once

#include <windows.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/MeterControl.h"

namespace lu14::e2e {

// What a finished run left: its exit code (nothing when it did not end in
// time) and everything it wrote.
struct ConsoleOutcome {
  std::optional<DWORD> exitCode;
  std::string out;
  std::string err;
};

// Environment changes for a run: a value, or nothing to remove the variable.
using EnvironmentChanges = std::map<std::wstring, std::optional<std::wstring>>;

struct RunOptions {
  EnvironmentChanges environment = {};
  // The run leads a process group of its own, so that a console control
  // event can be sent to it alone (GiveThisProcessAConsole first).
  bool newProcessGroup = false;
  // An inheritable console screen buffer that takes the run's standard output
  // and error instead of the pipes.
  HANDLE consoleOutput = nullptr;
  // An inheritable console input handle for the run's standard input instead
  // of NUL (a person at the console answers from it).
  HANDLE consoleInput = nullptr;
  // Files copied beside the program before it starts: name, and the file copied.
  std::map<std::wstring, std::filesystem::path> besideTheProgram = {};
};

// Console control events pass only between the processes of one console, and
// a test that Wine starts from a Unix shell has only a placeholder console
// that refuses them. This gives the test process a console of its own (once),
// which the runs it starts then share; its standard handles stay as they were,
// as ctest reads them. False when no console could be made.
bool GiveThisProcessAConsole();

class ConsoleRun {
 public:
  // Copies lu14.exe into a fresh folder `name` under %TEMP%, writes its
  // meters.txt from `meterCommands` (InstallStandIns) and starts it with
  // `arguments` (UTF-8).
  ConsoleRun(const std::wstring& name, const std::vector<std::string>& meterCommands,
             const std::vector<std::string>& arguments, const RunOptions& options = {});
  ~ConsoleRun();  // ends a run that is still going, so no test leaves one behind
  ConsoleRun(const ConsoleRun&) = delete;
  ConsoleRun& operator=(const ConsoleRun&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD ProcessId() const { return processId_; }
  const std::filesystem::path& Folder() const { return folder_; }
  // The stand-in bus inside the running lu14.exe.
  const MeterControl& Meters() const { return *meters_; }
  // What it has written to its error stream so far.
  std::string ErrorSoFar() const;
  // Waits for the end (generously) and collects what it wrote.
  ConsoleOutcome Finish();

 private:
  // Reads a pipe to its end on a thread of its own, so that a full pipe never
  // stalls the child while the test waits on something else.
  class PipeReader {
   public:
    explicit PipeReader(HANDLE readEnd);
    ~PipeReader();
    std::string Text() const;
    void Join();

   private:
    HANDLE readEnd_;
    mutable CRITICAL_SECTION lock_;
    std::string text_;
    std::thread thread_;
  };

  std::filesystem::path folder_;
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  std::optional<MeterControl> meters_;
  std::optional<PipeReader> out_;
  std::optional<PipeReader> err_;
};

// A console screen buffer for a run's output (inheritable), closed when done.
class ScreenBuffer {
 public:
  ScreenBuffer();
  ~ScreenBuffer();
  ScreenBuffer(const ScreenBuffer&) = delete;
  ScreenBuffer& operator=(const ScreenBuffer&) = delete;
  HANDLE Handle() const { return handle_; }
  // Every character shown, row after row.
  std::wstring Text() const;

 private:
  HANDLE handle_;
};

// The console's input (CONIN$, inheritable), emptied, for a run's standard
// input: a person's keys are typed into it.
class ConsoleInput {
 public:
  ConsoleInput();
  ~ConsoleInput();
  ConsoleInput(const ConsoleInput&) = delete;
  ConsoleInput& operator=(const ConsoleInput&) = delete;
  HANDLE Handle() const { return handle_; }
  // Types `keys` as a person would (Enter: \r).
  void Type(const std::wstring& keys) const;

 private:
  HANDLE handle_;
};

// lu14.exe as built.
std::filesystem::path ConsoleProgram();

// The command line text of one argument, quoted as CommandLineToArgvW reads it.
std::wstring QuotedArgument(const std::wstring& argument);

}  // namespace lu14::e2e
