// UpdateView: where the firmware update shows its progress, its faults and
// its end. The values it is given live with the update
// (update/UpdateOutcome.h); what paces its ticks is an UpdatePacer.
#pragma once

namespace lu14 {

// Values the view is given (update/UpdateOutcome.h).
enum class UpdatePhase : int;
enum class UpdateFault : int;
struct UpdateProgress;
struct BackupOutcome;
struct UpdateOutcome;

class UpdateView {
 public:
  virtual ~UpdateView() = default;
  // The update has taken the meter (phase SavingSettings): the view stops
  // polling and offers nothing else to start. The chunk ticks are armed right
  // after (the update holds them off until its start is done).
  virtual void UpdateStarted() = 0;
  virtual void PhaseStarted(UpdatePhase phase) = 0;
  virtual void ProgressMade(const UpdateProgress& progress) = 0;
  virtual void BackupEnded(const BackupOutcome& backup) = 0;
  // A fault as it is found, before the update goes on or ends.
  virtual void FaultFound(UpdateFault fault) = 0;
  // The update is over. Completed, Cancelled and Unverified hand the meter back
  // to polling; after Stopped it stays as it is until the meter leaves.
  virtual void UpdateEnded(const UpdateOutcome& outcome) = 0;
};

}  // namespace lu14
