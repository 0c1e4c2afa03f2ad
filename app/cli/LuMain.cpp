// lu14: the console front end of the meter tool, for Linux and for scripts.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/cli/CliOptions.h"
#include "app/cli/CliSession.h"
#include "app/cli/DocumentsFolder.h"
#include "app/cli/HardwarePlatform.h"
#include "app/cli/JsonText.h"
#include "app/cli/Messages.h"
#include "app/cli/SimulatedMeter.h"
#include "app/cli/StopSignals.h"

int main(int argc, char** argv) {
  using namespace lu14::cli;
  const Language language = LanguageFromEnvironment();
  const ParseResult parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), language);
  if (!parsed.options) {
    if (parsed.exitCode == 0) {
      std::cout << parsed.message;
    } else {
      std::cerr << parsed.message;
      if (parsed.json) std::cout << JsonLine(JsonError(parsed.exitCode, parsed.error));
    }
    return parsed.exitCode;
  }
  const CliOptions& options = *parsed.options;
  InstallStopSignals();
  // Backups go to the user's Documents folder or nowhere.
  lu14::RealTimeRuntime runtime(UsersDocumentsFolder(), std::cerr);
  // The progress bar redraws on a terminal; a question needs a person at one.
  const bool terminal = isatty(STDERR_FILENO) != 0;
  const bool person = terminal && isatty(STDIN_FILENO) != 0;
  const auto prepare = [&](CliSession& session) {
    session.SetStopRequests(StopSignalsReceived);
    if (person) session.SetAnswers(std::cin);
  };
  if (options.simulate) {
    SimulatedMeter meter(runtime, options.simulatedFault, std::chrono::microseconds(options.latencyMicroseconds),
                         options.simulatedMeters);
    CliSession session(options, runtime, runtime, meter.Platform(), std::cout, std::cerr, terminal,
                       [&] { meter.Step(); });
    prepare(session);
    return session.Run();
  }
  HardwarePlatform hardware = MakeHardwarePlatform(runtime);
  CliSession session(options, runtime, runtime, *hardware.platform, std::cout, std::cerr, terminal, hardware.step);
  prepare(session);
  session.SetInaccessibleMeters(hardware.inaccessibleMeters);
  return session.Run();
}
