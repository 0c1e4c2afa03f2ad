// lu14 checksum: the meter's firmware checksum against the carried firmware's.
#include "cli/CliSession.h"
#include "cli/output/LinkWords.h"
#include "cli/output/UpdateWords.h"
#include "cli/commands/Command.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {

int Checksum(CliSession& session) {
  if (const auto refused = session.ChooseMeter()) return *refused;
  // The value is compared with the carried firmware's and shown as the meter's,
  // so only a checksum the meter confirmed (tagged, echoed, asked twice) counts.
  std::optional<std::uint32_t> checksum;
  try {
    checksum = session.Meter().Memory.ReadChecksumConfirmed();
  } catch (const LinkError& refused) {
    session.Error(session.Say(LinkFaultMessage(refused.Fault())));
    return kExitFailed;
  } catch (const std::exception& failure) {
    session.Error(failure.what());
    return kExitFailed;
  }
  if (!checksum) {
    session.Error(session.Say(Msg::ChecksumNoAnswer));
    return kExitFailed;
  }
  // A meter without the carried firmware is what this command is run to find:
  // a script sees it in the exit code.
  const bool match = *checksum == kFirmwareChecksum;
  const int exitCode = match ? kExitOk : kExitFailed;
  session.JsonResult({{"checksum", *checksum}, {"expected", kFirmwareChecksum}, {"match", match},
                      {"firmware", std::string(kFirmwareVersionText)}, {"ok", match}, {"exit", exitCode}});
  session.Result(ChecksumComparison(session.Options().language, *checksum));
  return exitCode;
}

}  // namespace

CommandSpec ChecksumCommand() {
  return {.command = Command::Checksum, .name = "checksum", .help = Msg::ChecksumHelp, .run = Checksum};
}

}  // namespace lu14::cli
