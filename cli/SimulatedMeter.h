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
  // A bus that presents some of the meters, served on one loop.
  class Bus {
   public:
    Bus(EventLoop& loop, std::chrono::microseconds latency);
    HidPlatform& Platform() { return hid_; }
    // Called as the loop runs: pulls out a meter whose fault says so once its
    // image is well under way.
    void Step();

   private:
    friend class SimulatedMeter;
    struct Attached {
      std::uint32_t deviceId;
      std::shared_ptr<sim::SimMeter> meter;
      bool unplugDuringUpdate;
    };
    sim::SimHidBus hid_;
    std::vector<Attached> attached_;
  };

  // fault: one of SimulatedFaults() or empty for healthy meters. faultMeter:
  // the meter it hits (1-based), 0 for every one. meters: how many are
  // attached, at the device paths "simulated-meter-1" ... each with an
  // identity of its own.
  SimulatedMeter(EventLoop& loop, const std::string& fault, std::chrono::microseconds latency, int meters = 1,
                 int faultMeter = 0);
  // Every meter, on the loop given above.
  HidPlatform& Platform() { return bus_.Platform(); }
  void Step() { bus_.Step(); }
  // The meter with this id alone on a bus of its own, served on `loop`: for a
  // run that drives each meter from a thread of its own (update --all). Null
  // when no attached meter has that id. A meter is used by one bus at a time.
  std::unique_ptr<Bus> BusOf(const std::string& id, EventLoop& loop) const;
  // A simulated meter itself (0: the first), for tests that look inside it.
  sim::SimMeter& Meter(std::size_t index = 0) { return *meters_.at(index).meter; }

 private:
  struct Made {
    std::shared_ptr<sim::SimMeter> meter;
    bool attached;
    bool unplugDuringUpdate;
  };
  static void Attach(Bus& bus, std::size_t index, const Made& made);

  std::chrono::microseconds latency_;
  std::vector<Made> meters_;
  Bus bus_;
};

}  // namespace lu14::cli
