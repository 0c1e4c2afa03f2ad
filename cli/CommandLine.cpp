// lu14's command line read with CLI11: the global options here, each
// command's own in its file (cli/commands/), validators for what one value
// must be, and the checks that need the whole line after the parse. Every
// message is the catalogue's, in the run's language.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <iterator>
#include <tuple>

#include "cli/CliOptions.h"
#include "cli/CommandLineText.h"
#include "cli/commands/Command.h"
#include "cli/os/SystemLanguage.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {

constexpr int kMaxWaitSeconds = 3600;
constexpr int kMaxSimulatedMeters = 32;
constexpr long kMaxLatencyMicroseconds = 1'000'000;

std::string CommandList() {
  std::vector<std::string> names;
  for (const CommandSpec& c : Commands()) names.emplace_back(c.name);
  return Join(names);
}

std::string FaultList() {
  std::vector<std::string> names;
  for (const auto& [name, meaning] : SimulatedFaults()) names.push_back(name);
  return Join(names);
}

bool IsFault(const std::string& name) {
  const auto& faults = SimulatedFaults();
  return std::any_of(faults.begin(), faults.end(), [&](const auto& f) { return f.first == name; });
}

bool IsBlank(const std::string& argument) {
  return std::all_of(argument.begin(), argument.end(), [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

// An unknown command, with the command it most likely stands for.
std::string UnknownCommand(Language language, const std::string& word) {
  std::vector<std::string> names;
  for (const CommandSpec& c : Commands()) names.emplace_back(c.name);
  const std::string unknown = Text(language, Msg::UnknownCommand, {Quoted(word), CommandList()});
  const std::string nearest = Nearest(word, names);
  return nearest.empty() ? unknown : unknown + "; " + Text(language, Msg::DidYouMean, {nearest});
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

UsageError BadNumber(Language language, const std::string& name, const std::string& text, long low, long high) {
  return UsageError(Text(language, Msg::BadNumber, {name, Quoted(text), std::to_string(low), std::to_string(high)}));
}

// The validators: each refuses a value in the catalogue's words. Thrown, the
// refusal passes through the parser as it is (it catches only its own kind).
CLI::Validator WholeNumberIn(Language language, std::string name, long low, long high) {
  return CLI::Validator(
      [=](std::string& text) {
        if (!WholeNumber(text, low, high)) throw BadNumber(language, name, text, low, high);
        return std::string();
      },
      "");
}

CLI::Validator FaultName(Language language) {
  return CLI::Validator(
      [=](std::string& name) {
        // "--simulate" alone (or "--simulate=") is the healthy meter.
        if (!name.empty() && name != "healthy" && !IsFault(name)) {
          throw UsageError(Text(language, Msg::UnknownFault, {Quoted(name), FaultList()}));
        }
        return std::string();
      },
      "");
}

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

std::string VersionText(bool json) {
  if (!json) return std::string("lu14 ") + ToolVersion() + "\n";
  return nlohmann::json{{"version", ToolVersion()}, {"firmware", std::string(kFirmwareVersionText)}}.dump() + "\n";
}

// Everything lu14 understands, bound to where the parse puts it: the global
// options, and a subcommand for each command with its own options.
struct Grammar {
  explicit Grammar(Language language) : app("lu14", "lu14") {
    options.language = language;
    app.set_help_flag();
    app.allow_extras();
    app.fallthrough();
    app.add_flag("--simulate{healthy}", simulate)->check(FaultName(language));
    app.add_option("--wait", options.waitSeconds)->check(WholeNumberIn(language, "--wait", 0, kMaxWaitSeconds));
    app.add_option("--latency-us", options.latencyMicroseconds)
        ->check(WholeNumberIn(language, "--latency-us", 0, kMaxLatencyMicroseconds));
    app.add_option("--meters", options.simulatedMeters)
        ->check(WholeNumberIn(language, "--meters", 1, kMaxSimulatedMeters));
    // Its range depends on --meters: checked after the parse.
    app.add_option("--fault-meter", faultMeter);
    app.add_option("--device", options.device)->check(NonEmpty(language, "--device"));
    app.add_option("--record", options.recordFile)->check(NonEmpty(language, "--record"));
    app.add_option("--replay", options.replayFile)->check(NonEmpty(language, "--replay"));
    app.add_flag("--json", options.json);
    // update's, but read anywhere so that any other command is told it is update's.
    app.add_flag("--all", options.all);
    app.add_flag("-q,--quiet", quiet);
    app.add_flag("-v,--verbose", verbose);
    for (const CommandSpec& command : Commands()) {
      CLI::App* sub = app.add_subcommand(command.name);
      sub->set_help_flag();
      sub->allow_extras();
      if (command.declare) command.declare(*sub, options, words);
    }
    // One command a run: a second command word is an argument of the first.
    app.require_subcommand(0, 1);
  }

  // The option of this name ("--wait", "-y"), global or a command's; null if none.
  const CLI::Option* Find(const std::string& name) const {
    if (const CLI::Option* global = app.get_option_no_throw(name)) return global;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
      if (const CLI::Option* own = sub->get_option_no_throw(name)) return own;
    }
    return nullptr;
  }
  bool TakesValue(const std::string& name) const {
    const CLI::Option* option = name.starts_with("-") ? Find(name) : nullptr;
    return option && option->get_expected_min() > 0;
  }
  // A command's own option, which may stand before the command: "lu14 -y update".
  bool IsCommandOption(const std::string& argument) const {
    const std::string name = argument.substr(0, argument.find('='));
    return name.starts_with("-") && !app.get_option_no_throw(name) && Find(name);
  }
  // Every option's names, the global ones and those of `command`.
  std::vector<std::string> OptionNamesOf(const CLI::App* command) const {
    std::vector<std::string> names;
    for (const CLI::App* owner : {static_cast<const CLI::App*>(&app), command}) {
      if (!owner) continue;
      for (const CLI::Option* option : owner->get_options()) {
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
      }
    }
    return names;
  }

  CLI::App app;
  CliOptions options;
  std::vector<std::string> words;  // a command's plain words
  std::string simulate, faultMeter;
  bool quiet = false, verbose = false;
};

// "help [COMMAND]" as the first word, --help, -h, --version and -V are
// answered before anything else is checked.
std::optional<ParseResult> HelpOrVersion(const Grammar& grammar, const std::vector<std::string>& head, Language language,
                                         bool json) {
  bool helpWord = false;
  for (std::size_t i = 0; i < head.size(); ++i) {
    if (grammar.TakesValue(head[i])) {
      ++i;  // its value, not a word
    } else if (!head[i].starts_with("-")) {
      helpWord = head[i] == "help";
      break;
    }
  }
  for (const std::string& argument : head) {
    if (helpWord || argument == "--help" || argument == "-h") {
      const auto named = std::find_if(head.begin(), head.end(), [](const std::string& a) { return FindCommand(a); });
      return ParseResult{std::nullopt, Help(language, named == head.end() ? Msg::MainHelp : FindCommand(*named)->help),
                         0, false, ""};
    }
    if (argument == "--version" || argument == "-V") return ParseResult{std::nullopt, VersionText(json), 0, false, ""};
  }
  return std::nullopt;
}

// The words as the parser reads them: "--opt VALUE" joined into "--opt=VALUE"
// (so that a value such as -5 is checked as a number rather than taken for an
// option), "--simulate FAULT" when the next word names a fault, a command
// given only after "--" taken from there, and a command's own options given
// before it moved after it.
std::vector<std::string> Arranged(const Grammar& grammar, std::vector<std::string> head, std::vector<std::string>& tail,
                                  Language language) {
  for (std::size_t i = 0; i < head.size(); ++i) {
    const std::string& word = head[i];
    // "--opt=" names no value (and the parser would take the next word for one).
    if (word.ends_with("=") && grammar.TakesValue(word.substr(0, word.size() - 1))) {
      throw UsageError(Text(language, Msg::NeedsValue, {word.substr(0, word.size() - 1)}));
    }
    const bool takesValue = grammar.TakesValue(word);
    if (takesValue && (i + 1 == head.size() || head[i + 1].starts_with("--"))) {
      throw UsageError(Text(language, Msg::NeedsValue, {word}));
    }
    if (takesValue || (word == "--simulate" && i + 1 < head.size() && IsFault(head[i + 1]))) {
      head[i] += "=" + head[i + 1];
      head.erase(head.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
  }
  // The parser drops an empty or blank argument: it is named here instead.
  const auto blank = std::find_if(head.begin(), head.end(), IsBlank);
  if (blank != head.end()) {
    const bool afterCommand = std::any_of(head.begin(), blank, [](const std::string& a) { return FindCommand(a); });
    throw UsageError(afterCommand ? Text(language, Msg::UnexpectedArgument, {Quoted(*blank)})
                                  : UnknownCommand(language, *blank));
  }
  const auto isCommand = [](const std::string& a) { return FindCommand(a) != nullptr; };
  if (std::none_of(head.begin(), head.end(), isCommand) && !tail.empty() && FindCommand(tail.front())) {
    head.push_back(tail.front());
    tail.erase(tail.begin());
  }
  const auto commandAt = std::find_if(head.begin(), head.end(), isCommand);
  if (commandAt == head.end()) return head;
  const auto own = [&](const std::string& a) { return grammar.IsCommandOption(a); };
  std::vector<std::string> arranged;
  std::copy_if(head.begin(), commandAt, std::back_inserter(arranged), [&](const auto& a) { return !own(a); });
  arranged.push_back(*commandAt);
  std::copy_if(head.begin(), commandAt, std::back_inserter(arranged), own);
  arranged.insert(arranged.end(), commandAt + 1, head.end());
  return arranged;
}

// A flag given a value the parser cannot take ("--json=x"), named.
UsageError FlagValueError(const Grammar& grammar, const std::vector<std::string>& head, Language language) {
  for (const std::string& word : head) {
    const std::size_t equals = word.find('=');
    if (equals == std::string::npos || grammar.TakesValue(word.substr(0, equals))) continue;
    if (grammar.Find(word.substr(0, equals))) {
      return UsageError(Text(language, Msg::FlagTakesNoValue, {word.substr(0, equals), Quoted(word.substr(equals + 1))}));
    }
  }
  std::vector<std::string> quoted;
  for (const std::string& word : head) quoted.push_back(Quoted(word));
  return UsageError(Text(language, Msg::CommandLineUnreadable, {Join(quoted)}));
}

// The words the parser left: an unknown option (with the nearest known one),
// an unknown command, or a word no command takes.
void RefuseLeftovers(const Grammar& grammar, const CLI::App* chosenApp, const CommandSpec* chosen, Language language) {
  std::vector<std::string> extras = grammar.app.remaining();
  if (chosenApp) {
    const auto own = chosenApp->remaining();
    extras.insert(extras.begin(), own.begin(), own.end());
  }
  for (const std::string& extra : extras) {
    if (extra.size() > 1 && extra.starts_with("-")) {
      std::string message = Text(language, Msg::UnknownOption, {Quoted(extra)});
      const std::string nearest = Nearest(extra.substr(0, extra.find('=')), grammar.OptionNamesOf(chosenApp));
      if (!nearest.empty()) message += "; " + Text(language, Msg::DidYouMean, {nearest});
      if (chosen) message += "; " + Text(language, Msg::SeeHelp, {chosen->name});
      throw UsageError(message);
    }
    if (!chosen) throw UsageError(UnknownCommand(language, extra));
    throw UsageError(Text(language, Msg::UnexpectedArgument, {Quoted(extra)}));
  }
  if (!chosen) throw UsageError(Text(language, Msg::NoCommand, {CommandList()}));
}

// What needs the whole line: options that go only with others.
void CheckCombinations(Grammar& grammar, const CommandSpec& command) {
  CliOptions& options = grammar.options;
  const Language language = options.language;
  const CLI::App& app = grammar.app;
  if (!app.count("--wait")) options.waitSeconds = command.defaultWaitSeconds;
  options.simulate = app.count("--simulate") > 0;
  if (options.simulate && grammar.simulate != "healthy") options.simulatedFault = grammar.simulate;
  for (const char* simulationOnly : {"--meters", "--latency-us", "--fault-meter"}) {
    if (app.count(simulationOnly) && !options.simulate) {
      throw UsageError(Text(language, Msg::SimulationOnly, {simulationOnly}));
    }
  }
  if (app.count("--fault-meter")) {
    if (options.simulatedFault.empty()) throw UsageError(Text(language, Msg::FaultMeterNeedsFault));
    const std::optional<long> meter = WholeNumber(grammar.faultMeter, 1, options.simulatedMeters);
    if (!meter) throw BadNumber(language, "--fault-meter", grammar.faultMeter, 1, options.simulatedMeters);
    options.faultMeter = static_cast<int>(*meter);
  }
  if (!options.replayFile.empty() && options.simulate) throw UsageError(Text(language, Msg::ReplayWithSimulate));
  if (options.recordFile == "-") throw UsageError(Text(language, Msg::RecordToOutput));
  if (options.all) {
    if (options.command != Command::Update) throw UsageError(Text(language, Msg::AllOnlyWithUpdate));
    if (!options.device.empty()) throw UsageError(Text(language, Msg::AllWithDevice));
    if (!options.recordFile.empty() || !options.replayFile.empty()) {
      throw UsageError(Text(language, Msg::AllWithRecording));
    }
  }
  options.verbosity = grammar.quiet ? Verbosity::Quiet : grammar.verbose ? Verbosity::Verbose : Verbosity::Normal;
}

}  // namespace

CLI::Validator NonEmpty(Language language, std::string name) {
  return CLI::Validator(
      [=](std::string& text) {
        if (text.empty()) throw UsageError(Text(language, Msg::NeedsValue, {name}));
        return std::string();
      },
      "");
}

ParseResult ParseCommandLine(const std::vector<std::string>& arguments, Language language) {
  // Everything after the first "--" is an argument, never an option.
  const auto endOfOptions = std::find(arguments.begin(), arguments.end(), "--");
  const std::vector<std::string> head(arguments.begin(), endOfOptions);
  std::vector<std::string> tail(endOfOptions == arguments.end() ? endOfOptions : endOfOptions + 1, arguments.end());
  const bool json = std::find(head.begin(), head.end(), "--json") != head.end();

  Grammar grammar(language);
  if (std::optional<ParseResult> answered = HelpOrVersion(grammar, head, language, json)) return *answered;
  try {
    const std::vector<std::string> arranged = Arranged(grammar, head, tail, language);
    std::vector<std::string> reversed(arranged.rbegin(), arranged.rend());  // as the parser takes them
    try {
      grammar.app.parse(reversed);
    } catch (const CLI::ParseError&) {
      throw FlagValueError(grammar, arranged, language);
    }
    const CommandSpec* chosen = nullptr;
    const CLI::App* chosenApp = nullptr;
    for (const CommandSpec& command : Commands()) {
      const CLI::App* sub = grammar.app.get_subcommand(command.name);
      if (sub->parsed()) chosen = &command, chosenApp = sub;
    }
    RefuseLeftovers(grammar, chosenApp, chosen, language);
    CliOptions& options = grammar.options;
    options.command = chosen->command;
    grammar.words.insert(grammar.words.end(), tail.begin(), tail.end());
    if (chosen->finish) {
      chosen->finish(options, grammar.words);
    } else if (!grammar.words.empty()) {
      throw UsageError(Text(language, Msg::UnexpectedArgument, {Quoted(grammar.words.front())}));
    }
    CheckCombinations(grammar, *chosen);
  } catch (const UsageError& error) {
    return ParseResult{std::nullopt,
                       Text(language, Msg::ErrorPrefix) + error.what() + "\n" + Text(language, Msg::UsageLine), 2, json,
                       error.what()};
  }
  grammar.options.arguments = arguments;
  return {grammar.options, "", 0, grammar.options.json, ""};
}

}  // namespace lu14::cli
