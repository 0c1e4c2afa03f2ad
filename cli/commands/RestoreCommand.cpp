// lu14 restore FILE: a settings backup put back into the meter byte by
// byte, the differences shown first; --dry-run shows them and writes nothing.
#include "cli/CliSession.h"
#include "cli/CommandLineText.h"
#include "cli/commands/Command.h"
#include "cli/os/Utf8Path.h"
#include "cli/output/RestoreWords.h"
#include "cli/output/TerminalText.h"
#include "ports/Utf.h"
#include "update/BackupFile.h"
#include "update/SettingsRestore.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

const char* PartKey(EepromPart part) {
  switch (part) {
    case EepromPart::Option: return "option";
    case EepromPart::BatteryCoefficient: return "battery-coefficient";
    case EepromPart::VersionText: return "version-text";
    case EepromPart::AfterUpdate: return "after-update";
    case EepromPart::FirmwareFlag: return "firmware-flag";
    case EepromPart::Other: return "other";
  }
  return "other";
}

const char* ResultKey(ByteResult result) {
  switch (result) {
    case ByteResult::Confirmed: return "confirmed";
    case ByteResult::WriteNotConfirmed: return "write-not-confirmed";
    case ByteResult::ReadBackFailed: return "read-back-failed";
    case ByteResult::ReadBackDiffers: return "read-back-differs";
    case ByteResult::NotAttempted: return "not-tried";
  }
  return "";
}

// The option's name as lu14 spells it.
std::string OptionName(MeterOption option) {
  for (std::size_t i = 0; i < kMeterOptions.size(); ++i) {
    if (kMeterOptions[i] == option) return OptionNames().at(i).name;
  }
  return {};
}

json DifferenceJson(const ByteDifference& difference) {
  json entry{{"address", difference.address},
             {"part", PartKey(PartOf(difference.address))},
             {"meter", difference.meter},
             {"file", difference.file}};
  if (const std::optional<MeterOption> option = OptionAt(difference.address)) entry["option"] = OptionName(*option);
  return entry;
}


void Declare(CLI::App& command, CliOptions& options, std::vector<std::string>& words) {
  command.add_flag("-y,--yes", options.yes);
  command.add_flag("--force", options.force);
  command.add_flag("--dry-run", options.dryRun);
  command.add_option("file", words);
}

// Exactly one word: the backup's file.
void Finish(CliOptions& options, std::vector<std::string>& words) {
  if (words.empty()) throw UsageError(Text(options.language, Msg::RestoreNeedsFile));
  if (words.size() > 1) throw UsageError(Text(options.language, Msg::UnexpectedArgument, {Quoted(words[1])}));
  options.restoreFile = words.front();
}

// Refusals before a restore writes: a backup of another meter, or of one
// its name does not give (unless --force).
std::optional<std::string> RestoreRefusal(CliSession& session, const MeterStatus& status) {
  const CliOptions& options = session.Options();
  const std::filesystem::path file = Utf8Path(options.restoreFile);
  const std::string shown = PathText(file.filename(), options.json);
  const std::optional<BackupName> name = BackupNameOf(file);
  std::optional<std::string> refusal;
  if (!name) {
    refusal = session.Say(Msg::NameHoldsNoIdentity, {shown});
  } else if (!NamesMeter(*name, status.identity)) {
    const std::string theirs = options.json ? name->identity : Utf8TerminalSafe(name->identity);
    const std::string ours = options.json ? CodePointsToUtf8(status.identity) : TerminalSafe(status.identity);
    refusal = session.Say(Msg::OtherMetersBackup, {shown, theirs, ours});
  } else if (name->versionText != CodePointsToUtf8(FileNameSafe(*status.versionText))) {
    const std::string then = options.json ? name->versionText : Utf8TerminalSafe(name->versionText);
    const std::string now =
        options.json ? CodePointsToUtf8(*status.versionText) : TerminalSafe(*status.versionText);
    session.Notice(session.Say(Msg::FirmwareSinceBackup, {then, now}));
  }
  if (!refusal) return std::nullopt;
  // A dry run writes nothing: it shows the differences, and the doubt.
  if (options.dryRun) {
    session.Notice(*refusal + "; " + session.Say(Msg::DryRunAnyway));
    return std::nullopt;
  }
  if (!options.force) return *refusal + "; " + session.Say(Msg::ForceRestores);
  session.Notice(*refusal + "; " + session.Say(Msg::RestoringAnyway));
  return std::nullopt;
}

// Shows the differences (text or JSON fields).
void ShowPlan(CliSession& session, const RestorePlan& plan, json& result) {
  const CliOptions& options = session.Options();
  json differences = json::array(), skipped = json::array();
  for (const ByteDifference& difference : plan.toWrite) differences.push_back(DifferenceJson(difference));
  for (const ByteDifference& difference : plan.skipped) skipped.push_back(DifferenceJson(difference));
  result["differences"] = differences;
  result["skipped"] = skipped;
  if (options.json || (plan.toWrite.empty() && plan.skipped.empty())) return;

  for (const std::string& line : PlanLines(options.language, plan,
                                           PathText(Utf8Path(options.restoreFile).filename(), false), OptionName)) {
    session.Result(line);
  }
}

int RestoreEndedWith(CliSession& session, const RestoreOutcome& outcome, json& result) {
  const CliOptions& options = session.Options();
  json written = json::array();
  for (const ByteWritten& byte : outcome.bytes) {
    written.push_back({{"address", byte.difference.address},
                       {"result", ResultKey(byte.result)},
                       {"read-back", byte.readBack ? json(*byte.readBack) : json(nullptr)}});
  }
  result["written"] = written;
  // Every byte to write is in one of three groups, in address order: written
  // and read back, the one that failed (the writes stop there), not tried.
  const std::size_t notTried = outcome.Count(ByteResult::NotAttempted);
  const std::size_t confirmedCount = outcome.Count(ByteResult::Confirmed);
  result["account"] = {{"confirmed", confirmedCount},
                       {"failed", outcome.bytes.size() - confirmedCount - notTried},
                       {"not-tried", notTried}};
  int exitCode = kExitOk;
  std::string message;
  if (outcome.Succeeded()) {
    if (!outcome.bytes.empty()) {
      session.Result(session.Say(Msg::Restored, {std::to_string(outcome.bytes.size()),
                                                 PathText(Utf8Path(options.restoreFile).filename(), false)}));
    }
  } else {
    if (outcome.interrupted) session.SetInterrupted();
    exitCode = outcome.interrupted ? kExitInterrupted : kExitFailed;
    message = RestoreFailure(options.language, outcome) + "; " + session.Say(Msg::RestoreAgain);
  }
  if (!message.empty()) {
    session.Error(message);
    result["message"] = message;
  }
  result.update({{"ok", exitCode == kExitOk}, {"exit", exitCode}});
  session.JsonResult(result);
  return exitCode;
}
int Restore(CliSession& session) {
  const CliOptions& options = session.Options();
  // The file first: a file that is not a backup is refused before the meter is touched.
  const std::filesystem::path file = Utf8Path(options.restoreFile);
  const std::string shownFile = PathText(file, options.json);
  // No backup is longer than a whole one: anything more is refused unread.
  const InputText text = session.Files().read(file, kLongestBackupText);
  switch (text.fault) {
    case InputFault::None: break;
    case InputFault::Missing:
    case InputFault::Unreadable: session.Error(session.Say(Msg::FileUnreadable, {shownFile})); return kExitFailed;
    case InputFault::TooLarge:
      session.Error(session.Say(Msg::FileTooLarge, {shownFile, std::to_string(kLongestBackupText)}));
      return kExitFailed;
    case InputFault::Interrupted: return kExitInterrupted;
  }
  const BackupText backup = ReadBackupText(text.bytes);
  if (!backup.image) {
    session.Error(NotABackup(options.language, shownFile, backup.error));
    return kExitFailed;
  }

  if (const auto refused = session.ChooseMeter()) return *refused;
  const std::optional<MeterStatus> status = session.ReadStatus();
  if (!status) {
    session.Error(session.Say(Msg::NoStatusAnswer));
    return kExitFailed;
  }
  if (const std::optional<std::string> refusal = RestoreRefusal(session, *status)) {
    session.Error(*refusal);
    return kExitRefused;
  }

  SettingsRestore& restore = session.Meter().Restore;
  const EepromReading reading = restore.ReadMeter([&session] { return session.StopAsked(); });
  if (!reading.image) {
    if (reading.interrupted) return kExitInterrupted;
    session.Error(session.Say(Msg::EepromUnreadable, {std::to_string(reading.failedAt)}));
    return kExitFailed;
  }
  const RestorePlan plan = CompareImages(*reading.image, *backup.image);
  json result{{"file", shownFile},
              {"identity", CodePointsToUtf8(status->identity)},
              {"dry-run", options.dryRun}};
  ShowPlan(session, plan, result);
  if (plan.toWrite.empty()) {
    session.Result(session.Say(Msg::NothingToRestore, {PathText(file.filename(), false)}));
    result["written"] = json::array();
    return RestoreEndedWith(session, {}, result);
  }
  if (options.dryRun) {
    session.Notice(session.Say(Msg::DryRunNothingWritten));
    result["written"] = json::array();
    result.update({{"ok", true}, {"exit", kExitOk}});
    session.JsonResult(result);
    return kExitOk;
  }
  if (!session.Asked(session.Say(Msg::AskToRestore,
                 {std::to_string(plan.toWrite.size()), session.MeterId()}))) {
    session.Error(session.Say(Msg::RestoreDeclined));
    return session.Interrupted() ? kExitInterrupted : kExitFailed;
  }
  return RestoreEndedWith(session, restore.Write(plan, [&session] { return session.StopAsked(); }), result);
}


}  // namespace

CommandSpec RestoreCommand() {
  return {.command = Command::Restore,
          .name = "restore",
          .help = Msg::RestoreHelp,
          .declare = Declare,
          .finish = Finish,
          .run = Restore,
          .writes = [](const CliOptions& options) { return !options.dryRun; },
          .saysWhyStopped = true};
}

}  // namespace lu14::cli
