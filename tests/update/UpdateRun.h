// One run of the tool with a simulated meter, from start to a whole update,
// for the update tests and the fault sweep.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "window/TMForm.h"
#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"
#include "sim/meter/SimMeter.h"
#include "tests/device/MeterFixture.h"
#include "window/WindowTexts.h"
#include "update/BackupFile.h"
#include "update/UpdateParameters.h"

namespace lu14::testing {

inline constexpr std::uint32_t kMeterId = 7;

// The image a clean update must leave in the meter's flash.
inline const FirmwareBytes& ExpectedImage() { return CarriedStreamImage(); }

// The simulated meter's EEPROM as a backup holds it.
inline EepromImage EepromOf(const sim::SimMeter& meter) {
  EepromImage image{};
  std::copy(meter.EepromBytes().begin(), meter.EepromBytes().end(), image.begin());
  return image;
}

struct UpdateRun {
  explicit UpdateRun(LocalTime start = {2026, 12, 10, 9, 30, 0}) : runtime(Setup(files, start)) {
    meter->SetClock([this] { return runtime.Elapsed(); });  // transfers carry their virtual time
    bus.Attach(MeterSpec(meter, kMeterId));
    runtime.SetEventSink(&form);
  }

  // Runs until the next tick of this timer has been handled.
  bool RunThroughTick(TimerId id) {
    const auto count = [&] {
      return std::count_if(runtime.Ticks().begin(), runtime.Ticks().end(), [id](const auto& t) { return t.id == id; });
    };
    const auto before = count();
    return runtime.RunUntil([&] { return count() > before; }, std::chrono::seconds(3));
  }
  // A complete poll, so that B1 is enabled and the identity known.
  void Poll() { RunThroughTick(kTimer1Id); }
  void PressB1() { form.UserClick(ControlId::B1); }
  bool Logged(std::string_view line) const {
    return std::find(form.LB.Lines().begin(), form.LB.Lines().end(), line) != form.LB.Lines().end();
  }
  // Runs until the update has ended one way or the other: the success line, or
  // no update timer left running.
  void RunUpdateToItsEnd(sim::SimTime limit = std::chrono::seconds(60)) {
    runtime.RunUntil([&] { return Logged(kLogUpdateDone) || (!form.Timer2.Enabled() && !form.Timer3.Enabled()); },
                     limit);
  }
  bool MeterHoldsTheImage() const {
    return std::equal(ExpectedImage().begin(), ExpectedImage().begin() + kStreamedLength, meter->Flash().begin());
  }
  std::size_t CommandCount(std::uint8_t code) const {
    const auto codes = meter->CommandCodes();
    return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), code));
  }
  // Boxes of the failure report: a handler let an error escape.
  std::size_t FailureBoxes() const {
    return static_cast<std::size_t>(std::count_if(runtime.Boxes().begin(), runtime.Boxes().end(),
                                                  [](const auto& shown) { return shown.box.ownedByActiveWindow; }));
  }

  static sim::SimRuntime::Setup Setup(sim::SimFileSystem& files, LocalTime start) {
    sim::SimRuntime::Setup setup;
    setup.files = &files;
    setup.startTime = start;
    setup.environment[std::string(kAllowPlaceholderVariable)] = "1";  // the simulated meter may take it
    return setup;
  }

  sim::SimFileSystem files;
  sim::SimRuntime runtime;
  sim::SimHidBus bus{runtime};
  std::shared_ptr<sim::SimMeter> meter = std::make_shared<sim::SimMeter>();
  TMForm form{runtime, bus, "Lu14-updater"};
};

}  // namespace lu14::testing
