// The firmware update of one meter: the start (settings backup, the "in
// progress" mark), one chunk per chunk tick with a page commit after every
// sixteenth, and the finishing step (version text, checksum, completion mark).
//
// The meter's FirmwareValidFlag brackets the stream: 0x88 before the first
// chunk, 1 only once every chunk, commit, the version text and a matching
// checksum are confirmed. Anything less leaves 0x88, so the poll asks for the
// update to be run again. Every update ends in one UpdateOutcome, handed to
// the view's UpdateEnded.
#pragma once

#include <cstddef>
#include <string>

#include "device/MeterLink.h"
#include "device/MeterMemory.h"
#include "ports/Shell.h"
#include "ports/UpdatePacer.h"
#include "ports/UpdateView.h"
#include "update/FirmwarePayload.h"
#include "update/SettingsBackup.h"
#include "update/UpdateOutcome.h"

namespace lu14 {

enum class StartResult {
  Started,             // the update runs (or has already ended, Cancelled: see UpdateEnded)
  NoMeter,             // nothing to update: nothing was done
  PlaceholderRefused,  // the program carries a placeholder image the rules do not allow: nothing sent
};

class UpdateSequence {
 public:
  UpdateSequence(MeterLink& link, MeterMemory& memory, FirmwarePayload& payload, Shell& shell, UpdateView& view,
                 UpdatePacer& pacer);

  // Starts an update of the link's meter; identity names the backup file.
  // When the start cannot go on, the update has ended (Cancelled) by the
  // time it returns.
  StartResult Start(const std::u32string& identity, const UpdateRules& rules);
  // One chunk; held off while the start runs or another transaction waits in
  // its box. The stream ends by arming the finish tick.
  void ChunkTick();
  // The finishing step, once: a tick that comes while its box is open waits.
  void FinishTick();
  // The meter the update works on has left: the update ends (Disconnected).
  void MeterRemoved();
  // Stops the update. Called while the start saves the settings (from the
  // view's ProgressMade), it is taken before the next backup line or before
  // the meter is marked: the update ends Cancelled (Interrupted) with nothing
  // written to the meter, and the backup, cut short, is not kept. Once the
  // start has returned, the update stops between two chunks (Stopped,
  // Interrupted): the meter is left marked incomplete; a new update starts it
  // over.
  void Interrupt();

  // From a successful Start to the outcome.
  bool Running() const { return running_; }
  // The backups updates save from now on go to this folder of the backup
  // folder (SettingsBackup::KeepApartIn).
  void KeepBackupsApartIn(const std::string& subfolder) { backup_.KeepApartIn(subfolder); }
  // While Start runs (its backup and mark, and any box they open).
  bool Starting() const { return starting_; }
  std::size_t StreamPos() const { return streamPos_; }

 private:
  void Fault(UpdateFault fault);
  // Ends the update with this result, once.
  void End(UpdateResult result);
  bool FinishWrites();

  MeterLink& link_;
  MeterMemory& memory_;
  FirmwarePayload& payload_;
  Shell& shell_;
  UpdateView& view_;
  UpdatePacer& pacer_;
  SettingsBackup backup_;
  UpdateOutcome outcome_;
  std::size_t streamPos_ = 0;
  std::size_t confirmed_ = 0;
  bool running_ = false;
  // The start runs the backup and the flag write with the chunk ticks armed; a
  // box in them runs a message loop, and no chunk may go out meanwhile.
  bool starting_ = false;
  bool finishing_ = false;
  // Interrupt() came while the start saved the settings.
  bool stopAsked_ = false;
};

}  // namespace lu14
