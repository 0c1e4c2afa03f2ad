// lu14 checksum: the meter's firmware checksum against the carried firmware's.
#include <cstdio>

#include "cli/CliSession.h"
#include "cli/output/LinkWords.h"
#include "cli/commands/Command.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {

std::string Hex24(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(value));
  return text;
}

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
  const std::string value = std::to_string(*checksum);
  session.Result(match ? session.Say(Msg::ChecksumMatches, {value, Hex24(*checksum), kFirmwareVersionText})
                       : session.Say(Msg::ChecksumDiffers,
                                     {value, Hex24(*checksum), kFirmwareVersionText,
                                      std::to_string(kFirmwareChecksum) + " (" + Hex24(kFirmwareChecksum) + ")"}));
  return exitCode;
}

}  // namespace

CommandSpec ChecksumCommand() {
  return {.command = Command::Checksum, .name = "checksum", .help = Msg::ChecksumHelp, .run = Checksum};
}

}  // namespace lu14::cli
