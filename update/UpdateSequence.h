// The firmware update: the start (B1), one chunk per Timer2 tick with a page
// commit after every sixteenth, and the finishing step (Timer3).
//
// The meter's FirmwareValidFlag brackets the stream: 0x88 before the first
// chunk, 1 only once every chunk, commit, the version text and a matching
// checksum are confirmed. Anything less leaves 0x88, so the poll asks for the
// update to be run again.
#pragma once

#include <cstddef>

#include "app/Shell.h"
#include "device/MeterMemory.h"
#include "update/SettingsBackup.h"

namespace lu14 {

class TMForm;

class UpdateSequence {
 public:
  UpdateSequence(TMForm& form, MeterMemory& memory, Shell& shell);

  void Start();        // B1Click
  void ChunkTick();    // Timer2Timer
  void FinishTick();   // Timer3Timer

  std::size_t StreamPos() const { return streamPos_; }
  SettingsBackup& Backup() { return backup_; }

 private:
  // Ends an update start that must not go on: nothing reaches the meter, and
  // polling resumes.
  void CancelStart();
  // Stops the stream where it stands, telling the user.
  void Stall();
  bool FinishWrites();

  TMForm& form_;
  MeterMemory& memory_;
  Shell& shell_;
  SettingsBackup backup_;
  std::size_t streamPos_ = 0;
  // The start runs the backup and the flag write with Timer2 armed; a box in
  // them runs a message loop, and no chunk may go out meanwhile.
  bool starting_ = false;
  bool finishing_ = false;
};

}  // namespace lu14
