// lu14 backup and lu14 restore: the settings backup on its own, and putting
// one back into the meter byte by byte.
#include <algorithm>
#include <cstdio>

#include "cli/CliSession.h"
#include "cli/output/JsonText.h"
#include "cli/output/TerminalText.h"
#include "cli/os/Utf8Path.h"
#include "ports/Utf.h"
#include "update/BackupFile.h"
#include "update/SettingsBackup.h"
#include "update/SettingsRestore.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

// "--output -": the backup's text goes to standard output as it is read.
constexpr std::string_view kStandardOutput = "-";

// The output stream as the backup's file.
class StreamOutput : public OutputFile {
 public:
  explicit StreamOutput(std::ostream& out) : out_(out) {}
  bool Write(std::span<const std::uint8_t> bytes) override {
    out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out_);
  }
  bool FlushToDisk() override { return static_cast<bool>(out_.flush()); }
  bool Close() override { return static_cast<bool>(out_); }

 private:
  std::ostream& out_;
};

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

// UTF-8 text for the terminal: control characters (C0, DEL, C1) as \xNN, so
// that a file name can never drive the terminal; other letters stay.
std::string Utf8TerminalSafe(const std::string& text) { return EscapeControlCharacters(text, "\\x%02X"); }

// A path as the user sees it: for the terminal escaped, for JSON as it is
// (JsonLine escapes it there).
std::string PathText(const std::filesystem::path& path, bool forJson) {
  const std::u8string utf8 = path.u8string();
  const std::string text(utf8.begin(), utf8.end());
  return forJson ? text : Utf8TerminalSafe(text);
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

}  // namespace

int CliSession::Backup() {
  const std::filesystem::path output = Utf8Path(options_.outputFile);
  const bool toOutput = options_.outputFile == kStandardOutput;
  // An existing file is refused before the meter is read: it is never replaced.
  if (!options_.outputFile.empty() && !toOutput && files_.exists(output)) {
    Error(Say(Msg::OutputExists, {PathText(output, options_.json)}));
    return kExitRefused;
  }
  if (const auto refused = ChooseMeter()) return *refused;
  const std::optional<MeterStatus> status = ReadStatus(std::chrono::seconds(10));
  if (!status) {
    Error(Say(Msg::NoStatusAnswer));
    return kExitFailed;
  }
  progress_.PhaseStarted(UpdatePhase::SavingSettings);
  const auto lineWritten = [&](int line) {
    progress_.Show({UpdatePhase::SavingSettings, line, static_cast<int>(kBackupLines)});
  };
  SettingsBackup& backup = meter_.Backup;
  const auto stop = [this] { return StopAsked(); };
  if (toOutput) return BackupToOutput(backup, lineWritten, stop);
  // Named after the identity and the version text, as the window names it.
  const BackupOutcome outcome =
      options_.outputFile.empty()
          ? backup.SaveSettingsBackup(status->identity + *status->versionText, BackupFolderRule::DocumentsOnly,
                                      lineWritten, stop)
          : backup.SaveSettingsBackupAs(output, lineWritten, stop);
  progress_.Finish();
  switch (outcome.result) {
    case BackupResult::Written: {
      Result(Say(Msg::SettingsSaved, {PathText(outcome.file, false)}));
      JsonResult({{"backup", PathText(outcome.file, true)},
                  {"identity", CodePointsToUtf8(status->identity)},
                  {"firmware", CodePointsToUtf8(*status->versionText)}});
      return kExitOk;
    }
    case BackupResult::Skipped:
      Error(outcome.folder.empty()
                ? Say(Msg::BackupNoDocuments, {Because(outcome.reason)})
                : Say(Msg::BackupFolderUnwritable, {PathText(outcome.folder, options_.json), Because(outcome.reason)}));
      return kExitFailed;
    case BackupResult::Failed: break;
  }
  if (outcome.fault == UpdateFault::Interrupted) {
    Error(Say(Msg::Interrupted) + ": " + Say(Msg::BackupCutShort));
    return kExitInterrupted;
  }
  if (outcome.fault == UpdateFault::BackupReadFailed) {
    Error(Say(Msg::BackupReadFailed));
  } else {
    const std::filesystem::path where = options_.outputFile.empty() ? outcome.folder : output;
    Error(Say(Msg::BackupWriteFailed, {PathText(where, options_.json), Because(outcome.reason)}));
  }
  return kExitFailed;
}

int CliSession::BackupToOutput(SettingsBackup& backup, const std::function<void(int)>& lineWritten,
                               const std::function<bool()>& stop) {
  StreamOutput output(out_);
  const BackupOutcome outcome = backup.SaveSettingsBackupTo(output, lineWritten, stop);
  progress_.Finish();
  if (outcome.result == BackupResult::Written) return kExitOk;
  // What went out so far is no backup: the reader is told so.
  const std::string cutShort = Say(Msg::BackupOutputIncomplete);
  switch (outcome.fault) {
    case UpdateFault::Interrupted: Error(Say(Msg::Interrupted) + ": " + cutShort); return kExitInterrupted;
    case UpdateFault::BackupReadFailed: Error(Say(Msg::BackupReadFailed) + "; " + cutShort); return kExitFailed;
    default: Error(cutShort); return kExitFailed;
  }
}

std::optional<std::string> CliSession::RestoreRefusal(const MeterStatus& status) {
  const std::filesystem::path file = Utf8Path(options_.restoreFile);
  const std::string shown = PathText(file.filename(), options_.json);
  const std::optional<BackupName> name = BackupNameOf(file);
  std::optional<std::string> refusal;
  if (!name) {
    refusal = Say(Msg::NameHoldsNoIdentity, {shown});
  } else if (!NamesMeter(*name, status.identity)) {
    const std::string theirs = options_.json ? name->identity : Utf8TerminalSafe(name->identity);
    const std::string ours = options_.json ? CodePointsToUtf8(status.identity) : TerminalSafe(status.identity);
    refusal = Say(Msg::OtherMetersBackup, {shown, theirs, ours});
  } else if (name->versionText != CodePointsToUtf8(FileNameSafe(*status.versionText))) {
    const std::string then = options_.json ? name->versionText : Utf8TerminalSafe(name->versionText);
    const std::string now =
        options_.json ? CodePointsToUtf8(*status.versionText) : TerminalSafe(*status.versionText);
    Notice(Say(Msg::FirmwareSinceBackup, {then, now}));
  }
  if (!refusal) return std::nullopt;
  // A dry run writes nothing: it shows the differences, and the doubt.
  if (options_.dryRun) {
    Notice(*refusal + "; " + Say(Msg::DryRunAnyway));
    return std::nullopt;
  }
  if (!options_.force) return *refusal + "; " + Say(Msg::ForceRestores);
  Notice(*refusal + "; " + Say(Msg::RestoringAnyway));
  return std::nullopt;
}

void CliSession::ShowPlan(const RestorePlan& plan, json& result) {
  json differences = json::array(), skipped = json::array();
  for (const ByteDifference& difference : plan.toWrite) differences.push_back(DifferenceJson(difference));
  for (const ByteDifference& difference : plan.skipped) skipped.push_back(DifferenceJson(difference));
  result["differences"] = differences;
  result["skipped"] = skipped;
  if (options_.json || (plan.toWrite.empty() && plan.skipped.empty())) return;

  const auto line = [&](const ByteDifference& difference) {
    std::string what;
    switch (PartOf(difference.address)) {
      case EepromPart::Option: what = OptionNameAt(difference.address); break;
      case EepromPart::VersionText: what = Say(Msg::PartVersionText); break;
      case EepromPart::AfterUpdate: what = Say(Msg::PartAfterUpdate); break;
      case EepromPart::FirmwareFlag: what = Say(Msg::PartFirmwareFlag); break;
      case EepromPart::BatteryCoefficient:
      case EepromPart::Other: break;
    }
    char address[8];
    std::snprintf(address, sizeof address, "%4u", static_cast<unsigned>(difference.address));
    Result(Say(Msg::DifferenceLine,
               {address, Hex2(difference.meter), Hex2(difference.file), what.empty() ? "" : "  " + what}));
  };
  const auto group = [&](Msg heading, const std::vector<ByteDifference>& bytes, auto belongs) {
    bool headed = false;
    for (const ByteDifference& difference : bytes) {
      if (!belongs(PartOf(difference.address))) continue;
      if (!headed) Result(Say(heading) + ':');
      headed = true;
      line(difference);
    }
  };
  Result(Say(Msg::DifferencesHeading, {std::to_string(plan.toWrite.size()),
                                       PathText(Utf8Path(options_.restoreFile).filename(), false),
                                       std::to_string(plan.skipped.size())}));
  group(Msg::GroupOptions, plan.toWrite, [](EepromPart part) { return part == EepromPart::Option; });
  group(Msg::GroupBatteryCoefficient, plan.toWrite,
        [](EepromPart part) { return part == EepromPart::BatteryCoefficient; });
  group(Msg::GroupOther, plan.toWrite, [](EepromPart part) { return part == EepromPart::Other; });
  group(Msg::GroupSkipped, plan.skipped, [](EepromPart) { return true; });
}

int CliSession::Restore() {
  // The file first: a file that is not a backup is refused before the meter is touched.
  const std::filesystem::path file = Utf8Path(options_.restoreFile);
  const std::string shownFile = PathText(file, options_.json);
  // No backup is longer than a whole one: anything more is refused unread.
  const InputText text = files_.read(file, kLongestBackupText);
  switch (text.fault) {
    case InputFault::None: break;
    case InputFault::Missing:
    case InputFault::Unreadable: Error(Say(Msg::FileUnreadable, {shownFile})); return kExitFailed;
    case InputFault::TooLarge:
      Error(Say(Msg::FileTooLarge, {shownFile, std::to_string(kLongestBackupText)}));
      return kExitFailed;
    case InputFault::Interrupted: return kExitInterrupted;
  }
  const BackupText backup = ReadBackupText(text.bytes);
  if (!backup.image) {
    const BackupTextError& error = backup.error;
    std::string why;
    switch (error.fault) {
      case BackupTextFault::BadCharacter: why = Say(Msg::FileBadCharacter, {ShownByte(error.found)}); break;
      case BackupTextFault::ShortLine: why = Say(Msg::FileShortLine); break;
      case BackupTextFault::LongLine: why = Say(Msg::FileLongLine, {ShownByte(error.found)}); break;
      case BackupTextFault::MissingLines: why = Say(Msg::FileMissingLines); break;
      case BackupTextFault::ExtraData: why = Say(Msg::FileExtraData); break;
    }
    Error(Say(Msg::FileNotABackup, {shownFile, std::to_string(error.line), std::to_string(error.column), why}));
    return kExitFailed;
  }

  if (const auto refused = ChooseMeter()) return *refused;
  const std::optional<MeterStatus> status = ReadStatus(std::chrono::seconds(10));
  if (!status) {
    Error(Say(Msg::NoStatusAnswer));
    return kExitFailed;
  }
  if (const std::optional<std::string> refusal = RestoreRefusal(*status)) {
    Error(*refusal);
    return kExitRefused;
  }

  SettingsRestore& restore = meter_.Restore;
  const EepromReading reading = restore.ReadMeter([this] { return StopAsked(); });
  if (!reading.image) {
    if (reading.interrupted) return kExitInterrupted;
    Error(Say(Msg::EepromUnreadable, {std::to_string(reading.failedAt)}));
    return kExitFailed;
  }
  const RestorePlan plan = CompareImages(*reading.image, *backup.image);
  json result{{"file", shownFile},
              {"identity", CodePointsToUtf8(status->identity)},
              {"dry-run", options_.dryRun}};
  ShowPlan(plan, result);
  if (plan.toWrite.empty()) {
    Result(Say(Msg::NothingToRestore, {PathText(file.filename(), false)}));
    result["written"] = json::array();
    return RestoreEndedWith({}, result);
  }
  if (options_.dryRun) {
    Notice(Say(Msg::DryRunNothingWritten));
    result["written"] = json::array();
    result.update({{"ok", true}, {"exit", kExitOk}});
    JsonResult(result);
    return kExitOk;
  }
  if (!Asked(Say(Msg::AskToRestore,
                 {std::to_string(plan.toWrite.size()), meterId_}))) {
    Error(Say(Msg::RestoreDeclined));
    return interrupted_ ? kExitInterrupted : kExitFailed;
  }
  return RestoreEndedWith(restore.Write(plan, [this] { return StopAsked(); }), result);
}

int CliSession::RestoreEndedWith(const RestoreOutcome& outcome, json& result) {
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
      Result(Say(Msg::Restored, {total, PathText(Utf8Path(options_.restoreFile).filename(), false)}));
    }
  } else if (outcome.interrupted) {
    interrupted_ = true;
    exitCode = kExitInterrupted;
    const auto firstUntried = std::find_if(outcome.bytes.begin(), outcome.bytes.end(),
                                           [](const ByteWritten& byte) { return byte.result == ByteResult::NotAttempted; });
    message = Say(Msg::RestoreInterrupted, {confirmed, total, unsent, std::to_string(firstUntried->difference.address)}) +
              "; " + Say(Msg::RestoreAgain);
  } else {
    exitCode = kExitFailed;
    const auto failed = std::find_if(outcome.bytes.begin(), outcome.bytes.end(), [](const ByteWritten& byte) {
      return byte.result != ByteResult::Confirmed && byte.result != ByteResult::NotAttempted;
    });
    std::string why;
    switch (failed->result) {
      case ByteResult::WriteNotConfirmed:
        why = failed->readBack ? Say(Msg::ByteWriteNotConfirmedReadsBack, {Hex2(*failed->readBack)})
                               : Say(Msg::ByteWriteNotConfirmed);
        break;
      case ByteResult::ReadBackFailed: why = Say(Msg::ByteReadBackFailed); break;
      case ByteResult::ReadBackDiffers: why = Say(Msg::ByteReadBackDiffers, {Hex2(failed->readBack.value_or(0))}); break;
      case ByteResult::Confirmed:
      case ByteResult::NotAttempted: break;
    }
    message = Say(Msg::RestoreFailed, {std::to_string(failed->difference.address), why, confirmed, total, unsent}) +
              "; " + Say(Msg::RestoreAgain);
  }
  if (!message.empty()) {
    Error(message);
    result["message"] = message;
  }
  result.update({{"ok", exitCode == kExitOk}, {"exit", exitCode}});
  JsonResult(result);
  return exitCode;
}

}  // namespace lu14::cli
