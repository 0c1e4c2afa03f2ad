// UpdatePacer: what paces a firmware update. After its start, the update goes
// on in ticks: one chunk a chunk tick (about every 2 ms) while chunk ticks are
// armed, then the finishing step on the one finish tick. The update arms and
// stops them; the pacer calls UpdateSequence::ChunkTick and FinishTick.
//
// The window paces on its two timers; the console tool on its runtime's loop
// (LoopPacer).
#pragma once

namespace lu14 {

class UpdatePacer {
 public:
  virtual ~UpdatePacer() = default;
  virtual void SetChunkTicks(bool armed) = 0;
  virtual void SetFinishTick(bool armed) = 0;
};

}  // namespace lu14
