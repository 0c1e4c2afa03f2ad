#include "update/UpdateSequence.h"

#include "app/MessageBoxes.h"
#include "app/TMForm.h"
#include "device/DiscoveryTexts.h"
#include "update/UpdateTexts.h"

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

UpdateSequence::UpdateSequence(TMForm& form, MeterMemory& memory, Shell& shell)
    : form_(form), memory_(memory), shell_(shell), backup_(form, memory, shell) {}

void UpdateSequence::Start() {
  // Between a meter's removal and the next poll tick B1 is still enabled:
  // there is nothing to update then.
  if (!form_.Link.CurrentDevice()) return;
  Raised starting(starting_);
  form_.LB.Clear();
  form_.LB.Append(std::string(kLogMeterHead) + form_.State().ModelSuffix + std::string(kLogConnectedTail));
  streamPos_ = 0;
  form_.Timer1.SetEnabled(false);
  form_.Timer2.SetEnabled(true);
  form_.Timer3.SetEnabled(false);
  form_.B1.SetEnabled(false);
  form_.G6.SetEnabled(false);

  if (backup_.SaveSettingsBackup() == SettingsBackup::Outcome::Failed) return CancelStart();
  // Until the meter confirms the "in progress" mark, no chunk may go out: a
  // meter with a half-written image must never read as complete.
  if (!memory_.WriteEeprom(kEepromFirmwareValidFlag, kFirmwareUpdating)) {
    form_.LB.Append(std::string(kLogFlagRefused));
    return CancelStart();
  }
  form_.Payload.BuildImageSegment(kSegment1);
  form_.Payload.BuildImageSegment(kSegment4);
  form_.Label1.SetText(std::string(kLabelUpdating));
}

void UpdateSequence::CancelStart() {
  form_.Timer2.SetEnabled(false);
  form_.Timer1.SetEnabled(true);  // the poll enables B1 and G6 again
}

void UpdateSequence::Stall() { shell_.ShowMessageBox(DeviceProblemBox(kChunkFailedBox)); }

void UpdateSequence::ChunkTick() {
  // Held off (the timer stays on) while the start runs or another handler's
  // transaction waits in its box.
  if (starting_ || form_.Link.InTransaction()) return;
  form_.Timer2.SetEnabled(false);
  form_.Pr1.SetMax(kProgressPages);
  if (streamPos_ >= kStreamedLength) {
    form_.Timer3.SetEnabled(true);
    return;
  }
  Report& out = form_.Link.OutReport;
  out[1] = static_cast<std::uint8_t>(streamPos_ % kPageSize);
  unsigned sum = out[1];
  for (std::size_t i = 0; i < kChunkSize; ++i) {
    out[2 + i] = form_.Payload.StreamImage()[streamPos_++];
    sum += out[2 + i];
  }
  // An error instead of a result (the link itself failed) ends the tick with
  // the stream stopped, as the meter's state is then unknown.
  try {
    const bool written = form_.Link.SendCommand(cmdWriteChunk, true);
    const Report& reply = form_.Link.InReport;
    // A transaction that gave up leaves an older reply whose sum can match by
    // chance: it never counts as written.
    if (!written || reply[2] * 256u + reply[1] != sum) return Stall();
    if (streamPos_ % kPageSize == 0) {
      const auto pages = static_cast<int>(streamPos_ / kPageSize);
      form_.Pr1.SetPosition(pages);
      out[1] = static_cast<std::uint8_t>(pages - 1);
      out[2] = kPageTag;
      const bool committed = form_.Link.SendCommand(cmdCommitPage, false);
      shell_.Sleep(kCommitPause);
      if (!committed) return Stall();
    }
  } catch (const std::exception&) {
    return;
  }
  form_.Timer2.SetEnabled(true);
}

bool UpdateSequence::FinishWrites() {
  bool versionWritten = true;
  for (std::size_t i = 0; i < kFirmwareVersionText.size(); ++i) {
    versionWritten &= memory_.WriteEeprom(static_cast<std::uint16_t>(kEepromVersionText + i),
                                          static_cast<std::uint8_t>(kFirmwareVersionText[i]));
    shell_.Sleep(kVersionBytePause);
  }
  versionWritten &= memory_.WriteEeprom(kEepromAfterUpdate, kAfterUpdateValue);
  if (!versionWritten) form_.LB.Append(std::string(kLogVersionWriteFailed));

  bool checksumMatches = false;
  try {
    if (form_.Link.SendCommand(cmdReadChecksum, false)) {
      shell_.Sleep(kChecksumPause);
      const Report& reply = form_.Link.InReport;
      checksumMatches = (reply[1] | reply[2] << 8 | reply[3] << 16) == kFirmwareChecksum;
    }
  } catch (const std::exception&) {
    checksumMatches = false;
  }
  if (!checksumMatches) form_.LB.Append(std::string(kLogChecksumFailed));
  return versionWritten && checksumMatches;
}

void UpdateSequence::FinishTick() {
  // Once only: a tick that comes while a box of this step is open waits.
  if (finishing_ || form_.Link.InTransaction()) return;
  Raised finishing(finishing_);
  bool complete = FinishWrites();
  if (complete) {
    complete = memory_.WriteEeprom(kEepromFirmwareValidFlag, kFirmwareComplete);
    if (!complete) form_.LB.Append(std::string(kLogCompleteFlagFailed));
  }
  form_.Timer1.SetEnabled(true);
  form_.Timer3.SetEnabled(false);
  if (complete) form_.LB.Append(std::string(kLogUpdateDone));
}

}  // namespace lu14
