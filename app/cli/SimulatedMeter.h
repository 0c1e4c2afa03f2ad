// The built-in simulated meters of `lu14 --simulate`, with their named faults.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ports/EventLoop.h"
#include "sim/SimHidBus.h"
#include "sim/meter/SimMeter.h"

namespace lu14::cli {

// The firmware a simulated meter has unless its fault says otherwise: an
// older one than the carried firmware, so that an update has work to do.
inline constexpr const char* kSimulatedOlderFirmware = "D1.40";

class SimulatedMeter {
 public:
  // fault: one of SimulatedFaults() or empty for healthy meters; it applies to
  // every meter. meters: how many are attached, at the device paths
  // "simulated-meter-1" ... each with an identity of its own.
  SimulatedMeter(EventLoop& loop, const std::string& fault, std::chrono::microseconds latency, int meters = 1);
  HidPlatform& Platform() { return bus_; }
  // A simulated meter itself (0: the first), for tests that look inside it.
  sim::SimMeter& Meter(std::size_t index = 0) { return *meters_.at(index); }
  // Called as the loop runs: pulls a meter out once the image is well under way.
  void Step();

 private:
  sim::SimHidBus bus_;
  std::vector<std::shared_ptr<sim::SimMeter>> meters_;
  bool unplugDuringUpdate_ = false;
};

}  // namespace lu14::cli
