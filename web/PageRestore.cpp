#include "web/PageRestore.h"

#include <fstream>

#include "cli/output/RestoreWords.h"
#include "cli/output/TerminalText.h"
#include "ports/Utf.h"
#include "update/BackupFile.h"
#include "update/SettingsBackup.h"
#include "web/PageBridge.h"

namespace lu14::web {
namespace {

using cli::Msg;

// How the differences name an option byte: by its switch's label on the page.
std::string OptionLabel(cli::Language language, MeterOption option) {
  constexpr Msg kLabels[] = {Msg::PageOptionAutoSave, Msg::PageOptionCapacitance, Msg::PageOptionMenuSwap,
                             Msg::PageOptionModifiedMeter};
  return cli::Text(language, kLabels[static_cast<int>(option)]);
}

}  // namespace

void PageRestore::FileChosen(const std::filesystem::path& file, const MeterStatus& status) {
  Forget();
  if (meter_.Update.Running() || meter_.Held()) return Ended(false, Say(Msg::PageBusy));
  const std::optional<EepromImage> backup = ReadFile(file);
  if (!backup) return;
  if (!status.versionText || status.identity.empty()) return Ended(false, Say(Msg::NoStatusAnswer));

  Pending pending{.file = file, .backup = *backup, .identity = status.identity, .plan = {}, .doubt = {}};
  const std::string shown = FileNameText(file);
  std::string notice;
  if (const std::optional<BackupName> name = BackupNameOf(file); !name) {
    pending.doubt = Say(Msg::NameHoldsNoIdentity, {shown});
  } else if (!NamesMeter(*name, status.identity)) {
    pending.doubt = Say(Msg::OtherMetersBackup,
                        {shown, cli::Utf8TerminalSafe(name->identity), cli::TerminalSafe(status.identity)});
  } else if (name->versionText != CodePointsToUtf8(FileNameSafe(*status.versionText))) {
    notice = Say(Msg::FirmwareSinceBackup,
                 {cli::Utf8TerminalSafe(name->versionText), cli::TerminalSafe(*status.versionText)});
  }
  if (pending.doubt) notice = *pending.doubt;
  ShowText("restore-notice", notice);
  if (!notice.empty()) AppendLog(notice);

  const std::optional<RestorePlan> plan = Compare(*backup);
  if (!plan) return;
  pending.plan = *plan;
  if (plan->toWrite.empty()) {
    ShowLines("restore-plan", cli::PlanLines(language_, *plan, shown, [this](MeterOption option) {
                return OptionLabel(language_, option);
              }));
    return Ended(true, Say(Msg::NothingToRestore, {shown}));
  }
  pending_ = std::move(pending);
  ShowPlan(*pending_);
}

bool PageRestore::Write(bool anyway, const MeterStatus& status) {
  if (!pending_) return false;
  if (meter_.Update.Running() || meter_.Held()) {
    AppendLog(Say(Msg::PageBusy));
    return false;
  }
  if (pending_->doubt && !anyway) {
    AppendLog(Say(Msg::PageRestoreAnywayNeeded, {*pending_->doubt, Say(Msg::PageRestoreAnyway)}));
    return false;
  }
  if (status.identity != pending_->identity) {
    Forget();
    Ended(false, Say(Msg::PageRestoreOtherMeter));
    return false;
  }
  // What the user saw may no longer be what the meter holds (an option
  // switched on the meter meanwhile): the meter is read again, and only the
  // very differences shown are written.
  const std::optional<RestorePlan> now = Compare(pending_->backup);
  if (!now) {
    Forget();
    return false;
  }
  if (now->toWrite != pending_->plan.toWrite) {
    pending_->plan = *now;
    ShowPlan(*pending_);
    AppendLog(Say(Msg::PageRestoreChanged));
    if (now->toWrite.empty()) pending_.reset();
    return false;
  }
  const Pending done = std::move(*pending_);
  Forget();
  const RestoreOutcome outcome = meter_.Restore.Write(done.plan);
  if (outcome.Succeeded()) {
    Ended(true, Say(Msg::Restored, {std::to_string(outcome.bytes.size()), FileNameText(done.file)}));
  } else {
    Ended(false, cli::RestoreFailure(language_, outcome) + "; " + Say(Msg::PageRestoreAgain));
  }
  return true;
}

void PageRestore::Forget() {
  pending_.reset();
  ShowLines("restore-plan", {});
  ShowText("restore-notice", "");
  ShowCheckbox("restore-anyway", "");
  SetEnabled("restore-write", false);
}

std::optional<EepromImage> PageRestore::ReadFile(const std::filesystem::path& file) {
  const std::string shown = FileNameText(file);
  std::ifstream in(file, std::ios::binary);
  // No backup is longer than a whole one: a byte more says the file is not one.
  std::string text(kLongestBackupText + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad() || !in.is_open()) {
    Ended(false, Say(Msg::FileUnreadable, {shown}));
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kLongestBackupText) {
    Ended(false, Say(Msg::FileTooLarge, {shown, std::to_string(kLongestBackupText)}));
    return std::nullopt;
  }
  const BackupText backup = ReadBackupText(text);
  if (!backup.image) Ended(false, cli::NotABackup(language_, shown, backup.error));
  return backup.image;
}

std::optional<RestorePlan> PageRestore::Compare(const EepromImage& backup) {
  const EepromReading reading = meter_.Restore.ReadMeter();
  if (!reading.image) {
    Ended(false, Say(Msg::EepromUnreadable, {std::to_string(reading.failedAt)}));
    return std::nullopt;
  }
  return CompareImages(*reading.image, backup);
}

void PageRestore::ShowPlan(const Pending& pending) {
  ShowLines("restore-plan", cli::PlanLines(language_, pending.plan, FileNameText(pending.file),
                                           [this](MeterOption option) { return OptionLabel(language_, option); }));
  ShowCheckbox("restore-anyway", pending.doubt ? Say(Msg::PageRestoreAnyway) : "");
  SetEnabled("restore-write", !pending.plan.toWrite.empty());
}

void PageRestore::Ended(bool success, const std::string& text) {
  AppendLog(text);
  ShowResult("restore-result", success, text);
}

}  // namespace lu14::web
