// lu14 restore FILE: a settings backup put back into the meter byte by
// byte, the differences shown first; --dry-run shows them and writes nothing.
#include <algorithm>
#include <cstdio>

#include "cli/CliSession.h"
#include "cli/CommandLineText.h"
#include "cli/commands/Command.h"
#include "cli/os/Utf8Path.h"
#include "cli/output/TerminalText.h"
#include "ports/Utf.h"
#include "update/BackupFile.h"
#include "update/SettingsRestore.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

std::string Hex2(std::uint8_t value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
  return text;
}

// A byte of a file as an error message shows it: printable ASCII quoted, any
// other as \xNN.
std::string ShownByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte > 0x20 && byte < 0x7F) return std::string("\"") + c + "\"";
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned>(byte));
  return text;
}

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

// The option's name as lu14 spells it, for an option byte.
std::string OptionNameAt(std::uint16_t address) {
  const std::optional<MeterOption> box = OptionAt(address);
  if (!box) return {};
  for (std::size_t i = 0; i < kMeterOptions.size(); ++i) {
    if (kMeterOptions[i] == *box) return OptionNames().at(i).name;
  }
  return {};
}

json DifferenceJson(const ByteDifference& difference) {
  json entry{{"address", difference.address},
             {"part", PartKey(PartOf(difference.address))},
             {"meter", difference.meter},
             {"file", difference.file}};
  if (const std::string name = OptionNameAt(difference.address); !name.empty()) entry["option"] = name;
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

  const auto line = [&](const ByteDifference& difference) {
    std::string what;
    switch (PartOf(difference.address)) {
      case EepromPart::Option: what = OptionNameAt(difference.address); break;
      case EepromPart::VersionText: what = session.Say(Msg::PartVersionText); break;
      case EepromPart::AfterUpdate: what = session.Say(Msg::PartAfterUpdate); break;
      case EepromPart::FirmwareFlag: what = session.Say(Msg::PartFirmwareFlag); break;
      case EepromPart::BatteryCoefficient:
      case EepromPart::Other: break;
    }
    char address[8];
    std::snprintf(address, sizeof address, "%4u", static_cast<unsigned>(difference.address));
    session.Result(session.Say(Msg::DifferenceLine,
               {address, Hex2(difference.meter), Hex2(difference.file), what.empty() ? "" : "  " + what}));
  };
  const auto group = [&](Msg heading, const std::vector<ByteDifference>& bytes, auto belongs) {
    bool headed = false;
    for (const ByteDifference& difference : bytes) {
      if (!belongs(PartOf(difference.address))) continue;
      if (!headed) session.Result(session.Say(heading) + ':');
      headed = true;
      line(difference);
    }
  };
  session.Result(session.Say(Msg::DifferencesHeading, {std::to_string(plan.toWrite.size()),
                                       PathText(Utf8Path(options.restoreFile).filename(), false),
                                       std::to_string(plan.skipped.size())}));
  group(Msg::GroupOptions, plan.toWrite, [](EepromPart part) { return part == EepromPart::Option; });
  group(Msg::GroupBatteryCoefficient, plan.toWrite,
        [](EepromPart part) { return part == EepromPart::BatteryCoefficient; });
  group(Msg::GroupOther, plan.toWrite, [](EepromPart part) { return part == EepromPart::Other; });
  group(Msg::GroupSkipped, plan.skipped, [](EepromPart) { return true; });
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
  const std::string total = std::to_string(outcome.bytes.size());
  const std::string confirmed = std::to_string(confirmedCount);
  const std::string unsent = std::to_string(notTried);
  int exitCode = kExitOk;
  std::string message;
  if (outcome.Succeeded()) {
    if (!outcome.bytes.empty()) {
      session.Result(session.Say(Msg::Restored, {total, PathText(Utf8Path(options.restoreFile).filename(), false)}));
    }
  } else if (outcome.interrupted) {
    session.SetInterrupted();
    exitCode = kExitInterrupted;
    const auto firstUntried = std::find_if(outcome.bytes.begin(), outcome.bytes.end(),
                                           [](const ByteWritten& byte) { return byte.result == ByteResult::NotAttempted; });
    message = session.Say(Msg::RestoreInterrupted, {confirmed, total, unsent, std::to_string(firstUntried->difference.address)}) +
              "; " + session.Say(Msg::RestoreAgain);
  } else {
    exitCode = kExitFailed;
    const auto failed = std::find_if(outcome.bytes.begin(), outcome.bytes.end(), [](const ByteWritten& byte) {
      return byte.result != ByteResult::Confirmed && byte.result != ByteResult::NotAttempted;
    });
    std::string why;
    switch (failed->result) {
      case ByteResult::WriteNotConfirmed:
        why = failed->readBack ? session.Say(Msg::ByteWriteNotConfirmedReadsBack, {Hex2(*failed->readBack)})
                               : session.Say(Msg::ByteWriteNotConfirmed);
        break;
      case ByteResult::ReadBackFailed: why = session.Say(Msg::ByteReadBackFailed); break;
      case ByteResult::ReadBackDiffers: why = session.Say(Msg::ByteReadBackDiffers, {Hex2(failed->readBack.value_or(0))}); break;
      case ByteResult::Confirmed:
      case ByteResult::NotAttempted: break;
    }
    message = session.Say(Msg::RestoreFailed, {std::to_string(failed->difference.address), why, confirmed, total, unsent}) +
              "; " + session.Say(Msg::RestoreAgain);
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
    const BackupTextError& error = backup.error;
    std::string why;
    switch (error.fault) {
      case BackupTextFault::BadCharacter: why = session.Say(Msg::FileBadCharacter, {ShownByte(error.found)}); break;
      case BackupTextFault::ShortLine: why = session.Say(Msg::FileShortLine); break;
      case BackupTextFault::LongLine: why = session.Say(Msg::FileLongLine, {ShownByte(error.found)}); break;
      case BackupTextFault::MissingLines: why = session.Say(Msg::FileMissingLines); break;
      case BackupTextFault::ExtraData: why = session.Say(Msg::FileExtraData); break;
    }
    session.Error(session.Say(Msg::FileNotABackup, {shownFile, std::to_string(error.line), std::to_string(error.column), why}));
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
