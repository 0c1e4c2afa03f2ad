// LoopPacer: paces a firmware update on a runtime's own loop (EventLoop's
// tasks posted for later), for a front end without window timers: the
// console tool. Arming the chunk ticks from off schedules the first one a
// full period later; arming them while on changes nothing; a tick comes only
// while they are armed. The finish tick keeps the same rules.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "ports/EventLoop.h"
#include "ports/UpdatePacer.h"

namespace lu14 {

class LoopPacer : public UpdatePacer {
 public:
  // Runs a tick; a front end reports there what the tick throws.
  using Dispatch = std::function<void(const std::function<void()>&)>;

  explicit LoopPacer(EventLoop& loop);
  LoopPacer(const LoopPacer&) = delete;
  LoopPacer& operator=(const LoopPacer&) = delete;

  // What the ticks run: UpdateSequence::ChunkTick and FinishTick. A tick
  // posted before the pacer was destroyed does nothing.
  void Drive(std::function<void()> chunkTick, std::function<void()> finishTick, Dispatch dispatch = {});

  void SetChunkTicks(bool armed) override;
  void SetFinishTick(bool armed) override;

 private:
  struct Ticks {
    std::chrono::microseconds period;
    bool armed = false;
    // Counts the armings: a task posted for an earlier one does nothing.
    std::uint64_t arming = 0;
    std::function<void()> onTick;
  };
  void Arm(const std::shared_ptr<Ticks>& ticks, bool armed);
  void Schedule(const std::shared_ptr<Ticks>& ticks);

  EventLoop& loop_;
  Dispatch dispatch_;
  std::shared_ptr<Ticks> chunks_;
  std::shared_ptr<Ticks> finish_;
};

}  // namespace lu14
