#include "update/UpdateSequence.h"

#include <span>

#include "ports/Refusal.h"
#include "update/UpdateParameters.h"

namespace lu14 {
namespace {

// Clears a flag when the scope ends, also by an exception.
struct Raised {
  explicit Raised(bool& flag) : flag_(flag) { flag_ = true; }
  ~Raised() { flag_ = false; }
  Raised(const Raised&) = delete;
  Raised& operator=(const Raised&) = delete;

 private:
  bool& flag_;
};

}  // namespace

UpdateSequence::UpdateSequence(MeterLink& link, MeterMemory& memory, FirmwarePayload& payload, Shell& shell,
                               UpdateView& view, UpdatePacer& pacer)
    : link_(link),
      memory_(memory),
      payload_(payload),
      shell_(shell),
      view_(view),
      pacer_(pacer),
      backup_(memory, shell) {}

void UpdateSequence::Fault(UpdateFault fault) {
  outcome_.faults.push_back(fault);
  view_.FaultFound(fault);
}

void UpdateSequence::End(UpdateResult result) {
  if (!running_) return;  // already ended, by the meter leaving
  running_ = false;
  outcome_.result = result;
  outcome_.bytesConfirmed = confirmed_;
  view_.UpdateEnded(outcome_);
}

StartResult UpdateSequence::Start(const std::u32string& identity, const UpdateRules& rules) {
  // Between a meter's removal and the next poll tick an update can still be
  // asked for: there is nothing to update then.
  if (!link_.CurrentDevice()) return StartResult::NoMeter;
  // The placeholder passes the meter's checksum check by design: streamed to
  // a real meter it would leave it marked complete with no firmware in it.
  if (payload_.CarriesPlaceholder() && !rules.placeholderAllowed) {
    view_.FaultFound(UpdateFault::PlaceholderFirmware);
    return StartResult::PlaceholderRefused;
  }
  Raised starting(starting_);
  view_.UpdateStarted();
  pacer_.SetChunkTicks(true);
  outcome_ = UpdateOutcome{};
  streamPos_ = 0;
  confirmed_ = 0;
  running_ = true;
  stopAsked_ = false;

  view_.PhaseStarted(UpdatePhase::SavingSettings);
  outcome_.backup = backup_.SaveSettingsBackup(
      identity, rules.backupFolder,
      [this](int line) { view_.ProgressMade({UpdatePhase::SavingSettings, line, static_cast<int>(kBackupLines)}); },
      [this] { return stopAsked_; });
  view_.BackupEnded(outcome_.backup);
  const auto cancel = [this](UpdateFault fault) {
    Fault(fault);
    pacer_.SetChunkTicks(false);
    End(UpdateResult::Cancelled);
    return StartResult::Started;
  };
  const bool notWritten =
      outcome_.backup.result == BackupResult::Failed && outcome_.backup.fault == UpdateFault::BackupWriteFailed;
  if (outcome_.backup.result == BackupResult::Failed && !(notWritten && rules.goOnWhenBackupNotWritten)) {
    return cancel(outcome_.backup.fault);
  }
  if (outcome_.backup.result == BackupResult::Skipped && rules.backupRequired) {
    return cancel(UpdateFault::BackupUnavailable);
  }
  // The last point at which stopping leaves the meter as it was.
  if (stopAsked_) return cancel(UpdateFault::Interrupted);
  // Until the meter confirms the "in progress" mark, no chunk may go out: a
  // meter with a half-written image must never read as complete.
  if (!memory_.WriteEeprom(kEepromFirmwareValidFlag, kFirmwareUpdating)) return cancel(UpdateFault::StartMarkRefused);
  payload_.BuildImageSegment(kSegment1);
  payload_.BuildImageSegment(kSegment4);
  view_.PhaseStarted(UpdatePhase::Writing);
  return StartResult::Started;
}

void UpdateSequence::ChunkTick() {
  if (starting_ || link_.InTransaction()) return;
  pacer_.SetChunkTicks(false);
  // A chunk goes out only after a start that saved the settings and set the mark.
  if (!running_) return;
  if (streamPos_ == 0) view_.ProgressMade({UpdatePhase::Writing, 0, kProgressPages});
  if (streamPos_ >= kStreamedLength) {
    view_.PhaseStarted(UpdatePhase::Finishing);
    pacer_.SetFinishTick(true);
    return;
  }
  const std::size_t position = streamPos_;
  const std::span<const std::uint8_t, kChunkSize> chunk(payload_.StreamImage().data() + position, kChunkSize);
  streamPos_ += kChunkSize;
  // A refusal instead of a result (the link itself failed) stops the stream,
  // as the meter's state is then unknown.
  try {
    const std::optional<std::uint16_t> sum = memory_.WriteChunk(position, chunk);
    if (sum != ChunkSum(static_cast<std::uint8_t>(position % kPageSize), chunk)) {
      Fault(UpdateFault::ChunkNotConfirmed);
      return End(UpdateResult::Stopped);
    }
    confirmed_ = streamPos_;
    if (streamPos_ % kPageSize == 0) {
      const auto pages = static_cast<int>(streamPos_ / kPageSize);
      view_.ProgressMade({UpdatePhase::Writing, pages, kProgressPages});
      if (!memory_.CommitPage(static_cast<std::uint8_t>(pages - 1))) {
        Fault(UpdateFault::ChunkNotConfirmed);
        return End(UpdateResult::Stopped);
      }
    }
  } catch (const Refusal&) {
    Fault(UpdateFault::LinkFailed);
    return End(UpdateResult::Stopped);
  }
  pacer_.SetChunkTicks(true);
}

bool UpdateSequence::FinishWrites() {
  bool versionWritten = true;
  for (std::size_t i = 0; i < kFirmwareVersionText.size(); ++i) {
    versionWritten &= memory_.WriteEeprom(static_cast<std::uint16_t>(kEepromVersionText + i),
                                          static_cast<std::uint8_t>(kFirmwareVersionText[i]));
    shell_.Sleep(kVersionBytePause);
  }
  versionWritten &= memory_.WriteEeprom(kEepromAfterUpdate, kAfterUpdateValue);
  if (!versionWritten) Fault(UpdateFault::VersionTextNotWritten);

  bool checksumMatches = false;
  try {
    checksumMatches = memory_.ReadChecksum().Confirmed() == kFirmwareChecksum;
  } catch (const Refusal&) {
    checksumMatches = false;
  }
  if (!checksumMatches) Fault(UpdateFault::ChecksumMismatch);
  return versionWritten && checksumMatches;
}

void UpdateSequence::FinishTick() {
  if (finishing_ || link_.InTransaction()) return;
  if (!running_) return pacer_.SetFinishTick(false);
  Raised finishing(finishing_);
  bool complete = FinishWrites();
  if (complete) {
    complete = memory_.WriteEeprom(kEepromFirmwareValidFlag, kFirmwareComplete);
    if (!complete) Fault(UpdateFault::CompleteMarkNotWritten);
  }
  pacer_.SetFinishTick(false);
  End(complete ? UpdateResult::Completed : UpdateResult::Unverified);
}

void UpdateSequence::Interrupt() {
  if (!running_) return;
  if (starting_) {
    stopAsked_ = true;
    return;
  }
  Fault(UpdateFault::Interrupted);
  pacer_.SetChunkTicks(false);
  pacer_.SetFinishTick(false);
  End(UpdateResult::Stopped);
}

void UpdateSequence::MeterRemoved() {
  if (!running_) return;
  Fault(UpdateFault::MeterRemoved);
  pacer_.SetChunkTicks(false);
  pacer_.SetFinishTick(false);
  End(UpdateResult::Disconnected);
}

}  // namespace lu14
