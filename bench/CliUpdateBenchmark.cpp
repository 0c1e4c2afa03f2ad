// Wall time of `lu14 --simulate --latency-us N update`, the whole process,
// against the floor the protocol sets for the same run. The floor is the same
// session run in virtual time: there handlers take no time at all, so the
// virtual clock moves only by transfer latency, mandated pauses and timer
// periods (the first poll's second included). The process's processor time
// shows what its waits cost.
//
//   lu14-cli-benchmark PATH-TO-lu14 [--latency-us N]     (default 1000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include <sys/resource.h>

#include "cli/CliSession.h"
#include "cli/SimulatedMeter.h"
#include "sim/SimRuntime.h"

int main(int argc, char** argv) {
  using namespace std::chrono;
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH-TO-lu14 [--latency-us N]\n", argv[0]);
    return 2;
  }
  const std::string tool = argv[1];
  long latency = 1000;
  if (argc == 4 && std::strcmp(argv[2], "--latency-us") == 0) latency = std::stol(argv[3]);

  lu14::cli::CliOptions options;
  options.command = lu14::cli::Command::Update;
  options.simulate = true;
  lu14::sim::SimRuntime runtime;
  lu14::cli::SimulatedMeter meter(runtime, "", microseconds(latency));
  std::ostringstream out, err;
  lu14::cli::CliSession session(options, runtime, runtime, meter.Platform(), out, err, false);
  if (session.Run() != 0) {
    std::fprintf(stderr, "the virtual-time run failed: %s\n", err.str().c_str());
    return 1;
  }
  const double floorMs = duration<double, std::milli>(runtime.Elapsed()).count();

  const std::string command = tool + " --simulate --latency-us " + std::to_string(latency) + " update --yes --quiet >/dev/null";
  const auto childrenCpuMs = [] {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
  };
  const auto start = steady_clock::now();
  const int status = std::system(command.c_str());
  const double wallMs = duration<double, std::milli>(steady_clock::now() - start).count();
  if (status != 0) {
    std::fprintf(stderr, "%s failed\n", command.c_str());
    return 1;
  }
  std::printf("transfer latency   %ld us\n", latency);
  std::printf("lu14 wall time     %.1f ms (whole process: start, first poll, update)\n", wallMs);
  std::printf("protocol floor     %.1f ms\n", floorMs);
  std::printf("wall / floor       %.4f\n", wallMs / floorMs);
  std::printf("processor time     %.1f ms (user and system, the whole process)\n", childrenCpuMs());
  return 0;
}
