// Wall time of `lu14 update --all` against one meter's, in the same run: the
// whole lu14 process with one simulated meter, then with several, each
// transfer taking the given latency. The meters run side by side, so the
// goal is several meters in about one meter's time (at most 1.10 times).
// Each run's processor time, in all and per meter, shows what the threads'
// waits cost (the goal: at most 0.3 s per meter's update).
//
//   lu14-multi-meter-benchmark PATH-TO-lu14 [--latency-us N] [--meters M]   (1000, 16)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Timing {
  double wallMs = -1;  // negative: the run failed
  double cpuMs = 0;    // user and system time of the process
};

double ChildrenCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Runs lu14 with these arguments in a home of its own.
Timing TimedRun(const std::string& tool, const std::string& arguments, const std::filesystem::path& home) {
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home / "Documents");
  const std::string command = "HOME='" + home.string() + "' XDG_DOCUMENTS_DIR= " + tool + " " + arguments +
                              " --yes --quiet >/dev/null </dev/null";
  const double cpuBefore = ChildrenCpuMs();
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) {
    std::fprintf(stderr, "%s failed\n", command.c_str());
    return {};
  }
  return {ms, ChildrenCpuMs() - cpuBefore};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PATH-TO-lu14 [--latency-us N] [--meters M]\n", argv[0]);
    return 2;
  }
  const std::string tool = argv[1];
  long latency = 1000;
  int meters = 16;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--latency-us") == 0) latency = std::stol(argv[i + 1]);
    if (std::strcmp(argv[i], "--meters") == 0) meters = std::stoi(argv[i + 1]);
  }
  const std::filesystem::path home =
      std::filesystem::temp_directory_path() / ("lu14-multi-meter-benchmark-" + std::to_string(getpid()));
  const std::string simulate = "--simulate --latency-us " + std::to_string(latency);
  const Timing one = TimedRun(tool, simulate + " update", home);
  const Timing oneAll = TimedRun(tool, simulate + " update --all", home);
  const Timing several = TimedRun(tool, simulate + " --meters " + std::to_string(meters) + " update --all", home);
  std::filesystem::remove_all(home);
  if (one.wallMs < 0 || oneAll.wallMs < 0 || several.wallMs < 0) return 1;
  std::printf("transfer latency          %ld us\n", latency);
  std::printf("                          wall time     processor time   per meter\n");
  std::printf("one meter, update         %8.1f ms   %8.1f ms   %8.1f ms\n", one.wallMs, one.cpuMs, one.cpuMs);
  std::printf("one meter, update --all   %8.1f ms   %8.1f ms   %8.1f ms\n", oneAll.wallMs, oneAll.cpuMs, oneAll.cpuMs);
  std::printf("%2d meters, update --all   %8.1f ms   %8.1f ms   %8.1f ms\n", meters, several.wallMs, several.cpuMs,
              several.cpuMs / meters);
  std::printf("%2d meters / one meter     %.4f (goal: at most 1.10)\n", meters, several.wallMs / one.wallMs);
  return 0;
}
