// lu14 list: every attached meter, its id, identity and firmware.
#include "cli/CliSession.h"
#include "cli/commands/Command.h"
#include "cli/output/TerminalText.h"
#include "device/MeterProtocol.h"
#include "ports/Utf.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

// A meter that does not answer its status at once is listed unreadable.
constexpr std::chrono::seconds kListPatience{3};

int List(CliSession& session) {
  json listed = json::array();
  const CliOptions& options = session.Options();
  // No meter attached is an answer, the empty list: a script asks and goes on.
  if (!session.WaitForMeter(/*noneIsAnAnswer=*/true)) {
    if (session.Interrupted()) return kExitInterrupted;
    if (!options.device.empty()) return kExitNoMeter;
    session.Notice(session.Say(Msg::ListNoMeter));
    session.JsonResult({{"meters", listed}});
    return kExitOk;
  }
  for (TJvHidDevice* device : std::vector<TJvHidDevice*>(session.Meters())) {
    session.Use(*device);
    const std::optional<MeterStatus> status = session.ReadStatus(kListPatience);
    if (session.Interrupted()) return kExitInterrupted;
    const std::string id = session.DeviceId(*device);
    if (!status) {
      listed.push_back({{"id", id}, {"identity", nullptr}, {"firmware", nullptr}});
      session.Result(id + "  " + session.Say(Msg::ListUnreadable));
      continue;
    }
    const bool complete = status->firmwareFlag == kFirmwareComplete;
    listed.push_back({{"id", id},
                      {"identity", CodePointsToUtf8(status->identity)},
                      {"firmware", {{"version", CodePointsToUtf8(*status->versionText)}, {"complete", complete}}}});
    session.Result(id + "  " + TerminalSafe(status->identity) + "  " + TerminalSafe(*status->versionText) + ' ' +
                   session.Say(complete ? Msg::ListComplete : Msg::ListIncomplete));
  }
  session.Meter().Link.SetCurrentDevice(nullptr);
  session.JsonResult({{"meters", listed}});
  return kExitOk;
}

}  // namespace

CommandSpec ListCommand() {
  return {.command = Command::List, .name = "list", .help = Msg::ListHelp, .run = List,
          // It answers at once unless --wait says otherwise: no meter is an answer.
          .defaultWaitSeconds = 0};
}

}  // namespace lu14::cli
