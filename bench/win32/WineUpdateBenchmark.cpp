// The real lu14-updater.exe under Wine against the stand-in meter, each
// transfer taking 1 ms (or --latency-us N), measured against its floor in the
// same run and the same prefix:
//   - ten seconds of the poll, recording its transfers;
//   - the program's CPU time over an idle stretch (--idle-seconds, default 60)
//     with a meter attached and polled (answering at once), and after the
//     update again with no meter;
//   - a whole update, recording its transfers;
//   - lu14-wine-floor.exe replaying both recordings against a fresh meter of
//     the same stand-in, back to back with only the mandated waits.
// Every span is read from the stand-in's own timestamps, from the start of
// the first transfer to the end of the last, for the program and the floor
// alike. The gaps between transfers are split by kind, to show where the
// program's time above the floor goes.
//
//   wine lu14-wine-benchmark.exe [--latency-us N] [--idle-seconds N] [--keep-recordings FOLDER]
//
// --keep-recordings copies the recordings there, to study the gaps further:
// lu14 recordings (hid/record/Recording.h) whose transfers carry the
// stand-in's counter readings (StandInProtocol.h).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/win32/TransferRecording.h"
#include "tests/e2e/MeterControl.h"
#include "tests/e2e/WindowDriver.h"
#include "tests/win32/ProgramCopy.h"
#include "tests/win32/WaitFor.h"

namespace {

using namespace std::chrono;
using namespace lu14;
using bench::Recording;
using bench::Stretch;

const std::wstring kUpdateDone = L"Процесс завершен успешно !!";
const std::wstring kNoMeter = L"Подключите устройство ";

// Long enough for ten poll ticks.
constexpr auto kPollRecording = std::chrono::milliseconds(10'500);

struct Options {
  long latencyUs = 1000;
  long idleSeconds = 60;
  std::filesystem::path keepRecordings;  // where to copy the four recordings, if anywhere
};

// The CPU time of a Wine process, user and system, as Linux accounts it: the
// kernel's own figure for every thread of the process. (Wine's
// GetProcessTimes on another process does not see it: it reported the same
// 50 ms over 5 s with and without a meter whose stand-in spins a
// millisecond per transfer.) Found through Wine's Z: drive by the program's
// path in the process's command line; nothing when it is not found.
class UnixProcessCpu {
 public:
  explicit UnixProcessCpu(const std::filesystem::path& program) {
    const std::wstring wanted = program.wstring();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(L"Z:\\proc", error)) {
      const std::wstring name = entry.path().filename().wstring();
      if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
      std::ifstream cmdline(entry.path() / L"cmdline", std::ios::binary);
      std::string first;
      std::getline(cmdline, first, '\0');
      while (!first.empty() && first.back() == ' ') first.pop_back();
      if (_wcsicmp(win32::Wide(first).c_str(), wanted.c_str()) == 0) stat_ = entry.path() / L"stat";
    }
  }
  bool Found() const { return !stat_.empty(); }

  // Nothing once the process is gone.
  std::optional<double> Ms() const {
    std::ifstream in(stat_);
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    // Fields after the command name in parentheses: state is the third,
    // utime and stime the fourteenth and fifteenth, in USER_HZ ticks (100 a
    // second on Linux).
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 14 && fields >> field; ++i) {
    }
    unsigned long long user = 0, system = 0;
    if (!(fields >> user >> system)) return std::nullopt;
    return static_cast<double>(user + system) * 10.0;
  }

 private:
  std::filesystem::path stat_;
};

// Waits while the program is measured. The benchmark owns no window, so it
// has no messages to pump, and each wake-up would be one more request to
// Wine's server, which the program's transfers also wait on.
void Rest(milliseconds duration) { Sleep(static_cast<DWORD>(duration.count())); }

// The program's CPU time while it sits idle for `seconds`; negative when it
// could not be read.
double IdleCpuMs(const UnixProcessCpu& cpu, long seconds) {
  const std::optional<double> before = cpu.Ms();
  Rest(std::chrono::seconds(seconds));
  const std::optional<double> after = cpu.Ms();
  return before && after ? *after - *before : -1;
}

std::string Utf8(const std::filesystem::path& path) { return win32::Utf8(path.wstring()); }

struct ProgramRun {
  std::filesystem::path pollRecording;
  std::filesystem::path updateRecording;
  double idleCpuWithMeterMs = 0;
  double idleCpuWithoutMeterMs = 0;
  double clickToDoneMs = 0;
};

std::optional<ProgramRun> RunProgram(const win32::ProgramFolder& folder, const Options& options) {
  ProgramRun run{folder.Path() / L"poll-transfers.jsonl", folder.Path() / L"update-transfers.jsonl"};
  win32::ProgramCopy copy(folder.Program());
  HWND main = copy.WaitForMainWindow();
  if (!main) return std::nullopt;
  e2e::WindowDriver window(main);
  e2e::MeterControl meters(copy.ProcessId());
  if (!win32::PumpUntil([&] { return window.Enabled(ControlId::B1); }, seconds(60))) return std::nullopt;
  const UnixProcessCpu cpu(folder.Program());
  if (!cpu.Found()) std::fprintf(stderr, "the program's Linux process was not found: no CPU times\n");

  // A poll tick never looks at the queue, so the recording holds whole ticks.
  if (!meters.Send("record-transfers")) return std::nullopt;
  Rest(kPollRecording);
  if (!meters.Send("write-transfers " + Utf8(run.pollRecording))) return std::nullopt;
  // The stand-in spends a transfer's latency spinning in the program's
  // process: idle, the meter answers at once, so that the CPU time is the
  // program's own (and the stand-in's bookkeeping).
  if (!meters.Send("latency 0")) return std::nullopt;
  run.idleCpuWithMeterMs = IdleCpuMs(cpu, options.idleSeconds);
  if (!meters.Send("latency " + std::to_string(options.latencyUs))) return std::nullopt;

  // Queued: the recording starts as the program takes its next posted
  // message, and the click is posted right behind it.
  const auto start = steady_clock::now();
  if (!meters.Send("queued record-transfers")) return std::nullopt;
  window.Click(ControlId::B1);
  // Looked at rarely: every look is a message the program's thread must answer.
  bool done = false;
  for (const auto deadline = start + minutes(10); !done && steady_clock::now() < deadline;) {
    Rest(milliseconds(200));
    const auto log = window.Log();
    done = !log.empty() && log.back() == kUpdateDone;
  }
  run.clickToDoneMs = duration<double, std::milli>(steady_clock::now() - start).count();
  if (!done || !meters.Send("write-transfers " + Utf8(run.updateRecording))) return std::nullopt;

  if (!meters.Send("unplug 1") || !win32::PumpUntil([&] { return window.Label() == kNoMeter; }, seconds(60))) {
    return std::nullopt;
  }
  run.idleCpuWithoutMeterMs = IdleCpuMs(cpu, options.idleSeconds);
  window.Close();
  if (!copy.WaitForExit()) return std::nullopt;
  return run;
}

// Runs `floor` (lu14-wine-floor.exe, beside the meters.txt of its meter) on
// a recording; its own recording goes to `output`. false when it failed or a
// reply differed from the recorded one.
bool RunFloor(const std::filesystem::path& floor, const std::filesystem::path& recording,
              const std::filesystem::path& output) {
  std::wstring commandLine = L"\"" + floor.wstring() + L"\" \"" + recording.wstring() + L"\" \"" + output.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const std::wstring folder = floor.parent_path().wstring();
  if (!CreateProcessW(floor.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  return code == 0;
}

std::optional<Recording> Read(const std::filesystem::path& file) {
  std::string error;
  auto recording = bench::ReadTimedRecording(file, error);
  if (!recording) std::fprintf(stderr, "%s\n", error.c_str());
  return recording;
}

// Where the time of a stretch goes: the transfers themselves, the gaps inside
// transactions, and the gaps between transactions beyond the mandated waits,
// apart for those that begin a timer tick.
struct Breakdown {
  double transfersMs = 0;
  double mandatedMs = 0;
  double inTransactionMs = 0;
  double betweenTransactionsMs = 0;
  double timerTicksMs = 0;
};

Breakdown Analyse(const Recording& recording, Stretch stretch) {
  Breakdown breakdown;
  const auto& transfers = recording.transfers;
  for (std::size_t i = stretch.first; i <= stretch.last; ++i) {
    breakdown.transfersMs += bench::TransferMs(recording, i);
    if (i == stretch.first) continue;
    const double mandated = duration<double, std::milli>(bench::MandatedWaitBefore(transfers, i)).count();
    const double beyond = bench::GapMs(recording, i) - mandated;
    breakdown.mandatedMs += mandated;
    if (!transfers[i].set) breakdown.inTransactionMs += beyond;
    else if (bench::StartsTimerTick(transfers, i)) breakdown.timerTicksMs += beyond;
    else breakdown.betweenTransactionsMs += beyond;
  }
  return breakdown;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void PrintBreakdown(const char* what, const Breakdown& program, const Breakdown& floor) {
  std::printf("  %s                       program    floor\n", what);
  std::printf("    transfers                     %9.1f %8.1f ms\n", program.transfersMs, floor.transfersMs);
  std::printf("    mandated waits                %9.1f %8.1f ms\n", program.mandatedMs, floor.mandatedMs);
  std::printf("    gaps inside transactions      %9.1f %8.1f ms\n", program.inTransactionMs, floor.inTransactionMs);
  std::printf("    between transactions, beyond  %9.1f %8.1f ms\n", program.betweenTransactionsMs,
              floor.betweenTransactionsMs);
  std::printf("    timer ticks, beyond period    %9.1f %8.1f ms\n", program.timerTicksMs, floor.timerTicksMs);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--latency-us") == 0 && i + 1 < argc) {
      options.latencyUs = std::wcstol(argv[++i], nullptr, 10);
    } else if (std::wcscmp(argv[i], L"--idle-seconds") == 0 && i + 1 < argc) {
      options.idleSeconds = std::wcstol(argv[++i], nullptr, 10);
    } else if (std::wcscmp(argv[i], L"--keep-recordings") == 0 && i + 1 < argc) {
      options.keepRecordings = argv[++i];
    } else {
      std::fprintf(stderr, "usage: lu14-wine-benchmark [--latency-us N] [--idle-seconds N] [--keep-recordings FOLDER]\n");
      return 2;
    }
  }
  const std::vector<std::string> meter = {"plug 1", "latency " + std::to_string(options.latencyUs)};
  win32::ProgramFolder programFolder(L"bench-program");
  win32::ProgramFolder floorFolder(L"bench-floor");
  const std::filesystem::path floor = floorFolder.Path() / L"lu14-wine-floor.exe";
  std::filesystem::copy_file(win32::TestsFolder() / L"lu14-wine-floor.exe", floor);
  const std::filesystem::path pollFloor = floorFolder.Path() / L"poll-floor.jsonl";
  const std::filesystem::path updateFloor = floorFolder.Path() / L"update-floor.jsonl";

  std::optional<ProgramRun> run;
  bool floorsRan = false;
  if (e2e::InstallStandIns(programFolder.Path(), meter) && e2e::InstallStandIns(floorFolder.Path(), meter)) {
    run = RunProgram(programFolder, options);
    // One process at a time: the floor runs once the program has ended.
    floorsRan = run && RunFloor(floor, run->updateRecording, updateFloor) &&
                RunFloor(floor, run->pollRecording, pollFloor);
  }
  // The stand-ins went into the prefix's system folder; Wine's own go back.
  e2e::RestoreSystemLibraries();
  if (!run || !floorsRan) {
    std::fprintf(stderr, "the program's run or its floor did not finish\n");
    return 1;
  }
  if (!options.keepRecordings.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.keepRecordings, error);
    for (const auto& file : {run->updateRecording, run->pollRecording, updateFloor, pollFloor}) {
      std::filesystem::copy_file(file, options.keepRecordings / file.filename(),
                                 std::filesystem::copy_options::overwrite_existing, error);
    }
  }
  const auto programUpdate = Read(run->updateRecording);
  const auto programPoll = Read(run->pollRecording);
  const auto floorUpdate = Read(updateFloor);
  const auto floorPoll = Read(pollFloor);
  if (!programUpdate || !programPoll || !floorUpdate || !floorPoll) return 1;
  const auto update = bench::FindUpdate(*programUpdate);
  const auto ticks = bench::FindPollTicks(*programPoll);
  if (!update || ticks.empty() || floorUpdate->transfers.size() != programUpdate->transfers.size() ||
      floorPoll->transfers.size() != programPoll->transfers.size()) {
    std::fprintf(stderr, "the recordings do not hold an update and poll ticks of the same transfers\n");
    return 1;
  }

  const Breakdown programUpdateTime = Analyse(*programUpdate, *update);
  const Breakdown floorUpdateTime = Analyse(*floorUpdate, *update);
  const double programMs = bench::SpanMs(*programUpdate, *update);
  const double floorMs = bench::SpanMs(*floorUpdate, *update);
  std::vector<double> programTicks, floorTicks, programTickGaps, floorTickGaps;
  for (const Stretch tick : ticks) {
    programTicks.push_back(bench::SpanMs(*programPoll, tick));
    floorTicks.push_back(bench::SpanMs(*floorPoll, tick));
    programTickGaps.push_back(programTicks.back() - Analyse(*programPoll, tick).transfersMs);
    floorTickGaps.push_back(floorTicks.back() - Analyse(*floorPoll, tick).transfersMs);
  }
  const Stretch firstTick = ticks.front();
  const double programTickMs = Median(programTicks);
  const double floorTickMs = Median(floorTicks);
  // The time inside the stand-in's transfers swings with the machine's load
  // (its latency is a spin that other processes preempt); with the floor's
  // transfer time in place of the program's, what is left above the floor is
  // the program's own: its waits and its work between transfers.
  const double programOwnMs = programMs - programUpdateTime.transfersMs + floorUpdateTime.transfersMs;
  const double floorTickTransfersMs = floorTickMs - Median(floorTickGaps);
  const double programTickOwnMs = Median(programTickGaps) + floorTickTransfersMs;

  std::printf("transfer latency                    %ld us\n", options.latencyUs);
  std::printf("update, transfers                   %zu\n", update->last + 1);
  std::printf("update, program                     %.1f ms   (click to last log line: %.1f ms)\n", programMs,
              run->clickToDoneMs);
  std::printf("update, floor                       %.1f ms\n", floorMs);
  std::printf("update, program / floor             %.3f\n", programMs / floorMs);
  std::printf("  with the floor's transfer time    %.3f\n", programOwnMs / floorMs);
  PrintBreakdown("update", programUpdateTime, floorUpdateTime);
  std::printf("poll tick, transfers                %zu\n", firstTick.last - firstTick.first + 1);
  std::printf("poll tick, program (median of %zu)  %.2f ms   (%.2f to %.2f)\n", ticks.size(), programTickMs,
              *std::min_element(programTicks.begin(), programTicks.end()),
              *std::max_element(programTicks.begin(), programTicks.end()));
  std::printf("poll tick, floor (median)           %.2f ms\n", floorTickMs);
  std::printf("poll tick, program / floor          %.3f\n", programTickMs / floorTickMs);
  std::printf("  with the floor's transfer time    %.3f\n", programTickOwnMs / floorTickMs);
  PrintBreakdown("poll tick", Analyse(*programPoll, firstTick), Analyse(*floorPoll, firstTick));
  const double idleMs = 1000.0 * static_cast<double>(options.idleSeconds);
  std::printf("idle CPU, meter polled, %ld s        %.0f ms (%.2f %%)\n", options.idleSeconds,
              run->idleCpuWithMeterMs, 100.0 * run->idleCpuWithMeterMs / idleMs);
  std::printf("idle CPU, no meter, %ld s            %.0f ms (%.2f %%)\n", options.idleSeconds,
              run->idleCpuWithoutMeterMs, 100.0 * run->idleCpuWithoutMeterMs / idleMs);
  return 0;
}
