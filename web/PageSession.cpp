#include "web/PageSession.h"

#include <algorithm>

#include "cli/output/ConsoleProgress.h"
#include "cli/output/LinkWords.h"
#include "cli/output/TerminalText.h"
#include "cli/output/UpdateWords.h"
#include "device/LinkEvent.h"
#include "device/MeterMemory.h"
#include "device/MeterProtocol.h"
#include "session/LoopWiring.h"
#include "update/FirmwarePayload.h"
#include "update/UpdateParameters.h"
#include "web/PageBridge.h"

namespace lu14::web {
namespace {

using cli::Msg;

constexpr std::chrono::seconds kPollPeriod{1};

// The option switches, in kMeterOptions order, and the two the meter lets change.
constexpr Msg kOptionLabels[] = {Msg::PageOptionAutoSave, Msg::PageOptionCapacitance, Msg::PageOptionMenuSwap,
                                 Msg::PageOptionModifiedMeter};
bool Changeable(MeterOption option) { return option == MeterOption::Capacitance || option == MeterOption::MenuSwap; }

Msg PhaseName(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::SavingSettings: return Msg::PhaseSavingSettings;
    case UpdatePhase::Writing: return Msg::PhaseWriting;
    case UpdatePhase::Finishing: return Msg::PhaseVerifying;
  }
  return Msg::PhaseWriting;
}

}  // namespace

PageSession::PageSession(const PageChoices& choices, Shell& shell, EventLoop& loop, HidPlatform& platform)
    : choices_(choices),
      loop_(loop),
      pacer_(loop),
      // The page decides on what it reads (up to date? battery low?): only
      // bytes the meter confirmed.
      meter_(shell, *this, silentStatus_, *this, pacer_, PollReads::Confirmed),
      restore_(choices.language, meter_),
      controller_(platform, [this](const std::function<void()>& work) { Dispatch(work); }) {
  WireOnLoop(meter_, pacer_, controller_,
             {.dispatch = [this](const std::function<void()>& tick) { Dispatch(tick); },
              .found = [this](TJvHidDevice& device) { MeterFound(device); },
              .removed = [this](TJvHidDevice& device) { DeviceRemoved(device); }});
  ShowLabels();
  ShowNoMeter();
  SchedulePoll();
}

void PageSession::ShowLabels() {
  const std::string simulated = choices_.simulated ? Say(Msg::PageSimulated, {""}) : std::string();
  ShowText("title", Say(Msg::PageTitle, {kFirmwareVersionText}));
  ShowText("connect", choices_.simulated ? simulated : Say(Msg::PageConnect));
  SetEnabled("connect", choices_.canChoose);
  ShowText("update", Say(Msg::PageUpdate, {kFirmwareVersionText}));
  ShowText("stop", Say(Msg::PageStop));
  ShowText("checksum", Say(Msg::PageChecksum));
  ShowText("backup", Say(Msg::PageBackup));
  ShowText("options-heading", Say(Msg::PageOptionsHeading));
  ShowText("log-heading", Say(Msg::PageLog));
  ShowText("restore-file-label", Say(Msg::PageRestoreFile));
  ShowText("restore-write", Say(Msg::PageRestoreWrite));
  ShowText("label-identity", Say(Msg::LabelIdentity));
  ShowText("label-firmware", Say(Msg::LabelFirmware));
  ShowText("label-battery", Say(Msg::LabelBattery));
  for (std::size_t i = 0; i < kMeterOptions.size(); ++i) {
    ShowText(("option-label-" + std::to_string(i)).c_str(), Say(kOptionLabels[i]));
  }
}

void PageSession::Dispatch(const std::function<void()>& work) {
  try {
    work();
  } catch (const LinkError& refused) {
    AppendLog(Say(cli::LinkFaultMessage(refused.Fault())));
  } catch (const std::exception& failure) {
    AppendLog(failure.what());
  }
}

void PageSession::Command(PageCommand command, int argument, const std::string& text) {
  Dispatch([&] {
    switch (command) {
      case PageCommand::Update: return StartUpdate();
      case PageCommand::Stop:
        if (!meter_.Update.Running()) return;
        AppendLog(Say(Msg::PageStopAsked));
        return meter_.Update.Interrupt();
      case PageCommand::SetOption: return SetOption(argument / 2, argument % 2 != 0);
      case PageCommand::Backup: return SaveBackup();
      case PageCommand::Checksum: return ReadChecksum();
      case PageCommand::ChooserFailed: return AppendLog(Say(Msg::PageChooserFailed, {text}));
      case PageCommand::RestoreFile: return RestoreFrom(text);
      case PageCommand::RestoreWrite: return RestoreWrite(argument != 0);
    }
  });
}

void PageSession::SchedulePoll() {
  loop_.PostAfter(kPollPeriod, [this] {
    Dispatch([this] { PollTick(); });
    SchedulePoll();
  });
}

void PageSession::PollTick() {
  if (meter_.Update.Running() || meter_.Held()) return;
  if (!meter_.Link.CurrentDevice()) return ShowNoMeter();
  ShowStatus(meter_.Poll.Tick());
}

void PageSession::ShowNoMeter() {
  status_.reset();
  ShowText("identity", "");
  ShowText("firmware-version", Say(Msg::PageNoMeter));
  ShowText("battery", "");
  for (std::size_t i = 0; i < kMeterOptions.size(); ++i) ShowOption(static_cast<int>(i), std::nullopt, false);
  ShowControls();
}

void PageSession::ShowStatus(const MeterStatus& status) {
  if (!status.meterPresent) return ShowNoMeter();
  status_ = status;
  ShowText("identity", cli::TerminalSafe(status.identity));
  const std::string version = status.versionText ? cli::TerminalSafe(*status.versionText) : Say(Msg::Unknown);
  const bool complete = status.firmwareFlag == kFirmwareComplete;
  ShowText("firmware-version",
           version + " " + (status.firmwareFlag ? Say(complete ? Msg::Complete : Msg::PageIncomplete) : ""));
  if (status.batteryVolts) {
    const bool low = IsBatteryLow(*status.batteryVolts);
    ShowText("battery", cli::Fixed(*status.batteryVolts, 2) + " " + Say(Msg::Volts) +
                            (low ? " " + Say(Msg::BatteryLowCharge) : ""));
  } else {
    ShowText("battery", Say(Msg::Unknown));
  }
  for (std::size_t i = 0; i < kMeterOptions.size(); ++i) {
    ShowOption(static_cast<int>(i), status.options[i], status.complete && Changeable(kMeterOptions[i]));
  }
  ShowControls();
}

void PageSession::ShowControls() {
  const bool idle = !updating_;
  const bool read = status_ && status_->versionText && !status_->identity.empty();
  SetEnabled("update", idle && read);
  SetEnabled("stop", !idle);
  SetEnabled("backup", idle && read);
  SetEnabled("checksum", idle && meter_.Link.CurrentDevice() != nullptr);
  SetEnabled("restore-file", idle && read);
}

void PageSession::MeterFound(TJvHidDevice& device) {
  if (!MeterAgent::IsMeter(device) || !device.IsPluggedIn()) return;
  if (meter_.Link.CurrentDevice() == &device) return;
  meter_.Offer(device);
  AppendLog(Say(Msg::PageMeterConnected));
  // The first read at once rather than a second later.
  ShowStatus(meter_.Poll.Tick());
}

void PageSession::DeviceRemoved(TJvHidDevice& device) {
  if (!meter_.Removed(device)) return;
  AppendLog(Say(Msg::PageMeterDisconnected));
  restore_.Forget();
  ShowNoMeter();
}

void PageSession::StartUpdate() {
  if (meter_.Update.Running() || !meter_.Link.CurrentDevice()) return;
  const MeterStatus status = meter_.Poll.Tick();
  ShowStatus(status);
  if (!status.versionText || status.identity.empty()) return AppendLog(Say(Msg::NoStatusAnswer));
  const bool current = *status.versionText == std::u32string(kFirmwareVersionText.begin(), kFirmwareVersionText.end()) &&
                       status.firmwareFlag == kFirmwareComplete;
  if (current) return AppendLog(Say(Msg::PageAlreadyCurrent, {kFirmwareVersionText}));
  if (meter_.Payload.CarriesPlaceholder() && !choices_.simulated && !choices_.placeholderAllowed) {
    const std::string refusal = Say(Msg::RefusedPrefix) + Say(Msg::PagePlaceholderRefused);
    AppendLog(refusal);
    return ShowResult("result", false, refusal);
  }
  if (status.batteryVolts && IsBatteryLow(*status.batteryVolts)) {
    const std::string refusal =
        Say(Msg::RefusedPrefix) + Say(Msg::PageRefusedBatteryLow, {cli::Fixed(*status.batteryVolts, 2)});
    AppendLog(refusal);
    return ShowResult("result", false, refusal);
  }
  // No update without a backup of the settings, which the page then offers
  // as a download; the page has checked the placeholder image itself.
  const UpdateRules rules{.backupRequired = true,
                          .backupFolder = BackupFolderRule::DocumentsOnly,
                          .goOnWhenBackupNotWritten = false,
                          .placeholderAllowed = true};
  if (meter_.Update.Start(status.identity + *status.versionText, rules) != StartResult::Started) {
    AppendLog(Say(Msg::UpdateFailedPrefix) + Say(Msg::FailDisconnectedBeforeStart));
  }
}

void PageSession::SetOption(int index, bool on) {
  if (index < 0 || index >= static_cast<int>(kMeterOptions.size())) return;
  const MeterOption option = kMeterOptions[static_cast<std::size_t>(index)];
  if (!Changeable(option) || !meter_.Link.CurrentDevice()) return;
  if (meter_.Update.Running()) return AppendLog(Say(Msg::PageBusy));
  const OptionWriteOutcome outcome = meter_.Options.WriteAndConfirm(option, on);
  const std::string name = Say(kOptionLabels[index]);
  if (outcome.Succeeded()) {
    AppendLog(Say(Msg::PageOptionSet, {name, Say(on ? Msg::On : Msg::Off)}));
  } else {
    const std::string reads = outcome.readBack ? Say(*outcome.readBack ? Msg::On : Msg::Off) : Say(Msg::Unknown);
    AppendLog(Say(Msg::OptionNotTaken, {name, reads}) + (outcome.written ? "" : Say(Msg::OptionWriteNotConfirmed)));
  }
  ShowStatus(meter_.Poll.Tick());
}

void PageSession::SaveBackup() {
  if (meter_.Update.Running() || !status_ || !status_->versionText) return;
  const int lines = static_cast<int>(kBackupLines);
  const BackupOutcome outcome = meter_.Backup.SaveSettingsBackup(
      status_->identity + *status_->versionText, BackupFolderRule::DocumentsOnly,
      [&](int line) { ShowProgress(line + 1, lines, Say(Msg::PhaseSavingSettings)); });
  BackupEnded(outcome);
  if (outcome.result != BackupResult::Written) AppendLog(Say(Msg::BackupReadFailed));
}

void PageSession::ReadChecksum() {
  if (meter_.Update.Running() || !meter_.Link.CurrentDevice()) return;
  const std::optional<std::uint32_t> checksum = meter_.Memory.ReadChecksumConfirmed();
  if (!checksum) return AppendLog(Say(Msg::ChecksumNoAnswer));
  AppendLog(cli::ChecksumComparison(choices_.language, *checksum));
}

void PageSession::RestoreFrom(const std::filesystem::path& file) {
  if (!meter_.Link.CurrentDevice()) return;
  const MeterStatus status = meter_.Poll.Tick();
  ShowStatus(status);
  restore_.FileChosen(file, status);
}

void PageSession::RestoreWrite(bool anyway) {
  if (!meter_.Link.CurrentDevice()) return;
  // The switches show what the meter holds after the writes.
  if (restore_.Write(anyway, meter_.Poll.Tick())) ShowStatus(meter_.Poll.Tick());
}

void PageSession::LinkEventHappened(const LinkEvent& event) {
  const std::string what = Say(cli::LinkEventMessage(event.kind), {std::to_string(event.reportLength)});
  AppendLog(Say(Msg::LinkEventLine, {std::to_string(event.command), what}));
}

void PageSession::WriteNotConfirmed(std::uint8_t command) {
  AppendLog(Say(Msg::WriteNotConfirmed, {std::to_string(command)}));
}

void PageSession::UpdateStarted() {
  updating_ = true;
  SetUpdating(true, Say(Msg::PageLeaveWarning));
  ShowResult("result", true, "");
  ShowControls();
}

void PageSession::PhaseStarted(UpdatePhase phase) {
  phaseStart_ = std::chrono::steady_clock::now();
  AppendLog(Say(PhaseName(phase)));
  // The checks after the last chunk report no progress of their own: the
  // full bar says what they do meanwhile.
  if (phase == UpdatePhase::Finishing) ShowProgress(barDone_, barTotal_, Say(PhaseName(phase)));
}

void PageSession::ProgressMade(const UpdateProgress& progress) {
  const int total = std::max(progress.total, 1);
  const int done = std::clamp(cli::ConsoleProgress::Done(progress), 0, total);
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - phaseStart_);
  const std::optional<long> left = cli::ConsoleProgress::SecondsLeft(elapsed, done, total);
  std::string text = Say(PhaseName(progress.phase)) + " " + std::to_string(done * 100 / total) + "%";
  if (left && done < total) text += ", " + Say(Msg::TimeLeft, {std::to_string(*left)});
  barDone_ = done;
  barTotal_ = total;
  ShowProgress(done, total, text);
}

void PageSession::BackupEnded(const BackupOutcome& backup) {
  if (backup.result != BackupResult::Written) return;
  const std::string name = FileNameText(backup.file);
  AppendLog(Say(Msg::SettingsSaved, {name}));
  OfferDownload(backup.file.string(), name, Say(Msg::PageBackupDownload, {name}));
}

void PageSession::UpdateEnded(const UpdateOutcome& outcome) {
  updating_ = false;
  SetUpdating(false, "");
  const bool completed = outcome.result == UpdateResult::Completed;
  const std::string text =
      completed ? Say(Msg::FirmwareWritten, {kFirmwareVersionText})
                : Say(Msg::UpdateFailedPrefix) + cli::UpdateFailure(choices_.language, outcome, Msg::PageUpdateAgain);
  AppendLog(text);
  ShowResult("result", completed, text);
  ShowControls();
}

}  // namespace lu14::web
