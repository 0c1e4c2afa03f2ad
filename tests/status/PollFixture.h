// A window model and a simulated meter (present at start unless told not to),
// ticked one status poll at a time.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "window/TMForm.h"
#include "ports/Utf.h"
#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"
#include "sim/meter/SimMeter.h"
#include "tests/device/MeterFixture.h"

namespace lu14::testing {

struct PollFixture : ::testing::Test {
  explicit PollFixture(bool meterPresent = true) {
    if (meterPresent) bus.Attach(MeterSpec(meter));
    runtime.SetEventSink(&form);
  }
  // Runs the loop up to and through the next Timer1 tick.
  void Tick() {
    const std::size_t before = PollTicks();
    ASSERT_TRUE(runtime.RunUntil([&] { return PollTicks() > before; }, std::chrono::seconds(2)));
  }
  std::size_t PollTicks() const {
    return static_cast<std::size_t>(std::count_if(runtime.Ticks().begin(), runtime.Ticks().end(),
                                                  [](const auto& tick) { return tick.id == kTimer1Id; }));
  }
  // Stands in for a running update: the update timers on, their handlers idle.
  void PretendUpdateTimersRun() {
    form.Timer2.SetOnTimer([] {});
    form.Timer3.SetOnTimer([] {});
    form.Timer2.SetEnabled(true);
    form.Timer3.SetEnabled(true);
  }
  std::string Identity() { return CodePointsToUtf8(form.State().DeviceIdentity); }
  std::size_t CommandsSent() const { return meter->CommandCodes().size(); }

  sim::SimRuntime runtime;
  sim::SimHidBus bus{runtime};
  std::shared_ptr<sim::SimMeter> meter = std::make_shared<sim::SimMeter>();
  TMForm form{runtime, bus, "Lu14-updater"};
};

}  // namespace lu14::testing
