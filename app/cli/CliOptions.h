// The command line of the lu14 console tool.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lu14::cli {

enum class Command { Status, Update, Option, Checksum };

struct CliOptions {
  Command command = Command::Status;
  bool json = false;              // status only
  bool simulate = false;
  std::string simulatedFault;     // empty: a healthy simulated meter
  int waitSeconds = 10;           // how long to wait for a meter
  long latencyMicroseconds = 0;   // time each transfer of the simulated meter takes
  std::string optionName;         // option: capacitance | menu-swap
  bool optionOn = false;
  bool noBackup = false;          // update: go on when no settings backup can be saved
  bool ignoreBattery = false;     // update: go on with a low battery
};

struct ParseResult {
  std::optional<CliOptions> options;  // nothing: print `message` and exit
  std::string message;                // help text or the error
  int exitCode = 0;                   // 0 for help, 2 for a usage error
};

ParseResult ParseCommandLine(const std::vector<std::string>& arguments);

// The faults --simulate=FAULT knows, with a line each for the help.
const std::vector<std::pair<std::string, std::string>>& SimulatedFaults();

}  // namespace lu14::cli
