#include "window/controls/TTimer.h"

#include <stdexcept>
#include <string>

#include "window/ShellTexts.h"

namespace lu14 {

TTimer::TTimer(Shell& shell, TimerId id, Milliseconds interval, bool enabled)
    : shell_(shell), id_(id), interval_(interval), enabled_(enabled) {}

TTimer::~TTimer() { shell_.StopTimer(id_); }

void TTimer::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Rearm();
}

void TTimer::SetOnTimer(std::function<void()> handler) {
  onTimer_ = std::move(handler);
  Rearm();
}

void TTimer::Tick() const {
  if (enabled_ && onTimer_) onTimer_();
}

void TTimer::Rearm() {
  shell_.StopTimer(id_);
  if (!enabled_ || interval_.count() == 0 || !onTimer_) return;
  if (!shell_.StartTimer(id_, interval_)) {
    // Left off, so that switching it on again asks the platform again.
    enabled_ = false;
    throw std::runtime_error(std::string(kNoTimersText));
  }
}

}  // namespace lu14
