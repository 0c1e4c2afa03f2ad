// lu14 status: the meter's identity, firmware, battery and options.
#include <algorithm>
#include <cmath>

#include "cli/CliSession.h"
#include "cli/commands/Command.h"
#include "cli/output/JsonText.h"
#include "cli/output/TerminalText.h"
#include "device/MeterProtocol.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

int Status(CliSession& session) {
  if (const auto refused = session.ChooseMeter()) return *refused;
  const std::optional<MeterStatus> status = session.ReadStatus();
  if (!status) {
    session.Error(session.Say(Msg::NoStatusAnswer));
    return kExitFailed;
  }
  const bool asJson = session.Options().json;
  // Meter bytes: escaped for the terminal; in JSON the library and JsonLine escape them.
  const std::string identity = MeterText(status->identity, asJson);
  const std::string version = MeterText(*status->versionText, asJson);
  const int flag = status->firmwareFlag.value_or(0);
  const bool complete = status->firmwareFlag == kFirmwareComplete;
  const std::optional<double> volts = status->batteryVolts;
  const bool low = volts && IsBatteryLow(*volts);
  const auto& names = OptionNames();
  if (asJson) {
    json optionValues = json::object();
    for (std::size_t i = 0; i < kMeterOptions.size(); ++i) optionValues[names[i].name] = OptionalBool(status->options[i]);
    session.JsonResult({{"id", session.MeterId()},
                        {"identity", identity},
                        {"firmware", {{"version", version}, {"complete", complete}, {"flag", flag}}},
                        {"battery", {{"volts", volts ? json(std::round(*volts * 1000) / 1000) : json(nullptr)}, {"low", low}}},
                        {"options", optionValues}});
    return kExitOk;
  }
  const Msg labels[] = {Msg::LabelIdentity, Msg::LabelFirmware, Msg::LabelBattery, Msg::LabelOption};
  std::size_t width = 0;
  for (const Msg label : labels) width = std::max(width, Columns(session.Say(label)));
  const auto line = [&](Msg label, const std::string& value) {
    const std::string text = session.Say(label);
    session.Result(text + std::string(width + 3 - Columns(text), ' ') + value);
  };
  line(Msg::LabelIdentity, identity);
  line(Msg::LabelFirmware, version + ' ' + session.Say(complete ? Msg::Complete : Msg::IncompleteRunUpdate));
  line(Msg::LabelBattery, volts ? Fixed(*volts, 3) + ' ' + session.Say(Msg::Volts) +
                                      (low ? ' ' + session.Say(Msg::BatteryLowCharge) : "")
                                : session.Say(Msg::Unknown));
  for (std::size_t i = 0; i < kMeterOptions.size(); ++i) {
    const std::optional<bool>& value = status->options[i];
    line(Msg::LabelOption,
         std::string(names[i].name) + ' ' + session.Say(value ? (*value ? Msg::On : Msg::Off) : Msg::Unknown));
  }
  return kExitOk;
}

}  // namespace

CommandSpec StatusCommand() { return {.command = Command::Status, .name = "status", .help = Msg::StatusHelp, .run = Status}; }

}  // namespace lu14::cli
