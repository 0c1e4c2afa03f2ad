#include "cli/output/UpdateWords.h"

#include <algorithm>
#include <cstdio>

#include "cli/output/TerminalText.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {

std::string Hex24(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

bool HasFault(const UpdateOutcome& outcome, UpdateFault fault) {
  return std::find(outcome.faults.begin(), outcome.faults.end(), fault) != outcome.faults.end();
}

std::string UpdateFailure(Language language, const UpdateOutcome& outcome, Msg updateAgain) {
  const std::string again = Text(language, updateAgain);
  const std::string confirmed = std::to_string(outcome.bytesConfirmed);
  const std::string streamed = std::to_string(kStreamedLength);
  switch (outcome.result) {
    case UpdateResult::Completed: return {};
    case UpdateResult::Disconnected: return Text(language, Msg::FailDisconnected, {confirmed, streamed, again});
    case UpdateResult::Cancelled:
      if (HasFault(outcome, UpdateFault::Interrupted)) {
        const std::string stopped = Text(language, Msg::FailInterruptedBeforeWriting);
        if (outcome.backup.result != BackupResult::Failed) return stopped;
        return stopped + "; " + Text(language, Msg::BackupCutShort);
      }
      if (HasFault(outcome, UpdateFault::BackupReadFailed)) return Text(language, Msg::FailBackupRead);
      if (HasFault(outcome, UpdateFault::BackupWriteFailed)) {
        return Text(language, Msg::FailBackupWrite, {Because(outcome.backup.reason)});
      }
      if (HasFault(outcome, UpdateFault::BackupUnavailable)) {
        return outcome.backup.folder.empty()
                   ? Text(language, Msg::FailBackupUnavailableNoFolder, {Because(outcome.backup.reason)})
                   : Text(language, Msg::FailBackupUnavailableIn,
                          {Utf8TerminalSafe(outcome.backup.folder.string()),
                           Because(outcome.backup.reason)});
      }
      return Text(language, Msg::FailStartNotConfirmed);
    case UpdateResult::Stopped:
      if (HasFault(outcome, UpdateFault::Interrupted)) return Text(language, Msg::FailInterrupted, {confirmed, streamed, again});
      if (HasFault(outcome, UpdateFault::LinkFailed)) return Text(language, Msg::FailLinkFailed, {confirmed, again});
      return Text(language, Msg::FailChunkNotConfirmed, {confirmed, again});
    case UpdateResult::Unverified: break;
  }
  std::string reason;
  const auto add = [&](Msg message) { reason += (reason.empty() ? "" : ", ") + Text(language, message); };
  if (HasFault(outcome, UpdateFault::VersionTextNotWritten)) add(Msg::FailVersionText);
  if (HasFault(outcome, UpdateFault::ChecksumMismatch)) add(Msg::FailChecksumMismatch);
  if (HasFault(outcome, UpdateFault::CompleteMarkNotWritten)) add(Msg::FailCompleteMark);
  return Text(language, Msg::FailStillIncomplete, {reason});
}

std::string ChecksumComparison(Language language, std::uint32_t checksum) {
  const std::string value = std::to_string(checksum);
  if (checksum == kFirmwareChecksum) {
    return Text(language, Msg::ChecksumMatches, {value, Hex24(checksum), kFirmwareVersionText});
  }
  return Text(language, Msg::ChecksumDiffers,
              {value, Hex24(checksum), kFirmwareVersionText,
               std::to_string(kFirmwareChecksum) + " (" + Hex24(kFirmwareChecksum) + ")"});
}

}  // namespace lu14::cli
