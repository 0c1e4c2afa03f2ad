// TMForm: the update button, and the form as the update's view (its log
// lines, boxes, label and progress bar) and pacer (Timer2 and Timer3).
#include "window/MessageBoxes.h"
#include "window/TMForm.h"
#include "window/WindowTexts.h"

namespace lu14 {

void TMForm::B1Click() {
  Meter.Update.Start(state_.DeviceIdentity, {.backupRequired = false,
                                             .placeholderAllowed = PlaceholderAllowedByEnvironment(shell_)});
  Meter.FollowNewcomer();
}

void TMForm::UpdateStarted() {
  LB.Clear();
  Log(kLogMeterHead, state_.ModelSuffix + std::string(kLogConnectedTail));
  Timer1.SetEnabled(false);
  Timer3.SetEnabled(false);
  B1.SetEnabled(false);
  G6.SetEnabled(false);
}

void TMForm::PhaseStarted(UpdatePhase phase) {
  if (phase == UpdatePhase::Writing) Label1.SetText(std::string(kLabelUpdating));
}

void TMForm::ProgressMade(const UpdateProgress& progress) {
  if (progress.phase == UpdatePhase::SavingSettings) return Pr1.SetPosition(progress.done);
  // The bar takes the page count as its maximum with the first chunk, and
  // keeps the backup's last line until the first page is committed.
  Pr1.SetMax(progress.total);
  if (progress.done > 0) Pr1.SetPosition(progress.done);
}

void TMForm::BackupEnded(const BackupOutcome& backup) {
  if (backup.result != BackupResult::Written) return;
  Log(kLogBackupSaved);
  Log(kLogBackupFolder);
}

void TMForm::FaultFound(UpdateFault fault) {
  const auto logAndTell = [this](std::string_view text) {
    Log(text);
    shell_.ShowMessageBox(DeviceProblemBox(text));
  };
  switch (fault) {
    case UpdateFault::BackupReadFailed: return logAndTell(kBackupReadFailed);
    case UpdateFault::BackupWriteFailed:
    case UpdateFault::BackupUnavailable: return logAndTell(kBackupWriteFailed);
    case UpdateFault::PlaceholderFirmware: return logAndTell(kPlaceholderFirmwareRefused);
    case UpdateFault::StartMarkRefused: return Log(kLogFlagRefused);
    case UpdateFault::ChunkNotConfirmed: return shell_.ShowMessageBox(DeviceProblemBox(kChunkFailedBox));
    case UpdateFault::VersionTextNotWritten: return Log(kLogVersionWriteFailed);
    case UpdateFault::ChecksumMismatch: return Log(kLogChecksumFailed);
    case UpdateFault::CompleteMarkNotWritten: return Log(kLogCompleteFlagFailed);
    // The stream stops without a word when the link itself failed; a meter
    // that left has its own log line already.
    case UpdateFault::LinkFailed:
    case UpdateFault::MeterRemoved:
    case UpdateFault::Interrupted: return;
  }
}

void TMForm::SetChunkTicks(bool armed) { Timer2.SetEnabled(armed); }

void TMForm::SetFinishTick(bool armed) { Timer3.SetEnabled(armed); }

void TMForm::UpdateEnded(const UpdateOutcome& outcome) {
  switch (outcome.result) {
    case UpdateResult::Completed:
    case UpdateResult::Unverified:
    case UpdateResult::Cancelled:
      Timer1.SetEnabled(true);  // the poll enables B1 and G6 again
      if (outcome.result == UpdateResult::Completed) Log(kLogUpdateDone);
      break;
    case UpdateResult::Disconnected:  // the removal has handed the window back to the poll
    case UpdateResult::Stopped:       // the window stays as the box left it until the meter leaves
      break;
  }
}

}  // namespace lu14
