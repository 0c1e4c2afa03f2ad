// lu14 option NAME on|off: one of the meter's writable options changed, and
// read back to confirm it.
#include <algorithm>

#include "cli/CliSession.h"
#include "cli/CommandLineText.h"
#include "cli/commands/Command.h"
#include "cli/output/JsonText.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

std::string WritableOptionList() {
  std::vector<std::string> names;
  for (const OptionName& option : OptionNames()) {
    if (option.writable) names.emplace_back(option.name);
  }
  return Join(names);
}

void Declare(CLI::App& command, CliOptions&, std::vector<std::string>& words) {
  command.add_option("arguments", words);
}

// The option's name and value: exactly two words, a writable option and on or off.
void Finish(CliOptions& options, std::vector<std::string>& words) {
  const Language language = options.language;
  if (words.size() != 2) throw UsageError(Text(language, Msg::OptionNeedsNameAndValue, {WritableOptionList()}));
  const std::string& name = words[0];
  const auto& names = OptionNames();
  const auto known = std::find_if(names.begin(), names.end(), [&](const OptionName& o) { return name == o.name; });
  if (known == names.end()) {
    throw UsageError(Text(language, Msg::UnknownOptionName, {Quoted(name), WritableOptionList()}));
  }
  if (!known->writable) throw UsageError(Text(language, Msg::OptionReadOnly, {name, WritableOptionList()}));
  if (words[1] != "on" && words[1] != "off") throw UsageError(Text(language, Msg::BadOnOff, {Quoted(words[1])}));
  options.optionName = name;
  options.optionOn = words[1] == "on";
}

int Option(CliSession& session) {
  if (const auto refused = session.ChooseMeter()) return *refused;
  const CliOptions& options = session.Options();
  const auto& names = OptionNames();
  const auto index = static_cast<std::size_t>(
      std::find_if(names.begin(), names.end(), [&](const OptionName& o) { return options.optionName == o.name; }) -
      names.begin());
  const MeterOption box = kMeterOptions.at(index);
  const OptionWriteOutcome outcome = session.Meter().Options.WriteAndConfirm(box, options.optionOn);
  const std::string value = session.Say(outcome.readBack ? (*outcome.readBack ? Msg::On : Msg::Off) : Msg::Unknown);
  json result{{"option", options.optionName},
              {"requested", options.optionOn},
              {"value", OptionalBool(outcome.readBack)},
              {"confirmed", outcome.written},
              {"ok", outcome.Succeeded()}};
  if (!outcome.Succeeded()) {
    // A failure carries what every failure in JSON carries.
    session.Error(session.Say(Msg::OptionNotTaken, {options.optionName, value}) +
                  (outcome.written ? "" : session.Say(Msg::OptionWriteNotConfirmed)));
    result.update(JsonError(kExitFailed, session.LastError()));
    session.JsonResult(result);
    return kExitFailed;
  }
  session.JsonResult(result);
  session.Result(options.optionName + ' ' + value);
  return kExitOk;
}

}  // namespace

CommandSpec OptionCommand() {
  return {.command = Command::Option,
          .name = "option",
          .help = Msg::OptionHelp,
          .declare = Declare,
          .finish = Finish,
          .run = Option,
          .writes = [](const CliOptions&) { return true; }};
}

}  // namespace lu14::cli
