// A message timer of the form. The runtime schedules the ticks (first tick one
// full interval after switching on, never more than one waiting); this class
// keeps the on/off state and the rule that switching on a timer that is
// already on changes nothing and does not restart its interval.
#pragma once

#include <functional>

#include "ports/Shell.h"

namespace lu14 {

class TTimer {
 public:
  // enabled: the timer's state at creation; with a handler attached it starts
  // counting its interval from then on.
  TTimer(Shell& shell, TimerId id, Milliseconds interval, bool enabled);
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  TimerId Id() const { return id_; }
  Milliseconds Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }

  // Switching on from off starts a full interval; throws std::runtime_error
  // ("Not enough timers available") when the platform refuses the timer, and
  // the timer is then off. Any other call changes nothing.
  void SetEnabled(bool enabled);

  // Attaches the tick handler. A timer ticks only while it is on, its interval
  // is not zero and a handler is attached.
  void SetOnTimer(std::function<void()> handler);

  // A tick delivered by the runtime: runs the handler while the timer is on.
  void Tick() const;

 private:
  void Rearm();

  Shell& shell_;
  TimerId id_;
  Milliseconds interval_;
  bool enabled_;
  std::function<void()> onTimer_;
};

}  // namespace lu14
