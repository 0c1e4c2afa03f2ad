// lu14 backup: the meter's settings saved to a file (Documents/lu14, named
// by the meter, or --output), or written to standard output (--output -).
#include "cli/CliSession.h"
#include "cli/commands/Command.h"
#include "cli/os/Utf8Path.h"
#include "cli/output/TerminalText.h"
#include "ports/Utf.h"
#include "update/BackupFile.h"
#include "update/SettingsBackup.h"

namespace lu14::cli {
namespace {

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

void Declare(CLI::App& command, CliOptions& options, std::vector<std::string>&) {
  command.add_option("--output", options.outputFile)->check(NonEmpty(options.language, "--output"));
}

// Both would be written to standard output.
void Finish(CliOptions& options, std::vector<std::string>&) {
  if (options.outputFile == kStandardOutput && options.json) {
    throw UsageError(Text(options.language, Msg::OutputDashWithJson));
  }
}

// backup --output -: the backup's text to the output stream.
int BackupToOutput(CliSession& session, SettingsBackup& backup, const std::function<void(int)>& lineWritten,
                   const std::function<bool()>& stop) {
  StreamOutput output(session.Out());
  const BackupOutcome outcome = backup.SaveSettingsBackupTo(output, lineWritten, stop);
  session.Progress().Finish();
  if (outcome.result == BackupResult::Written) return kExitOk;
  // What went out so far is no backup: the reader is told so.
  const std::string cutShort = session.Say(Msg::BackupOutputIncomplete);
  switch (outcome.fault) {
    case UpdateFault::Interrupted: session.Error(session.Say(Msg::Interrupted) + ": " + cutShort); return kExitInterrupted;
    case UpdateFault::BackupReadFailed: session.Error(session.Say(Msg::BackupReadFailed) + "; " + cutShort); return kExitFailed;
    default: session.Error(cutShort); return kExitFailed;
  }
}


int Backup(CliSession& session) {
  const CliOptions& options = session.Options();
  const std::filesystem::path output = Utf8Path(options.outputFile);
  const bool toOutput = options.outputFile == kStandardOutput;
  // An existing file is refused before the meter is read: it is never replaced.
  if (!options.outputFile.empty() && !toOutput && session.Files().exists(output)) {
    session.Error(session.Say(Msg::OutputExists, {PathText(output, options.json)}));
    return kExitRefused;
  }
  if (const auto refused = session.ChooseMeter()) return *refused;
  const std::optional<MeterStatus> status = session.ReadStatus();
  if (!status) {
    session.Error(session.Say(Msg::NoStatusAnswer));
    return kExitFailed;
  }
  session.Progress().PhaseStarted(UpdatePhase::SavingSettings);
  const auto lineWritten = [&](int line) {
    session.Progress().Show({UpdatePhase::SavingSettings, line, static_cast<int>(kBackupLines)});
  };
  SettingsBackup& backup = session.Meter().Backup;
  const auto stop = [&session] { return session.StopAsked(); };
  if (toOutput) return BackupToOutput(session, backup, lineWritten, stop);
  // Named after the identity and the version text, as the window names it.
  const BackupOutcome outcome =
      options.outputFile.empty()
          ? backup.SaveSettingsBackup(status->identity + *status->versionText, BackupFolderRule::DocumentsOnly,
                                      lineWritten, stop)
          : backup.SaveSettingsBackupAs(output, lineWritten, stop);
  session.Progress().Finish();
  switch (outcome.result) {
    case BackupResult::Written: {
      session.Result(session.Say(Msg::SettingsSaved, {PathText(outcome.file, false)}));
      session.JsonResult({{"backup", PathText(outcome.file, true)},
                  {"identity", CodePointsToUtf8(status->identity)},
                  {"firmware", CodePointsToUtf8(*status->versionText)}});
      return kExitOk;
    }
    case BackupResult::Skipped:
      session.Error(outcome.folder.empty()
                ? session.Say(Msg::BackupNoDocuments, {Because(outcome.reason)})
                : session.Say(Msg::BackupFolderUnwritable, {PathText(outcome.folder, options.json), Because(outcome.reason)}));
      return kExitFailed;
    case BackupResult::Failed: break;
  }
  if (outcome.fault == UpdateFault::Interrupted) {
    session.Error(session.Say(Msg::Interrupted) + ": " + session.Say(Msg::BackupCutShort));
    return kExitInterrupted;
  }
  if (outcome.fault == UpdateFault::BackupReadFailed) {
    session.Error(session.Say(Msg::BackupReadFailed));
  } else {
    const std::filesystem::path where = options.outputFile.empty() ? outcome.folder : output;
    session.Error(session.Say(Msg::BackupWriteFailed, {PathText(where, options.json), Because(outcome.reason)}));
  }
  return kExitFailed;
}


}  // namespace

CommandSpec BackupCommand() {
  return {.command = Command::Backup,
          .name = "backup",
          .help = Msg::BackupHelp,
          .declare = Declare,
          .finish = Finish,
          .run = Backup,
          .saysWhyStopped = true};
}

}  // namespace lu14::cli
