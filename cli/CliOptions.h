// The command line of the lu14 console tool.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/output/Messages.h"

namespace lu14::cli {

enum class Command { Status, List, Update, Option, Checksum, Backup, Restore };

enum class Verbosity { Quiet, Normal, Verbose };

// The version lu14 --version prints.
const char* ToolVersion();

// Seconds a command waits for a meter unless --wait or the command says otherwise.
inline constexpr int kDefaultWaitSeconds = 10;

struct CliOptions {
  Command command = Command::Status;
  Language language = Language::English;
  bool json = false;              // results (and errors) as JSON on standard output
  Verbosity verbosity = Verbosity::Normal;
  std::string device;             // the meter's id (device path); empty: the one attached
  bool simulate = false;
  std::string simulatedFault;     // empty: a healthy simulated meter
  int simulatedMeters = 1;        // how many simulated meters are attached
  int faultMeter = 0;             // the simulated meter the fault is aimed at (1-based); 0: every one
  int waitSeconds = kDefaultWaitSeconds;          // how long to wait for a meter
  long latencyMicroseconds = 0;   // time each transfer of the simulated meter takes
  std::string optionName;         // option: capacitance | menu-swap
  bool optionOn = false;
  bool noBackup = false;          // update: go on when no settings backup can be saved
  bool ignoreBattery = false;     // update: go on with a low battery
  bool yes = false;               // update, restore: do not ask before writing
  bool all = false;               // update: every attached meter at once
  bool force = false;             // update: write even when the meter has this firmware;
                                  // restore: a backup whose name names another meter, or none
  std::string outputFile;         // backup: the file to save to; empty: Documents/lu14, named by the meter
  std::string backupsApartIn;     // a folder in Documents/lu14 the run's backups go to instead (simulated meters')
  std::string restoreFile;        // restore: the backup to put back
  bool dryRun = false;            // restore: show the differences, write nothing
  std::string recordFile;         // every transfer with the meter is written here; empty: none
  std::string replayFile;         // the meter is played from this recording; empty: none
  std::vector<std::string> arguments;  // the command line as given, for a recording's header
};

struct ParseResult {
  std::optional<CliOptions> options;  // nothing: print `message` and exit
  std::string message;                // help, version, or the error with the usage line
  int exitCode = 0;                   // 0 for help and version, 2 for a usage error
  bool json = false;                  // --json was given: the error goes out as JSON too
  std::string error;                  // a usage error alone, without prefix and usage line
};

ParseResult ParseCommandLine(const std::vector<std::string>& arguments, Language language = Language::English);

// The faults --simulate=FAULT knows, with a line each for the help.
const std::vector<std::pair<std::string, Msg>>& SimulatedFaults();

// The four options as lu14 names them everywhere (status, JSON, the option
// command), in kMeterOptions order, and whether the option command may change them.
struct OptionName {
  const char* name;
  bool writable;
};
const std::vector<OptionName>& OptionNames();

}  // namespace lu14::cli
