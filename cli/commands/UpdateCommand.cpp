// lu14 update: the carried firmware written to the meter, its settings saved
// first; the checks that refuse an update which could harm the meter or lose
// its settings; the outcome in words, JSON and an exit code.

#include "cli/CliSession.h"
#include "cli/commands/Command.h"
#include "cli/output/TerminalText.h"
#include "cli/output/UpdateWords.h"
#include "device/MeterProtocol.h"
#include "update/FirmwarePayload.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

// Longer than any update takes, also on a slow bus.
constexpr std::chrono::minutes kUpdatePatience{10};

// Refusals of the safety checks before an update touches the meter.
std::optional<std::string> UpdateRefusal(CliSession& session, const MeterStatus& status) {
  const CliOptions& options = session.Options();
  if (session.Meter().Payload.CarriesPlaceholder() && !options.simulate &&
      !PlaceholderAllowedByEnvironment(session.RunShell())) {
    return session.Say(Msg::RefusedPlaceholder, {kAllowPlaceholderVariable});
  }
  if (!options.ignoreBattery && status.batteryVolts && IsBatteryLow(*status.batteryVolts)) {
    return session.Say(Msg::RefusedBatteryLow, {Fixed(*status.batteryVolts, 2)});
  }
  return std::nullopt;
}

// Asks before an update (or the run that holds several); true when the answer is yes.
bool Confirmed(CliSession& session, const MeterStatus& status) {
  if (session.Hooks().goAhead) return session.Hooks().goAhead(status);
  return session.Asked(AboutToWriteText(session.Options().language, status, session.MeterId()) +
                       session.Say(Msg::AskToWrite, {kFirmwareVersionText}));
}

int UpdateEndedWith(CliSession& session, const UpdateOutcome& outcome) {
  const bool saved = outcome.backup.result == BackupResult::Written;
  if (saved) session.Result(session.Say(Msg::SettingsSaved, {outcome.backup.file.string()}));
  // The update went on past the backup without one (--no-backup): say so, and why.
  const bool endedByBackup = outcome.result == UpdateResult::Cancelled &&
                             (HasFault(outcome, UpdateFault::BackupReadFailed) || HasFault(outcome, UpdateFault::BackupWriteFailed) ||
                              HasFault(outcome, UpdateFault::BackupUnavailable) || HasFault(outcome, UpdateFault::Interrupted));
  if (!saved && !endedByBackup) {
    const std::string reason = outcome.backup.reason;
    session.Notice(
        session.Say(Msg::NoBackupSaved, {reason.empty() ? "" : ": " + Utf8TerminalSafe(reason)}));
  }
  int exitCode = kExitOk;
  std::string message;
  if (outcome.result == UpdateResult::Completed) {
    session.Result(session.Say(Msg::FirmwareWritten, {kFirmwareVersionText}));
  } else {
    message = UpdateFailure(session.Options().language, outcome, Msg::UpdateAgainLu14);
    session.Error(session.Say(Msg::UpdateFailedPrefix) + message);
    // A backup that cannot be saved refuses the update as a missing folder does.
    const bool backupRefused =
        HasFault(outcome, UpdateFault::BackupUnavailable) || HasFault(outcome, UpdateFault::BackupWriteFailed);
    exitCode = HasFault(outcome, UpdateFault::Interrupted) ? kExitInterrupted
               : backupRefused                        ? kExitRefused
                                                      : kExitFailed;
  }
  const UpdateReport report{.exitCode = exitCode,
                            .result = ResultKey(outcome.result),
                            .message = message,
                            .bytesConfirmed = outcome.bytesConfirmed,
                            .backup = saved ? std::optional(outcome.backup.file.string()) : std::nullopt};
  session.SetReport(report);
  session.JsonResult(ReportJson(report));
  return exitCode;
}

int Update(CliSession& session) {
  const CliOptions& options = session.Options();
  MeterAgent& meter = session.Meter();
  if (const auto refused = session.ChooseMeter()) return *refused;
  const std::optional<MeterStatus> status = session.ReadStatus();
  if (!status) {
    session.Error(session.Say(Msg::NoStatusAnswer));
    return kExitFailed;
  }
  // A meter pulled out while it was being read leaves a status, but nothing
  // to update.
  if (!meter.Link.CurrentDevice()) {
    session.Error(session.Say(Msg::UpdateFailedPrefix) + session.Say(Msg::FailDisconnectedBeforeStart));
    return kExitFailed;
  }
  if (session.Hooks().meterRead) session.Hooks().meterRead(*status);
  const bool current = *status->versionText == std::u32string(kFirmwareVersionText.begin(), kFirmwareVersionText.end()) &&
                       status->firmwareFlag == kFirmwareComplete;
  if (current && !options.force) {
    session.Result(session.Say(Msg::AlreadyCurrent, {kFirmwareVersionText}));
    const UpdateReport report{.exitCode = kExitOk, .result = "up-to-date"};
    session.SetReport(report);
    session.JsonResult(ReportJson(report));
    return kExitOk;
  }
  if (const std::optional<std::string> refusal = UpdateRefusal(session, *status)) {
    session.Error(session.Say(Msg::RefusedPrefix) + *refusal);
    return kExitRefused;
  }
  if (!Confirmed(session, *status)) {
    session.Error(session.Say(Msg::Declined));
    return session.Interrupted() ? kExitInterrupted : kExitFailed;
  }
  // Backups go to the user's Documents folder or nowhere; --no-backup goes on
  // without one when it cannot be made or written there.
  const UpdateRules rules{.backupRequired = !options.noBackup,
                          .backupFolder = BackupFolderRule::DocumentsOnly,
                          .goOnWhenBackupNotWritten = options.noBackup,
                          .placeholderAllowed = true};
  // The backup is named after the identity and the version text, as the window names it.
  if (meter.Update.Start(status->identity + *status->versionText, rules) != StartResult::Started) {
    session.Error(session.Say(Msg::UpdateFailedPrefix) + session.Say(Msg::FailDisconnectedBeforeStart));
    return kExitFailed;
  }
  // A start that was cancelled (a stop while the settings were saved) has ended the update already.
  const auto ended = [&] { return !meter.Update.Running(); };
  const bool done = ended() || session.RunUntil(ended, kUpdatePatience);
  session.Progress().Finish();
  if (!done || !meter.LastUpdate()) {
    session.Error(session.Say(Msg::UpdateFailedPrefix) + session.Say(Msg::FailTimeout));
    return kExitFailed;
  }
  return UpdateEndedWith(session, *meter.LastUpdate());
}

void Declare(CLI::App& command, CliOptions& options, std::vector<std::string>&) {
  command.add_flag("-y,--yes", options.yes);
  command.add_flag("--force", options.force);
  command.add_flag("--no-backup", options.noBackup);
  command.add_flag("--ignore-battery", options.ignoreBattery);
}

}  // namespace

CommandSpec UpdateCommand() {
  return {.command = Command::Update,
          .name = "update",
          .help = Msg::UpdateHelp,
          .declare = Declare,
          .run = Update,
          .writes = [](const CliOptions&) { return true; },
          .saysWhyStopped = true};
}

}  // namespace lu14::cli
