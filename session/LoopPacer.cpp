#include "session/LoopPacer.h"

#include "update/UpdateParameters.h"

namespace lu14 {

LoopPacer::LoopPacer(EventLoop& loop)
    : loop_(loop),
      chunks_(std::make_shared<Ticks>(Ticks{.period = kChunkTickPeriod, .onTick = {}})),
      finish_(std::make_shared<Ticks>(Ticks{.period = kFinishTickDelay, .onTick = {}})) {}

void LoopPacer::Drive(std::function<void()> chunkTick, std::function<void()> finishTick, Dispatch dispatch) {
  chunks_->onTick = std::move(chunkTick);
  finish_->onTick = std::move(finishTick);
  dispatch_ = std::move(dispatch);
}

void LoopPacer::SetChunkTicks(bool armed) { Arm(chunks_, armed); }

void LoopPacer::SetFinishTick(bool armed) { Arm(finish_, armed); }

void LoopPacer::Arm(const std::shared_ptr<Ticks>& ticks, bool armed) {
  if (ticks->armed == armed) return;
  ticks->armed = armed;
  ++ticks->arming;
  if (armed) Schedule(ticks);
}

void LoopPacer::Schedule(const std::shared_ptr<Ticks>& ticks) {
  const std::weak_ptr<Ticks> owner = ticks;
  loop_.PostAfter(ticks->period, [this, owner, arming = ticks->arming] {
    const std::shared_ptr<Ticks> due = owner.lock();
    if (!due || !due->armed || due->arming != arming || !due->onTick) return;
    const auto tick = [&] { due->onTick(); };
    if (dispatch_) dispatch_(tick);
    else tick();
    // Still armed by the same arming (the handler left it alone): the next
    // tick a full period after this one was handled.
    if (due->armed && due->arming == arming) Schedule(due);
  });
}

}  // namespace lu14
