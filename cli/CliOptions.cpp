#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <tuple>

#include "cli/os/SystemLanguage.h"
#include "update/FirmwarePayload.h"

#ifndef LU14_VERSION
#define LU14_VERSION "0.1.0"
#endif

namespace lu14::cli {
namespace {

struct CommandName {
  Command command;
  const char* name;
  Msg help;
};
constexpr std::array<CommandName, 7> kCommands{{
    {Command::Status, "status", Msg::StatusHelp},
    {Command::List, "list", Msg::ListHelp},
    {Command::Update, "update", Msg::UpdateHelp},
    {Command::Option, "option", Msg::OptionHelp},
    {Command::Checksum, "checksum", Msg::ChecksumHelp},
    {Command::Backup, "backup", Msg::BackupHelp},
    {Command::Restore, "restore", Msg::RestoreHelp},
}};

// Options that take a value, for the check that one follows.
constexpr std::array<const char*, 8> kValueOptions{"--wait",   "--device", "--latency-us", "--meters",
                                                   "--output", "--record", "--replay", "--fault-meter"};

constexpr int kMaxWaitSeconds = 3600;
constexpr int kMaxSimulatedMeters = 8;
constexpr long kMaxLatencyMicroseconds = 1'000'000;
constexpr int kListWaitSeconds = 0;

const CommandName* FindCommand(const std::string& name) {
  const auto found = std::find_if(kCommands.begin(), kCommands.end(), [&](const auto& c) { return name == c.name; });
  return found == kCommands.end() ? nullptr : &*found;
}

std::string Join(const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) joined += (joined.empty() ? "" : ", ") + word;
  return joined;
}

std::string CommandList() {
  std::vector<std::string> names;
  for (const auto& c : kCommands) names.emplace_back(c.name);
  return Join(names);
}

std::string FaultList() {
  std::vector<std::string> names;
  for (const auto& [name, meaning] : SimulatedFaults()) names.push_back(name);
  return Join(names);
}

std::string WritableOptionList() {
  std::vector<std::string> names;
  for (const OptionName& option : OptionNames()) {
    if (option.writable) names.emplace_back(option.name);
  }
  return Join(names);
}

// An argument as an error message quotes it: control characters shown as
// \xNN, so that an empty or blank argument is visible and none can drive
// the terminal.
std::string Quoted(const std::string& argument) {
  std::string quoted = "\"";
  for (const char c : argument) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// How many single-character edits (insert, delete, replace, swap of two
// neighbours) turn one word into the other.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// An unknown command, with the command it most likely stands for.
std::string UnknownCommand(Language language, const std::string& word) {
  const CommandName* nearest = nullptr;
  std::size_t best = 3;  // more than two edits away is no likely typo
  for (const CommandName& command : kCommands) {
    const std::size_t distance = EditDistance(word, command.name);
    if (distance < best) best = distance, nearest = &command;
  }
  const std::string unknown = Text(language, Msg::UnknownCommand, {Quoted(word), CommandList()});
  return nearest && !word.empty() ? unknown + "; " + Text(language, Msg::DidYouMean, {nearest->name}) : unknown;
}

// The options that belong to a command (update's and restore's -y, backup's
// --output ...), as they may stand before it: "lu14 -y update".
bool IsCommandOption(const std::string& argument) {
  constexpr std::array<std::string_view, 7> kCommandOptions{"-y",          "--yes",     "--force", "--no-backup",
                                                             "--ignore-battery", "--dry-run", "--output"};
  const std::string_view name = std::string_view(argument).substr(0, argument.find('='));
  return std::find(kCommandOptions.begin(), kCommandOptions.end(), name) != kCommandOptions.end();
}


// A whole decimal number in [low, high]: digits only, no sign, no exponent,
// no fraction, no unit, no base prefix.
std::optional<long> WholeNumber(const std::string& text, long low, long high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Help(Language language, Msg help) {
  std::string text = Text(language, help, {kFirmwareVersionText, Text(language, SystemLanguageRule())});
  if (help == Msg::MainHelp) {
    text += "\n" + Text(language, Msg::FaultsHeading);
    for (const auto& [name, meaning] : SimulatedFaults()) {
      text += "  " + name + std::string(name.size() < 22 ? 22 - name.size() : 1, ' ') + Text(language, meaning) + "\n";
    }
  }
  return text;
}

}  // namespace

const char* ToolVersion() { return LU14_VERSION; }

const std::vector<std::pair<std::string, Msg>>& SimulatedFaults() {
  static const std::vector<std::pair<std::string, Msg>> faults{
      {"no-meter", Msg::FaultNoMeter},
      {"low-battery", Msg::FaultLowBattery},
      {"incomplete-firmware", Msg::FaultIncompleteFirmware},
      {"up-to-date", Msg::FaultUpToDate},
      {"sum-mismatch", Msg::FaultSumMismatch},
      {"unplug-during-update", Msg::FaultUnplugDuringUpdate},
      {"wrong-checksum", Msg::FaultWrongChecksum},
      {"write-refused", Msg::FaultWriteRefused},
  };
  return faults;
}

const std::vector<OptionName>& OptionNames() {
  static const std::vector<OptionName> names{
      {"auto-save", false}, {"capacitance", true}, {"menu-swap", true}, {"modified-meter", false}};
  return names;
}

ParseResult ParseCommandLine(const std::vector<std::string>& arguments, Language language) {
  // Everything after the first "--" is an argument, never an option.
  const auto endOfOptions = std::find(arguments.begin(), arguments.end(), "--");
  std::vector<std::string> head(arguments.begin(), endOfOptions);
  std::vector<std::string> tail(endOfOptions == arguments.end() ? endOfOptions : endOfOptions + 1, arguments.end());
  const bool json = std::find(head.begin(), head.end(), "--json") != head.end();
  const auto usageError = [&](const std::string& message) {
    return ParseResult{std::nullopt, Text(language, Msg::ErrorPrefix) + message + "\n" + Text(language, Msg::UsageLine),
                       2, json, message};
  };

  // Help and version come before any check of the rest. "help [COMMAND]" as
  // the first word is the same as --help.
  bool helpWord = false;
  for (std::size_t i = 0; i < head.size(); ++i) {
    if (std::find(kValueOptions.begin(), kValueOptions.end(), head[i]) != kValueOptions.end()) {
      ++i;  // its value, not a word
    } else if (!head[i].starts_with("-")) {
      helpWord = head[i] == "help";
      break;
    }
  }
  for (const std::string& argument : head) {
    if (helpWord || argument == "--help" || argument == "-h") {
      const auto named = std::find_if(head.begin(), head.end(), [](const std::string& a) { return FindCommand(a); });
      return {std::nullopt, Help(language, named == head.end() ? Msg::MainHelp : FindCommand(*named)->help), 0, false,
              ""};
    }
    if (argument == "--version" || argument == "-V") {
      const std::string version = json ? nlohmann::json{{"version", ToolVersion()},
                                                        {"firmware", std::string(kFirmwareVersionText)}}
                                             .dump()
                                       : std::string("lu14 ") + ToolVersion();
      return {std::nullopt, version + "\n", 0, false, ""};
    }
  }
  for (std::size_t i = 0; i < head.size(); ++i) {
    // "--opt VALUE" is read as "--opt=VALUE", so that a value such as -5 is
    // checked as a number rather than taken for an option.
    const bool takesValue = std::find(kValueOptions.begin(), kValueOptions.end(), head[i]) != kValueOptions.end();
    // "--opt=" names no value (and the parser would take the next word for one).
    if (head[i].ends_with("=") && std::find(kValueOptions.begin(), kValueOptions.end(),
                                            head[i].substr(0, head[i].size() - 1)) != kValueOptions.end()) {
      return usageError(Text(language, Msg::NeedsValue, {head[i].substr(0, head[i].size() - 1)}));
    }
    if (takesValue) {
      if (i + 1 == head.size() || head[i + 1].starts_with("--")) {
        return usageError(Text(language, Msg::NeedsValue, {head[i]}));
      }
      head[i] += "=" + head[i + 1];
      head.erase(head.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      continue;
    }
    // --simulate's value is optional: "--simulate FAULT" when the next word names a fault.
    if (head[i] == "--simulate" && i + 1 < head.size()) {
      const auto& faults = SimulatedFaults();
      if (std::any_of(faults.begin(), faults.end(), [&](const auto& f) { return f.first == head[i + 1]; })) {
        head[i] += "=" + head[i + 1];
        head.erase(head.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      }
    }
  }
  // The parser drops an empty or blank argument: it is named here instead.
  const auto blank = std::find_if(head.begin(), head.end(), [](const std::string& a) {
    return std::all_of(a.begin(), a.end(), [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
  });
  if (blank != head.end()) {
    const bool afterCommand = std::any_of(head.begin(), blank, [](const std::string& a) { return FindCommand(a); });
    return usageError(afterCommand ? Text(language, Msg::UnexpectedArgument, {Quoted(*blank)})
                                   : UnknownCommand(language, *blank));
  }
  if (std::none_of(head.begin(), head.end(), [](const std::string& a) { return FindCommand(a); }) && !tail.empty() &&
      FindCommand(tail.front())) {
    head.push_back(tail.front());
    tail.erase(tail.begin());
  }
  // A command's own options given before it are read as given after it; a
  // command that has no such option says so then.
  const auto commandAt = std::find_if(head.begin(), head.end(), [](const std::string& a) { return FindCommand(a); });
  if (commandAt != head.end()) {
    std::vector<std::string> before(head.begin(), commandAt), after(commandAt + 1, head.end());
    std::vector<std::string> reordered;
    std::copy_if(before.begin(), before.end(), std::back_inserter(reordered), [](const auto& a) { return !IsCommandOption(a); });
    reordered.push_back(*commandAt);
    std::copy_if(before.begin(), before.end(), std::back_inserter(reordered), IsCommandOption);
    reordered.insert(reordered.end(), after.begin(), after.end());
    head = std::move(reordered);
  }

  CliOptions options;
  options.language = language;
  std::string simulate, wait, latency, meters, faultMeter, device, record, replay;
  bool quiet = false, verbose = false;
  std::vector<std::string> optionArguments;
  std::vector<std::string> restoreArguments;
  std::string output;

  CLI::App app("lu14", "lu14");
  app.set_help_flag();
  app.allow_extras();
  app.fallthrough();
  // The messages are the catalogue's: the library's own (English) never reach the user.
  app.add_flag("--simulate{healthy}", simulate);
  app.add_option("--wait", wait);
  app.add_option("--latency-us", latency);
  app.add_option("--meters", meters);
  app.add_option("--fault-meter", faultMeter);
  app.add_option("--device", device);
  app.add_option("--record", record);
  app.add_option("--replay", replay);
  app.add_flag("--json", options.json);
  // update's, but read anywhere so that any other command is told it is update's.
  app.add_flag("--all", options.all);
  app.add_flag("-q,--quiet", quiet);
  app.add_flag("-v,--verbose", verbose);
  std::vector<std::pair<CLI::App*, const CommandName*>> subcommands;
  for (const CommandName& command : kCommands) {
    CLI::App* sub = app.add_subcommand(command.name);
    sub->set_help_flag();
    sub->allow_extras();
    subcommands.emplace_back(sub, &command);
    if (command.command == Command::Update) {
      sub->add_flag("-y,--yes", options.yes);
      sub->add_flag("--force", options.force);
      sub->add_flag("--no-backup", options.noBackup);
      sub->add_flag("--ignore-battery", options.ignoreBattery);
    }
    if (command.command == Command::Option) sub->add_option("arguments", optionArguments);
    if (command.command == Command::Backup) sub->add_option("--output", output);
    if (command.command == Command::Restore) {
      sub->add_flag("-y,--yes", options.yes);
      sub->add_flag("--force", options.force);
      sub->add_flag("--dry-run", options.dryRun);
      sub->add_option("file", restoreArguments);
    }
  }
  app.require_subcommand(0, 1);

  try {
    std::vector<std::string> reversed(head.rbegin(), head.rend());
    try {
      app.parse(reversed);
    } catch (const CLI::ParseError& failure) {
      throw UsageError(Text(language, Msg::CommandLineUnreadable, {failure.what()}));
    }
    const CommandName* chosen = nullptr;
    CLI::App* chosenApp = nullptr;
    for (const auto& [sub, command] : subcommands) {
      if (sub->parsed()) chosen = command, chosenApp = sub;
    }
    std::vector<std::string> extras = app.remaining();
    if (chosenApp) {
      const auto own = chosenApp->remaining();
      extras.insert(extras.begin(), own.begin(), own.end());
    }
    for (const std::string& extra : extras) {
      if (extra.size() > 1 && extra.starts_with("-")) {
        throw UsageError(Text(language, Msg::UnknownOption, {Quoted(extra)}) +
                         (chosen ? "; " + Text(language, Msg::SeeHelp, {chosen->name}) : ""));
      }
      if (!chosen) throw UsageError(UnknownCommand(language, extra));
      throw UsageError(Text(language, Msg::UnexpectedArgument, {Quoted(extra)}));
    }
    if (!chosen) throw UsageError(Text(language, Msg::NoCommand, {CommandList()}));
    options.command = chosen->command;
    std::vector<std::string>& positional = options.command == Command::Restore ? restoreArguments : optionArguments;
    positional.insert(positional.end(), tail.begin(), tail.end());
    if (options.command != Command::Option && !optionArguments.empty()) {
      throw UsageError(Text(language, Msg::UnexpectedArgument, {Quoted(optionArguments.front())}));
    }
    if (options.command == Command::Restore) {
      if (restoreArguments.empty()) throw UsageError(Text(language, Msg::RestoreNeedsFile));
      if (restoreArguments.size() > 1) {
        throw UsageError(Text(language, Msg::UnexpectedArgument, {Quoted(restoreArguments[1])}));
      }
      options.restoreFile = restoreArguments.front();
    }
    if (options.command == Command::Backup && chosenApp->count("--output")) {
      if (output.empty()) throw UsageError(Text(language, Msg::NeedsValue, {"--output"}));
      if (output == "-" && options.json) throw UsageError(Text(language, Msg::OutputDashWithJson));
      options.outputFile = output;
    }

    const auto number = [&](const char* name, const std::string& text, long low, long high) {
      const std::optional<long> value = WholeNumber(text, low, high);
      if (!value) {
        throw UsageError(Text(language, Msg::BadNumber,
                              {name, Quoted(text), std::to_string(low), std::to_string(high)}));
      }
      return *value;
    };
    if (app.count("--wait")) {
      options.waitSeconds = static_cast<int>(number("--wait", wait, 0, kMaxWaitSeconds));
    } else if (options.command == Command::List) {
      options.waitSeconds = kListWaitSeconds;
    }
    options.simulate = app.count("--simulate") > 0;
    if (options.simulate && simulate != "healthy") {
      const auto& faults = SimulatedFaults();
      if (std::none_of(faults.begin(), faults.end(), [&](const auto& f) { return f.first == simulate; }) &&
          !simulate.empty()) {
        throw UsageError(Text(language, Msg::UnknownFault, {Quoted(simulate), FaultList()}));
      }
      options.simulatedFault = simulate;
    }
    for (const char* simulationOnly : {"--meters", "--latency-us", "--fault-meter"}) {
      if (app.count(simulationOnly) && !options.simulate) {
        throw UsageError(Text(language, Msg::SimulationOnly, {simulationOnly}));
      }
    }
    if (app.count("--meters")) options.simulatedMeters = static_cast<int>(number("--meters", meters, 1, kMaxSimulatedMeters));
    if (app.count("--fault-meter")) {
      if (options.simulatedFault.empty()) throw UsageError(Text(language, Msg::FaultMeterNeedsFault));
      options.faultMeter = static_cast<int>(number("--fault-meter", faultMeter, 1, options.simulatedMeters));
    }
    if (app.count("--latency-us")) options.latencyMicroseconds = number("--latency-us", latency, 0, kMaxLatencyMicroseconds);
    if (app.count("--device")) {
      if (device.empty()) throw UsageError(Text(language, Msg::NeedsValue, {"--device"}));
      options.device = device;
    }
    for (const auto& [name, value, target] : {std::tuple{"--record", &record, &options.recordFile},
                                               std::tuple{"--replay", &replay, &options.replayFile}}) {
      if (!app.count(name)) continue;
      if (value->empty()) throw UsageError(Text(language, Msg::NeedsValue, {name}));
      *target = *value;
    }
    if (!options.replayFile.empty() && options.simulate) throw UsageError(Text(language, Msg::ReplayWithSimulate));
    if (options.all) {
      if (options.command != Command::Update) throw UsageError(Text(language, Msg::AllOnlyWithUpdate));
      if (!options.device.empty()) throw UsageError(Text(language, Msg::AllWithDevice));
      if (!options.recordFile.empty() || !options.replayFile.empty()) {
        throw UsageError(Text(language, Msg::AllWithRecording));
      }
    }
    options.verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;

    if (options.command == Command::Option) {
      if (optionArguments.size() != 2) {
        throw UsageError(Text(language, Msg::OptionNeedsNameAndValue, {WritableOptionList()}));
      }
      const std::string& name = optionArguments[0];
      const auto& names = OptionNames();
      const auto known = std::find_if(names.begin(), names.end(), [&](const OptionName& o) { return name == o.name; });
      if (known == names.end()) {
        throw UsageError(Text(language, Msg::UnknownOptionName, {Quoted(name), WritableOptionList()}));
      }
      if (!known->writable) throw UsageError(Text(language, Msg::OptionReadOnly, {name, WritableOptionList()}));
      if (optionArguments[1] != "on" && optionArguments[1] != "off") {
        throw UsageError(Text(language, Msg::BadOnOff, {Quoted(optionArguments[1])}));
      }
      options.optionName = name;
      options.optionOn = optionArguments[1] == "on";
    }
  } catch (const UsageError& error) {
    return usageError(error.what());
  }
  options.arguments = arguments;
  return {options, "", 0, options.json, ""};
}

}  // namespace lu14::cli
