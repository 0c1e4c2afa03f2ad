// The built-in simulated meter of `lu14 --simulate`, with its named faults.
#pragma once

#include <memory>
#include <string>

#include <chrono>

#include "ports/EventLoop.h"
#include "sim/SimHidBus.h"
#include "sim/meter/SimMeter.h"

namespace lu14::cli {

class SimulatedMeter {
 public:
  // fault: one of SimulatedFaults() or empty for a healthy meter.
  SimulatedMeter(EventLoop& loop, const std::string& fault, std::chrono::microseconds latency);
  HidPlatform& Platform() { return bus_; }
  // The simulated meter itself, for tests that look inside it.
  sim::SimMeter& Meter() { return *meter_; }
  // Called as the loop runs: pulls the meter out once the image is well under way.
  void Step();

 private:
  sim::SimHidBus bus_;
  std::shared_ptr<sim::SimMeter> meter_ = std::make_shared<sim::SimMeter>();
  bool unplugDuringUpdate_ = false;
};

}  // namespace lu14::cli
