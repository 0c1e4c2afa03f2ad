// Wall time of a whole update of the real lu14-updater.exe under Wine against
// the stand-in meter, each transfer taking 1 ms (or --latency-us N): once with
// Timer2 at its precise 2 ms period, once with a build whose Timer2 is a plain
// message timer, and their ratio.
//
//   wine lu14-wine-benchmark.exe [--latency-us N]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <string>

#include "tests/e2e/MeterControl.h"
#include "tests/e2e/WindowDriver.h"
#include "tests/win32/ProgramCopy.h"
#include "tests/win32/WaitFor.h"

namespace {

using namespace std::chrono;
using namespace lu14;

// Runs one update with the given build of the program; milliseconds, or a
// negative number when it did not finish.
double TimeUpdate(const std::filesystem::path& program, const wchar_t* name, long latency) {
  win32::ProgramFolder folder(name);
  std::filesystem::copy_file(program, folder.Program(), std::filesystem::copy_options::overwrite_existing);
  if (!e2e::InstallStandIns(folder.Path(), {"plug 1", "latency " + std::to_string(latency)})) return -1;
  win32::ProgramCopy copy(folder.Program());
  HWND main = copy.WaitForMainWindow();
  if (!main) return -1;
  e2e::WindowDriver window(main);
  if (!win32::PumpUntil([&] { return window.Enabled(ControlId::B1); }, seconds(60))) return -1;
  const auto start = steady_clock::now();
  window.Click(ControlId::B1);
  const bool done = win32::PumpUntil(
      [&] {
        const auto log = window.Log();
        return !log.empty() && log.back() == L"Процесс завершен успешно !!";
      },
      minutes(10));
  const double wall = duration<double, std::milli>(steady_clock::now() - start).count();
  window.Close();
  copy.WaitForExit();
  return done ? wall : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  long latency = 1000;
  if (argc == 3 && std::wcscmp(argv[1], L"--latency-us") == 0) latency = std::wcstol(argv[2], nullptr, 10);
  const std::filesystem::path bin = win32::UpdaterProgram().parent_path();
  const double precise = TimeUpdate(bin / L"lu14-updater.exe", L"bench-precise", latency);
  const double message = TimeUpdate(bin / L"lu14-updater-message-timer.exe", L"bench-message", latency);
  // The stand-ins went into the prefix's system folder; Wine's own go back.
  e2e::RestoreSystemLibraries();
  if (precise < 0 || message < 0) {
    std::fprintf(stderr, "an update did not finish\n");
    return 1;
  }
  std::printf("transfer latency               %ld us\n", latency);
  std::printf("Timer2 at a precise 2 ms       %.1f ms\n", precise);
  std::printf("Timer2 as a message timer      %.1f ms\n", message);
  std::printf("message timer / precise        %.3f\n", message / precise);
  return 0;
}
