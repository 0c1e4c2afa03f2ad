// The window's side of discovery: what the user sees as meters and other HID
// devices come and go.
#include <gtest/gtest.h>

#include "tests/device/MeterFixture.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;
using sim::SimHidSpec;

const std::string kConnected = "Пинцет ЛУ-14 подключен";
const std::string kDisconnected = "Пинцет ЛУ-14 отключен";
const std::string kStartCaption = "Прошивка версии  D1.50 для ЛУ-14";
const std::string kMatchedCaption = "Прошивка версии D1.50 для пинцет ЛУ-14";

SimHidSpec OtherDevice(std::uint32_t id, std::uint16_t vendor, std::uint16_t product) {
  SimHidSpec spec = MeterSpec(nullptr, id);
  spec.attributes = {vendor, product, 1};
  return spec;
}

struct DiscoveryFixture : ::testing::Test {
  void Start() {
    form = std::make_unique<TMForm>(runtime, bus, "Lu14-updater");
    runtime.SetEventSink(form.get());
    runtime.RunFor(1ms);  // well before the first Timer1 tick
  }
  void Settle() { runtime.RunFor(1ms); }
  const std::vector<std::string>& Log() const { return form->LB.Lines(); }
  TJvHidDevice* Current() const { return form->Meter.Link.CurrentDevice(); }

  sim::SimRuntime runtime;
  sim::SimHidBus bus{runtime};
  std::unique_ptr<TMForm> form;
};

TEST_F(DiscoveryFixture, NoDeviceAtStart) {
  Start();
  EXPECT_EQ(Current(), nullptr);
  EXPECT_EQ(form->Caption(), kStartCaption);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(form->State().ModelCode, 0);
}

TEST_F(DiscoveryFixture, MeterAtStartIsFoundBeforeTheFirstPoll) {
  bus.Attach(MeterSpec(nullptr));
  Start();
  EXPECT_EQ(Log(), std::vector<std::string>{kConnected});
  EXPECT_EQ(form->Caption(), kMatchedCaption);
  ASSERT_NE(Current(), nullptr);
  EXPECT_TRUE(Current()->IsCheckedOut());
  EXPECT_EQ(form->State().ModelCode, 14);
  EXPECT_EQ(form->State().ModelSuffix, "14");
  EXPECT_EQ(form->Meter.Payload.BlobCopy(), FirmwareBlob);
  EXPECT_LT(runtime.Elapsed(), 1s);
}

TEST_F(DiscoveryFixture, OnlyTheMetersVendorAndProductTogetherMatch) {
  bus.Attach(OtherDevice(1, kMeterVendorId, 0x0001));
  bus.Attach(OtherDevice(2, 0x0001, kMeterProductId));
  Start();
  EXPECT_EQ(Current(), nullptr);
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(form->Caption(), kStartCaption);
  EXPECT_FALSE(form->HID.Devices()[0]->IsCheckedOut());
}

TEST_F(DiscoveryFixture, TwoMetersAreBothLoggedAndTheLaterIsCurrent) {
  bus.Attach(MeterSpec(nullptr, 1));
  bus.Attach(MeterSpec(nullptr, 2));
  Start();
  EXPECT_EQ(Log(), (std::vector<std::string>{kConnected, kConnected}));
  ASSERT_NE(Current(), nullptr);
  EXPECT_EQ(Current()->PnPInfo().DeviceID, 2u);
  EXPECT_TRUE(form->HID.Devices()[0]->IsCheckedOut());
}

TEST_F(DiscoveryFixture, AnotherDevicePulledWhileTheMeterStaysLeavesAnUpdateRunning) {
  bus.Attach(OtherDevice(1, 0x046D, 0xC077));
  bus.Attach(MeterSpec(nullptr, 2));
  Start();
  TJvHidDevice* meter = Current();
  form->Timer1.SetEnabled(false);  // as while an update runs
  form->Timer2.SetEnabled(true);
  bus.Unplug(1);
  Settle();
  EXPECT_EQ(Log(), (std::vector<std::string>{kConnected, kConnected}));
  EXPECT_EQ(Current(), meter);
  EXPECT_TRUE(form->Timer2.Enabled());
  EXPECT_FALSE(form->Timer1.Enabled());
}

TEST_F(DiscoveryFixture, MeterPulledDuringAnUpdateReturnsToPolling) {
  bus.Attach(MeterSpec(nullptr));
  Start();
  form->Timer1.SetEnabled(false);
  form->Timer2.SetEnabled(true);
  form->Timer3.SetEnabled(true);
  form->Pr1.SetMax(235);
  form->Pr1.SetPosition(100);
  bus.Unplug(7);
  Settle();
  EXPECT_EQ(Log(), (std::vector<std::string>{kConnected, kDisconnected}));
  EXPECT_EQ(Current(), nullptr);
  EXPECT_TRUE(form->Timer1.Enabled());
  EXPECT_FALSE(form->Timer2.Enabled());
  EXPECT_FALSE(form->Timer3.Enabled());
  EXPECT_EQ(form->Pr1.Position(), 0);
  EXPECT_EQ(form->Pr1.Max(), 235);
  EXPECT_EQ(form->Caption(), kMatchedCaption);  // the caption stays
  EXPECT_EQ(form->State().ModelCode, 14);
}

TEST_F(DiscoveryFixture, MeterPulledAndPluggedAgainIsANewObjectAndEveryLaterChangeLogsAgain) {
  bus.Attach(MeterSpec(nullptr));
  Start();
  TJvHidDevice* first = Current();
  bus.Unplug(7);
  Settle();
  bus.Plug(MeterSpec(nullptr));
  Settle();
  EXPECT_EQ(Log(), (std::vector<std::string>{kConnected, kDisconnected, kConnected}));
  ASSERT_NE(Current(), nullptr);
  EXPECT_NE(Current(), first);
  EXPECT_FALSE(first->IsPluggedIn());
  bus.NotifyDevicesChanged();  // e.g. a storage stick
  Settle();
  EXPECT_EQ(Log().size(), 4u);
  EXPECT_EQ(Log().back(), kConnected);
}

TEST_F(DiscoveryFixture, ADeviceThatCannotBeOpenedIsLeftOutSilently) {
  SimHidSpec locked = MeterSpec(nullptr);
  locked.opensReadWrite = locked.opensQueryOnly = false;
  bus.Attach(locked);
  Start();
  EXPECT_EQ(Current(), nullptr);
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(runtime.Boxes().empty());
}

TEST_F(DiscoveryFixture, AQueryOnlyMeterIsStillMatchedAndUsed) {
  auto meter = std::make_shared<ScriptedMeter>();
  SimHidSpec spec = MeterSpec(meter);
  spec.opensReadWrite = false;
  bus.Attach(spec);
  Start();
  ASSERT_NE(Current(), nullptr);
  EXPECT_TRUE(form->Meter.Link.SendCommand(cmdReadEeprom, false));
  EXPECT_EQ(meter->setCalls, 1);
}

TEST_F(DiscoveryFixture, ClosingTheWindowLetsNoCommandThrough) {
  auto meter = std::make_shared<ScriptedMeter>();
  bus.Attach(MeterSpec(meter));
  Start();
  form->UserClose();
  EXPECT_EQ(Current(), nullptr);
  EXPECT_THROW(form->Meter.Link.SendCommand(cmdReadEeprom, false), NoDeviceError);
  EXPECT_EQ(meter->setCalls, 0);
  form.reset();  // teardown with a checked-out meter listed
  EXPECT_EQ(bus.OpenHandles(7), 0);
}

}  // namespace
}  // namespace lu14::testing
