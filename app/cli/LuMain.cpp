// lu14: the console front end of the meter tool, for Linux and for scripts.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/cli/CliOptions.h"
#include "app/cli/CliSession.h"
#include "app/cli/DocumentsFolder.h"
#include "app/cli/HardwarePlatform.h"
#include "app/cli/SimulatedMeter.h"
#include "app/cli/StopSignals.h"

int main(int argc, char** argv) {
  using namespace lu14::cli;
  const ParseResult parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.message;
    return parsed.exitCode;
  }
  const CliOptions& options = *parsed.options;
  InstallStopSignals();
  // Backups go to the user's Documents folder or nowhere.
  lu14::RealTimeRuntime runtime(UsersDocumentsFolder(), std::cerr);
  const bool terminal = isatty(STDOUT_FILENO) != 0;
  if (options.simulate) {
    SimulatedMeter meter(runtime, options.simulatedFault, std::chrono::microseconds(options.latencyMicroseconds));
    CliSession session(options, runtime, runtime, meter.Platform(), std::cout, std::cerr, terminal,
                       [&] { meter.Step(); });
    session.SetStopRequests(StopSignalsReceived);
    return session.Run();
  }
  HardwarePlatform hardware = MakeHardwarePlatform(runtime, std::cerr);
  CliSession session(options, runtime, runtime, *hardware.platform, std::cout, std::cerr, terminal, hardware.step);
  session.SetStopRequests(StopSignalsReceived);
  return session.Run();
}
