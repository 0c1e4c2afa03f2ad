#include "app/cli/CliOptions.h"

#include <algorithm>

namespace lu14::cli {
namespace {

const char* const kUsage =
    "usage: lu14 [--simulate[=FAULT]] [--wait SECONDS] COMMAND [ARGS]\n"
    "\n"
    "Updates the firmware of the LU-14 tweezers meter, shows its state and\n"
    "changes its options. Commands:\n"
    "  status [--json]         the meter's identity, firmware, battery and options\n"
    "  update                  save the meter's settings, then write the carried firmware\n"
    "  option NAME on|off      NAME: capacitance (voltage change with capacitance >1uF)\n"
    "                                menu-swap (swap the actions in the menu)\n"
    "  checksum                the firmware checksum the meter reports\n"
    "\n"
    "Options:\n"
    "  --simulate[=FAULT]      use the built-in simulated meter instead of hardware\n"
    "  --wait SECONDS          how long to wait for a meter (default 10)\n"
    "  --latency-us N          with --simulate: each transfer takes N microseconds\n"
    "  --help                  this text; COMMAND --help for a command's own\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  failed (the meter did not confirm what was asked)\n"
    "  2  usage error\n"
    "  3  no meter found\n"
    "  4  refused by a safety check (low battery, no settings backup, placeholder firmware)\n"
    "  5  interrupted (a signal stopped the update between two chunks)\n";

const char* CommandHelp(Command command) {
  switch (command) {
    case Command::Status:
      return "usage: lu14 status [--json]\n"
             "Waits for a meter, reads it once as the window's status poll does, and\n"
             "prints its identity, firmware version and whether it is complete, the\n"
             "battery voltage and warning, and the four option bytes. --json prints\n"
             "one JSON object instead.\n";
    case Command::Update:
      return "usage: lu14 update [--no-backup] [--ignore-battery]\n"
             "Saves the meter's EEPROM to Documents/lu14 (never replacing an earlier\n"
             "backup), marks the firmware as being updated, streams the carried image,\n"
             "writes the version and checks the checksum. Exits 0 only when the meter\n"
             "confirmed everything.\n"
             "It refuses (exit 4) when the settings cannot be saved in the Documents\n"
             "folder, when the meter's battery is low, and when this build carries the\n"
             "placeholder image instead of the meter's firmware (allowed for --simulate,\n"
             "or with LU14_ALLOW_PLACEHOLDER_FIRMWARE=1 in the environment).\n"
             "  --no-backup       update even when no settings backup can be saved\n"
             "  --ignore-battery  update even with a low battery\n"
             "Ctrl-C (or SIGTERM, SIGHUP) never cuts a chunk: the first one only warns,\n"
             "a second stops between two chunks and exits 5, leaving the meter marked\n"
             "incomplete until an update completes.\n";
    case Command::Option:
      return "usage: lu14 option capacitance|menu-swap on|off\n"
             "Writes one of the two option bytes a user may change.\n";
    case Command::Checksum:
      return "usage: lu14 checksum\n"
             "Prints the firmware checksum the meter reports (decimal and hex).\n";
  }
  return kUsage;
}

ParseResult Usage(const std::string& error) { return {std::nullopt, error + "\n" + kUsage, 2}; }

}  // namespace

const std::vector<std::pair<std::string, std::string>>& SimulatedFaults() {
  static const std::vector<std::pair<std::string, std::string>> faults{
      {"no-meter", "no meter is attached"},
      {"low-battery", "the battery reads 1.2 V"},
      {"incomplete-firmware", "the meter was left in the middle of an update"},
      {"sum-mismatch", "the meter's sum of chunk 1000 is wrong: the update stops"},
      {"unplug-during-update", "the meter is pulled out while the image streams"},
      {"wrong-checksum", "the meter reports a checksum that does not match"},
      {"write-refused", "the meter never confirms an EEPROM write"},
  };
  return faults;
}

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
  CliOptions options;
  std::optional<Command> command;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      std::string help = command ? CommandHelp(*command) : kUsage;
      if (!command) {
        help += "\nSimulated faults (--simulate=FAULT):\n";
        for (const auto& [name, meaning] : SimulatedFaults()) help += "  " + name + std::string(22 - name.size(), ' ') + meaning + "\n";
      }
      return {std::nullopt, help, 0};
    }
    if (argument == "--json") {
      options.json = true;
    } else if (argument == "--no-backup") {
      options.noBackup = true;
    } else if (argument == "--ignore-battery") {
      options.ignoreBattery = true;
    } else if (argument == "--simulate") {
      options.simulate = true;
    } else if (argument.starts_with("--simulate=")) {
      options.simulate = true;
      options.simulatedFault = argument.substr(11);
      const auto& faults = SimulatedFaults();
      if (std::none_of(faults.begin(), faults.end(), [&](const auto& f) { return f.first == options.simulatedFault; })) {
        return Usage("unknown simulated fault: " + options.simulatedFault);
      }
    } else if (argument == "--wait" && i + 1 < arguments.size()) {
      try {
        options.waitSeconds = std::stoi(arguments[++i]);
      } catch (const std::exception&) {
        return Usage("--wait needs a number of seconds");
      }
    } else if (argument == "--latency-us" && i + 1 < arguments.size()) {
      try {
        options.latencyMicroseconds = std::stol(arguments[++i]);
      } catch (const std::exception&) {
        return Usage("--latency-us needs a number of microseconds");
      }
    } else if (argument.starts_with("--")) {
      return Usage("unknown option: " + argument);
    } else if (!command) {
      if (argument == "status") command = Command::Status;
      else if (argument == "update") command = Command::Update;
      else if (argument == "option") command = Command::Option;
      else if (argument == "checksum") command = Command::Checksum;
      else return Usage("unknown command: " + argument);
    } else {
      positional.push_back(argument);
    }
  }
  if (!command) return Usage("no command given");
  options.command = *command;
  if (options.json && options.command != Command::Status) return Usage("--json belongs to status");
  if ((options.noBackup || options.ignoreBattery) && options.command != Command::Update) {
    return Usage("--no-backup and --ignore-battery belong to update");
  }
  if (options.command == Command::Option) {
    if (positional.size() != 2 || (positional[0] != "capacitance" && positional[0] != "menu-swap") ||
        (positional[1] != "on" && positional[1] != "off")) {
      return Usage("option needs capacitance|menu-swap and on|off");
    }
    options.optionName = positional[0];
    options.optionOn = positional[1] == "on";
  } else if (!positional.empty()) {
    return Usage("unexpected argument: " + positional[0]);
  }
  return {options, "", 0};
}

}  // namespace lu14::cli
