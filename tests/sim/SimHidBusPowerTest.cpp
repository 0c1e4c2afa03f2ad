// The simulated bus cutting a device's power at a transfer and bringing it
// back: the transfer fails, the device leaves with the system's notice, loses
// what needs power, and comes back as a new arrival with its memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <span>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"
#include "sim/meter/SimMeter.h"

namespace lu14::sim {
namespace {

using namespace std::chrono_literals;
using Report = SimMeter::Report;
using EepromWrite = PowerLoss::EepromWrite;

constexpr std::uint32_t kMeterId = 7;
constexpr std::uint16_t kAddress = 900;
constexpr std::uint8_t kNewValue = 0x42;
constexpr std::uint8_t kOldValue = kAddress % 251;  // the fresh meter's pattern

Report Request(std::uint8_t code, std::uint16_t address, std::uint8_t value = 0) {
  Report request{};
  request[1] = static_cast<std::uint8_t>(address >> 8);
  request[2] = static_cast<std::uint8_t>(address);
  request[3] = value;
  request[18] = code;
  return request;
}

SimHidSpec Spec(std::uint32_t id, std::shared_ptr<SimHidDevice> device) {
  SimHidSpec spec;
  spec.deviceId = id;
  spec.path = u"device#" + std::u16string(1, static_cast<char16_t>(u'0' + id));
  spec.device = std::move(device);
  return spec;
}

// A device that answers every transfer and counts its power losses: the bus
// knows devices, not meters.
class CountingDevice : public SimHidDevice {
 public:
  bool SetFeature(std::span<const std::uint8_t>) override { return true; }
  bool GetFeature(std::span<std::uint8_t>) override { return true; }
  void PowerLost() override { ++powerLosses; }
  int powerLosses = 0;
};

// A bus on a virtual-time runtime that counts the system's notices.
struct Bus {
  Bus() {
    bus.StartNotifications([this](std::intptr_t) { ++notices; });
  }
  // Dispatches the notices posted so far.
  void Settle() { runtime.RunFor(1ms); }
  bool Listed(std::uint32_t id) {
    const std::optional<std::vector<HidInterface>> present = bus.PresentInterfaces();
    return present && std::any_of(present->begin(), present->end(),
                                  [id](const HidInterface& interface) { return interface.deviceId == id; });
  }

  SimRuntime runtime;
  SimHidBus bus{runtime};
  int notices = 0;
};

TEST(SimHidBusPower, ACutAtATransferFailsItAndTheMeterComesBackWithItsMemory) {
  // The host writes EEPROM 900 and reads it back: four transfers, 1 to 4.
  struct Case {
    std::string name;
    std::size_t cutAt;
    EepromWrite eepromWrite;
    std::uint8_t comesBackWith;  // EEPROM 900 after the power is back
  };
  const std::vector<Case> cases = {
      {"at the write's send: never delivered", 1, EepromWrite::kKept, kOldValue},
      {"at the write's read, the write kept", 2, EepromWrite::kKept, kNewValue},
      {"at the write's read, the write lost", 2, EepromWrite::kLost, kOldValue},
      {"after the write was read done: whole", 3, EepromWrite::kLost, kNewValue},
      {"at the last read", 4, EepromWrite::kLost, kNewValue},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    Bus sim;
    SimHidBus& bus = sim.bus;
    const auto meter = std::make_shared<SimMeter>();
    meter->Faults().SetPowerLoss({.eepromWrite = test.eepromWrite});
    bus.Attach(Spec(kMeterId, meter));
    const std::unique_ptr<HidHandle> handle = bus.Open(u"device#7", true);
    ASSERT_NE(handle, nullptr);
    bus.LosePowerAtTransfer(test.cutAt, kMeterId);

    Report reply{};
    const std::vector<bool> ok = {handle->SetFeature(Request(SimMeter::kWriteEeprom, kAddress, kNewValue)),
                                  handle->GetFeature(reply), handle->SetFeature(Request(SimMeter::kReadEeprom, kAddress)),
                                  handle->GetFeature(reply)};
    for (std::size_t transfer = 1; transfer <= ok.size(); ++transfer) {
      EXPECT_EQ(ok[transfer - 1], transfer < test.cutAt) << "transfer " << transfer;
    }
    EXPECT_EQ(meter->TransferCount(), test.cutAt - 1) << "the cut transfer never reached the meter";
    EXPECT_FALSE(bus.Present(kMeterId));
    sim.Settle();
    EXPECT_EQ(sim.notices, 1);

    bus.RestorePower(kMeterId);
    sim.Settle();
    EXPECT_EQ(sim.notices, 2) << "a new arrival";
    EXPECT_TRUE(sim.Listed(kMeterId));

    const std::unique_ptr<HidHandle> again = bus.Open(u"device#7", true);
    ASSERT_NE(again, nullptr);
    ASSERT_TRUE(again->GetFeature(reply));
    EXPECT_EQ(reply, Report{}) << "a fresh meter's reply";
    ASSERT_TRUE(again->SetFeature(Request(SimMeter::kReadEeprom, kAddress)));
    ASSERT_TRUE(again->GetFeature(reply));
    EXPECT_EQ(reply[1], test.comesBackWith);
  }
}

TEST(SimHidBusPower, OnlyTheDeviceCutLosesItsPowerAndOnlyOnce) {
  Bus sim;
  SimHidBus& bus = sim.bus;
  const auto stays = std::make_shared<CountingDevice>();
  const auto cut = std::make_shared<CountingDevice>();
  bus.Attach(Spec(1, stays));
  bus.Attach(Spec(2, cut));
  const std::unique_ptr<HidHandle> handle = bus.Open(u"device#1", true);
  bus.LosePowerAtTransfer(2, 2);

  Report reply{};
  EXPECT_TRUE(handle->GetFeature(reply));
  EXPECT_TRUE(handle->GetFeature(reply)) << "the transfer at the cut goes to another device";
  EXPECT_EQ(cut->powerLosses, 1);
  EXPECT_EQ(stays->powerLosses, 0);
  EXPECT_TRUE(sim.Listed(1));
  EXPECT_FALSE(sim.Listed(2));

  bus.LosePower(2);  // absent: nothing to cut
  sim.Settle();
  EXPECT_EQ(cut->powerLosses, 1);
  EXPECT_EQ(sim.notices, 1);

  EXPECT_THROW(bus.RestorePower(1), std::logic_error) << "never cut";
  bus.RestorePower(2);
  EXPECT_TRUE(sim.Listed(2));
  EXPECT_THROW(bus.RestorePower(2), std::logic_error) << "already back";

  bus.LosePower(2);
  bus.Plug(Spec(2, cut));  // plugged back by hand: powered too
  EXPECT_THROW(bus.RestorePower(2), std::logic_error);
  EXPECT_EQ(cut->powerLosses, 2);
}

}  // namespace
}  // namespace lu14::sim
