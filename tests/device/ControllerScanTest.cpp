// The controller's scan over a simulated bus: which events come, in which order.
#include "device/TJvHidDeviceController.h"

#include <gtest/gtest.h>

#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"

namespace lu14 {
namespace {

using namespace std::chrono_literals;
using sim::SimHidBus;
using sim::SimHidSpec;
using sim::SimRuntime;

SimHidSpec Device(std::uint32_t id, std::uint16_t vendor = 0x046D, std::uint16_t product = 0xC077) {
  SimHidSpec spec;
  spec.deviceId = id;
  spec.path = u"hid#" + std::u16string(1, static_cast<char16_t>(u'0' + id));
  spec.attributes = {vendor, product, 1};
  return spec;
}

// A controller whose events write to a journal: "create-error 3",
// "removal 2", "arrival 1", "change", "enumerate 1 at 0".
struct Journaled {
  explicit Journaled(SimHidBus& bus) : controller(bus, [](const std::function<void()>& work) { work(); }) {
    controller.OnDeviceChange = [this] { journal.push_back("change"); };
    controller.OnRemoval = [this](TJvHidDevice& d) { journal.push_back("removal " + Id(d)); };
    controller.OnArrival = [this](TJvHidDevice& d) { journal.push_back("arrival " + Id(d)); };
    controller.OnDeviceCreateError = [this](const TJvHidPnPInfo& info, bool& handled, bool&) {
      journal.push_back("create-error " + std::to_string(info.DeviceID));
      handled = true;
    };
    controller.OnEnumerate = [this](TJvHidDevice& d, std::int32_t index) {
      journal.push_back("enumerate " + Id(d) + " at " + std::to_string(index));
      if (checkOut) d.CheckOut();
      return true;
    };
  }
  static std::string Id(const TJvHidDevice& d) { return std::to_string(d.PnPInfo().DeviceID); }
  std::vector<std::string> Take() { return std::exchange(journal, {}); }

  TJvHidDeviceController controller;
  std::vector<std::string> journal;
  bool checkOut = false;
};

struct ScanFixture : ::testing::Test {
  SimRuntime runtime;
  SimHidBus bus{runtime};
};

TEST_F(ScanFixture, StartupScanAlwaysEndsWithDeviceChangeEvenWithNoDevice) {
  Journaled hid(bus);
  EXPECT_TRUE(hid.journal.empty());  // nothing before the message loop runs
  runtime.RunFor(1ms);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"change"}));
  bus.NotifyDevicesChanged();  // a change that touches no HID device
  runtime.RunFor(1ms);
  EXPECT_TRUE(hid.journal.empty());
}

TEST_F(ScanFixture, DevicesPresentAtStartArriveInInterfaceOrder) {
  bus.Attach(Device(1));
  bus.Attach(Device(2));
  Journaled hid(bus);
  runtime.RunFor(1ms);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"arrival 1", "arrival 2", "change"}));
  EXPECT_EQ(hid.controller.Enumerate(), 2);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"enumerate 1 at 0", "enumerate 2 at 1"}));
  // Creation opened, identified and closed; enumeration of checked-in devices leaves no handle.
  EXPECT_EQ(bus.OpenHandles(1), 0);
}

TEST_F(ScanFixture, RemovalComesBeforeArrivalLastListedFirst) {
  for (std::uint32_t id : {1u, 2u, 3u}) bus.Attach(Device(id));
  Journaled hid(bus);
  runtime.RunFor(1ms);
  hid.Take();
  bus.Unplug(1);
  bus.Unplug(3);
  bus.Plug(Device(4));
  runtime.RunFor(1ms);  // three notices: the first scan sees all, the others change nothing
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"removal 3", "removal 1", "arrival 4", "change"}));
  ASSERT_EQ(hid.controller.Devices().size(), 2u);
  EXPECT_EQ(hid.controller.Devices()[0]->PnPInfo().DeviceID, 2u);
  EXPECT_EQ(hid.controller.Devices()[1]->PnPInfo().DeviceID, 4u);
}

TEST_F(ScanFixture, UnpluggedCheckedOutDeviceStaysListedAndIsReportedAtEveryScan) {
  bus.Attach(Device(1));
  Journaled hid(bus);
  hid.checkOut = true;
  runtime.RunFor(1ms);
  hid.controller.Enumerate();
  hid.Take();
  bus.Unplug(1);
  runtime.RunFor(1ms);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"removal 1", "change"}));
  bus.Plug(Device(1));  // the same device node again: a new object
  runtime.RunFor(1ms);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"removal 1", "arrival 1", "change"}));
  EXPECT_EQ(hid.controller.Devices().size(), 2u);
  bus.NotifyDevicesChanged();
  runtime.RunFor(1ms);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"removal 1", "change"}));
  // Enumerate skips the unplugged object.
  EXPECT_EQ(hid.controller.Enumerate(), 1);
}

TEST_F(ScanFixture, DevicesThatCannotBeOpenedOrIdentifiedAreLeftOut) {
  SimHidSpec queryOnly = Device(1);
  queryOnly.opensReadWrite = false;  // still created, through a query-only handle
  SimHidSpec closed = Device(2);
  closed.opensReadWrite = closed.opensQueryOnly = false;
  SimHidSpec anonymous = Device(3);
  anonymous.attributesReadable = false;
  for (const SimHidSpec& spec : {queryOnly, closed, anonymous}) bus.Attach(spec);
  Journaled hid(bus);
  runtime.RunFor(1ms);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"create-error 2", "create-error 3", "arrival 1", "change"}));
  EXPECT_FALSE(hid.controller.Devices()[0]->HasReadWriteAccess());
}

TEST_F(ScanFixture, AnInterfaceSetThatCannotBeHadReportsEveryDeviceRemoved) {
  bus.Attach(Device(1));
  Journaled hid(bus);
  runtime.RunFor(1ms);
  hid.Take();
  bus.FailInterfaceSet(true);
  bus.NotifyDevicesChanged();
  runtime.RunFor(1ms);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"removal 1", "change"}));
  bus.FailInterfaceSet(false);
  bus.NotifyDevicesChanged();
  runtime.RunFor(1ms);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"arrival 1", "change"}));
}

TEST_F(ScanFixture, ANoticeDuringAScanIsDropped) {
  bus.Attach(Device(1));
  Journaled hid(bus);
  int scans = 0;
  hid.controller.OnArrival = [&](TJvHidDevice&) {
    ++scans;
    bus.NotifyDevicesChanged();  // queued; reaches the window while this scan runs only in a nested loop
    runtime.RunFor(1ms);         // such a nested loop
  };
  runtime.RunFor(5ms);
  EXPECT_EQ(scans, 1);
  EXPECT_EQ(hid.Take(), (std::vector<std::string>{"change"}));
}

TEST_F(ScanFixture, MissingServicesMeanNoWindowAndNoScan) {
  bus.Attach(Device(1));
  bus.SetBindable(false);
  Journaled hid(bus);
  runtime.RunFor(1s);
  EXPECT_FALSE(hid.controller.Bound());
  EXPECT_FALSE(bus.Listening());
  EXPECT_TRUE(hid.journal.empty());
}

TEST_F(ScanFixture, HandlesOpenOnDemandAndStayWhileCheckedOut) {
  bus.Attach(Device(1));
  Journaled hid(bus);
  hid.checkOut = true;
  runtime.RunFor(1ms);
  hid.controller.Enumerate();
  TJvHidDevice& device = *hid.controller.Devices()[0];
  EXPECT_FALSE(device.CheckOut());  // a second check-out is refused
  EXPECT_TRUE(device.IsCheckedOut());
  EXPECT_EQ(bus.OpenHandles(1), 0);
  EXPECT_EQ(device.Caps().featureReportByteLength, 19);
  EXPECT_EQ(bus.OpenHandles(1), 0);  // opened for the preparsed data, closed again
  std::array<std::uint8_t, 19> report{};
  device.GetFeature(report);
  EXPECT_EQ(bus.OpenHandles(1), 1);  // held from the first transfer on
  device.Caps();
  device.Caps();
  const auto preparsedFetches = std::count_if(bus.Calls().begin(), bus.Calls().end(),
                                              [](const std::string& call) { return call.starts_with("preparsed"); });
  EXPECT_EQ(preparsedFetches, 1);
  bus.Unplug(1);
  runtime.RunFor(1ms);
  EXPECT_EQ(bus.OpenHandles(1), 0);  // unplugging closes it
  EXPECT_FALSE(device.GetFeature(report));
}

TEST_F(ScanFixture, TeardownClosesEverything) {
  bus.Attach(Device(1));
  {
    Journaled hid(bus);
    hid.checkOut = true;
    runtime.RunFor(1ms);
    hid.controller.Enumerate();
    std::array<std::uint8_t, 19> report{};
    hid.controller.Devices()[0]->SetFeature(report);
    EXPECT_EQ(bus.OpenHandles(1), 1);
  }
  EXPECT_EQ(bus.OpenHandles(1), 0);
  EXPECT_FALSE(bus.Listening());
}

}  // namespace
}  // namespace lu14
