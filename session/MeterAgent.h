// MeterAgent: one meter and everything the tool does with it, over one link,
// under any front end: which HID device is a meter and which one the agent
// holds, its removal, the status poll, the option bytes, the firmware update
// with its settings backup, a restore and the checksum readout. Each job
// ends in its outcome value (MeterStatus, OptionWriteOutcome, BackupOutcome,
// RestoreOutcome, UpdateOutcome); the front end words them and shows them
// through the views it implements, and paces the update through its pacer.
// Several agents can run side by side, one per meter.
#pragma once

#include <optional>
#include <string>

#include "device/LinkEvent.h"
#include "device/MeterLink.h"
#include "device/MeterMemory.h"
#include "device/TJvHidDevice.h"
#include "ports/LinkObserver.h"
#include "ports/Shell.h"
#include "ports/StatusView.h"
#include "ports/UpdatePacer.h"
#include "ports/UpdateView.h"
#include "status/DeviceOptions.h"
#include "status/MeterStatus.h"
#include "status/StatusPoll.h"
#include "update/FirmwarePayload.h"
#include "update/SettingsBackup.h"
#include "update/SettingsRestore.h"
#include "update/UpdateOutcome.h"
#include "update/UpdateSequence.h"

namespace lu14 {

class MeterAgent : UpdateView {
 public:
  // The views and the pacer must outlive the agent; none is called while it
  // is built. pollReads: how the status poll takes the bytes it reads.
  MeterAgent(Shell& shell, LinkObserver& linkObserver, StatusView& statusView, UpdateView& updateView,
             UpdatePacer& pacer, PollReads pollReads);
  MeterAgent(const MeterAgent&) = delete;
  MeterAgent& operator=(const MeterAgent&) = delete;

  // A HID device of the meter's vendor and product.
  static bool IsMeter(const TJvHidDevice& device);

  // The agent works with this meter from now on.
  void Bind(TJvHidDevice& device);
  // A meter was found: the agent works with it, unless an update holds the
  // meter it has. Then the newcomer waits until the update lets go (no part
  // of an update may reach another meter).
  void Offer(TJvHidDevice& device);
  bool IsCurrent(const TJvHidDevice& device) const { return Link.CurrentDevice() == &device; }
  // A device left. When it is the agent's meter, the agent has none from now
  // on and an update running on it ends (Disconnected); true then.
  bool Removed(const TJvHidDevice& device);
  // An update holds its meter from its start until it hands the meter back
  // (every end but Stopped) or the meter leaves.
  bool Held() const { return held_ != nullptr || Update.Starting(); }
  // Once no update holds the meter, works with a meter found meanwhile.
  void FollowNewcomer();

  // Every backup the agent saves from now on (its own and its updates') goes
  // to this folder of the backup folder: a simulated meter's, apart.
  void KeepBackupsApartIn(const std::string& subfolder) {
    Backup.KeepApartIn(subfolder);
    Update.KeepBackupsApartIn(subfolder);
  }

  // How the last update ended; nothing before the first.
  const std::optional<UpdateOutcome>& LastUpdate() const { return lastUpdate_; }

 private:
  // UpdateView: notes which meter an update holds and how it ended, and
  // passes everything on to the front end's view.
  void UpdateStarted() override;
  void PhaseStarted(UpdatePhase phase) override { frontView_.PhaseStarted(phase); }
  void ProgressMade(const UpdateProgress& progress) override { frontView_.ProgressMade(progress); }
  void BackupEnded(const BackupOutcome& backup) override { frontView_.BackupEnded(backup); }
  void FaultFound(UpdateFault fault) override { frontView_.FaultFound(fault); }
  void UpdateEnded(const UpdateOutcome& outcome) override;
  // A meter was matched: it is checked out and the carried firmware made ready.
  void Matched(TJvHidDevice& device);

  UpdateView& frontView_;
  const TJvHidDevice* held_ = nullptr;
  TJvHidDevice* newcomer_ = nullptr;
  std::optional<UpdateOutcome> lastUpdate_;

 public:
  // The carried firmware: its working copy and the image in sending order.
  FirmwarePayload Payload;
  MeterLink Link;
  MeterMemory Memory;
  StatusPoll Poll;
  DeviceOptions Options;
  SettingsBackup Backup;
  SettingsRestore Restore;
  UpdateSequence Update;
};

}  // namespace lu14
