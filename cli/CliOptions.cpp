#include "cli/CliOptions.h"


#ifndef LU14_VERSION
#define LU14_VERSION "0.1.0"
#endif

namespace lu14::cli {

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

}  // namespace lu14::cli
