// The console tool's commands over the Linux HID platform, on a hidraw node
// emulated by umockdev whose feature-report ioctls the simulated meter
// answers: record and replay, backup and restore, in real time. Runs under
// umockdev's preload library (see CMakeLists.txt).
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/fleet/MeterRig.h"
#include "cli/output/RecordingTexts.h"
#include "cli/fleet/UpdateAll.h"
#include "runtime/RealTimeRuntime.h"
#include "device/MeterMemory.h"
#include "device/MeterProtocol.h"
#include "device/linux/LinuxHidPlatform.h"
#include "hid/record/Recording.h"
#include "hid/record/RecordingHidPlatform.h"
#include "hid/record/ReplayHidPlatform.h"
#include "status/StatusParameters.h"
#include "update/FirmwarePayload.h"
#include "sim/meter/SimMeter.h"
#include "tests/device/linux/FakeHidraw.h"

namespace lu14::cli {
namespace {

using linux_hid::Bytes;
using record::ReadRecording;
using record::Recording;
using record::RecordingFault;
using record::RecordingHeader;
using record::RecordingHidPlatform;
using record::ReplayHidPlatform;
using linux_hid::FakeHidraw;
using linux_hid::GPtr;
using linux_hid::HandleIoctl;

// The meter's kind of descriptor: one 18-byte feature report, no report IDs.
const Bytes kMeterDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
                                0x00, 0x75, 0x08, 0x95, 0x12, 0x09, 0x00, 0xB2, 0x02, 0x01, 0xC0};


struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs one lu14 command line as LuMain does: the wall-clock runtime, the given
// platform, and the platform's events read between messages.
ToolRun RunTool(const std::vector<std::string>& arguments, RealTimeRuntime& runtime, HidPlatform& platform,
                std::function<void()> step) {
  ToolRun run;
  const ParseResult parsed = ParseCommandLine(arguments, Language::English);
  if (!parsed.options) {
    run.exitCode = parsed.exitCode;
    run.err = parsed.message;
    return run;
  }
  std::ostringstream out, err;
  CliSession session(*parsed.options, runtime, runtime, platform, out, err, false, std::move(step));
  run.exitCode = session.Run();
  run.out = out.str();
  run.err = err.str();
  return run;
}

class CliOverHidraw : public ::testing::Test {
 protected:
  void SetUp() override {
    testbed_.reset(umockdev_testbed_new());
    ASSERT_TRUE(umockdev_in_mock_environment())
        << "needs umockdev's preload library: run it through ctest or umockdev-wrapper";
    const std::string root = Take(umockdev_testbed_get_root_dir(testbed_.get()));
    char folder[] = "/tmp/lu14-cli-hidraw-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    AttachMeter(0, meter_, device_, handler_);
  }

  // A meter as the kernel shows it: USB device, interface, HID device, and
  // the node /dev/hidrawN whose ioctls `meter` answers.
  void AttachMeter(int n, sim::SimMeter& meter, FakeHidraw& device, GPtr<UMockdevIoctlBase>& handler) {
    const std::string root = Take(umockdev_testbed_get_root_dir(testbed_.get()));
    const std::string number = std::to_string(n), node = "/dev/hidraw" + number;
    const std::string instance = "0003:FF4D:F538.000" + std::to_string(n + 1);
    char vendor[8], product[8];
    std::snprintf(vendor, sizeof(vendor), "%04X", kMeterVendorId);
    std::snprintf(product, sizeof(product), "%04X", kMeterProductId);
    const std::string port = "usb-" + std::to_string(n + 1);
    const std::string usb = Add("usb", port, "", {"idVendor", vendor, "idProduct", product, "bcdDevice", "0123"},
                                {"DEVTYPE", "usb_device"});
    const std::string interface = Add("usb", port + ":1.0", usb, {"bInterfaceClass", "03"}, {"DEVTYPE", "usb_interface"});
    const std::string hid = Add("hid", instance, interface, {},
                                {"HID_ID", "0003:0000" + std::string(vendor) + ":0000" + std::string(product)});
    Add("hidraw", "hidraw" + number, hid, {"dev", "240:" + number},
        {"DEVNAME", node, "MAJOR", "240", "MINOR", number});
    std::ofstream(root + node).put('\0');
    handler.reset(umockdev_ioctl_base_new());
    device.vendorId = kMeterVendorId;
    device.productId = kMeterProductId;
    device.descriptor = kMeterDescriptor;
    device.protocol = &meter;
    g_signal_connect(handler.get(), "handle-ioctl", G_CALLBACK(&HandleIoctl), &device);
    ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed_.get(), node.c_str(), handler.get(), nullptr));
    nodes_.push_back(node);
  }

  void TearDown() override {
    for (const std::string& node : nodes_) umockdev_testbed_detach_ioctl(testbed_.get(), node.c_str(), nullptr);
    testbed_.reset();
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }

  static std::string Take(gchar* text) {
    std::string copy(text ? text : "");
    g_free(text);
    return copy;
  }

  std::string Add(const char* subsystem, const std::string& name, const std::string& parent,
                  std::vector<std::string> attributes, std::vector<std::string> properties) {
    std::vector<gchar*> attributeList, propertyList;
    for (std::string& s : attributes) attributeList.push_back(s.data());
    for (std::string& s : properties) propertyList.push_back(s.data());
    attributeList.push_back(nullptr);
    propertyList.push_back(nullptr);
    return Take(umockdev_testbed_add_devicev(testbed_.get(), subsystem, name.c_str(),
                                             parent.empty() ? nullptr : parent.c_str(), attributeList.data(),
                                             propertyList.data()));
  }

  // One run over the emulated node, through the Linux HID platform.
  ToolRun OverHidraw(const std::vector<std::string>& arguments, std::ostream* recording = nullptr) {
    linux_hid::LinuxHidPlatform hidraw(runtime_);
    const auto start = std::chrono::steady_clock::now();
    std::optional<RecordingHidPlatform> recorder;
    if (recording) {
      recorder.emplace(hidraw, *recording, RecordingHeader{"test", CommandLineText(arguments), "linux"}, [start] {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
      });
    }
    HidPlatform& platform = recorder ? static_cast<HidPlatform&>(*recorder) : hidraw;
    return RunTool(arguments, runtime_, platform, [&hidraw] { hidraw.Poll(); });
  }

  Bytes Eeprom() {
    std::lock_guard lock(device_.mutex);
    const auto bytes = meter_.EepromBytes();
    return {bytes.begin(), bytes.end()};
  }

  GPtr<UMockdevTestbed> testbed_;
  GPtr<UMockdevIoctlBase> handler_;
  // The meter behind the node; umockdev's worker thread reaches it under
  // device_.mutex while the tool waits inside ioctl().
  sim::SimMeter meter_;
  FakeHidraw device_;
  std::filesystem::path folder_;
  std::vector<std::string> nodes_;  // attached
  std::ostringstream boxes_;
  // A Documents folder for the runtime; the backups here go to --output.
  RealTimeRuntime runtime_{std::filesystem::path("/tmp"), boxes_};
};

// A status read over hidraw and recorded is replayed, without any hidraw node
// being touched, to the same output and exit code.
TEST_F(CliOverHidraw, RecordedStatusReplaysToTheSameOutput) {
  const std::string file = (folder_ / "status.jsonl").string();
  ToolRun recorded;
  {
    std::ofstream out(file, std::ios::binary);
    recorded = OverHidraw({"--record", file, "status"}, &out);
    ASSERT_TRUE(out.good());
  }
  ASSERT_EQ(recorded.exitCode, kExitOk) << recorded.err;
  ASSERT_FALSE(recorded.out.empty());
  const std::size_t transfers = device_.Transfers();
  ASSERT_GT(transfers, 0u);

  std::ifstream in(file, std::ios::binary);
  RecordingFault fault;
  std::optional<Recording> recording = ReadRecording(in, fault);
  ASSERT_TRUE(recording) << RecordingFaultText(Language::English, file, fault);
  EXPECT_EQ(recording->header.platform, "linux");
  EXPECT_FALSE(recording->transfers.empty());
  ReplayHidPlatform replay(runtime_, std::move(*recording));
  const ToolRun replayed = RunTool({"--replay", file, "status"}, runtime_, replay, [] {});
  EXPECT_FALSE(replay.Divergence()) << DivergenceText(Language::English, *replay.Divergence(), replay.Source(), "test");
  EXPECT_EQ(replayed.exitCode, recorded.exitCode) << replayed.err;
  EXPECT_EQ(replayed.out, recorded.out);
  EXPECT_EQ(device_.Transfers(), transfers) << "the replay reached the emulated meter";
}

// A backup taken over hidraw is restored over hidraw after the meter's option
// bytes changed: the meter's EEPROM holds the backup's bytes again.
TEST_F(CliOverHidraw, RestoreWritesTheBackupBackIntoTheMeter) {
  const std::string file = (folder_ / "settings.hex").string();
  const ToolRun backup = OverHidraw({"backup", "--output", file});
  ASSERT_EQ(backup.exitCode, kExitOk) << backup.err;
  ASSERT_TRUE(std::filesystem::exists(file)) << backup.out;
  const Bytes saved = Eeprom();

  {
    std::lock_guard lock(device_.mutex);
    meter_.SetEeprom(kEepromCapacitance, static_cast<std::uint8_t>(saved[kEepromCapacitance] ^ 1));
    meter_.SetEeprom(kEepromMenuSwap, static_cast<std::uint8_t>(saved[kEepromMenuSwap] ^ 1));
  }
  ASSERT_NE(Eeprom(), saved);

  // The file's name does not give the meter's identity: --force takes it.
  const ToolRun restored = OverHidraw({"restore", "--yes", "--force", file});
  EXPECT_EQ(restored.exitCode, kExitOk) << restored.err;
  EXPECT_NE(restored.out.find("bytes written and read back"), std::string::npos) << restored.out;
  EXPECT_EQ(Eeprom(), saved);
  std::lock_guard lock(device_.mutex);
  EXPECT_EQ(meter_.Requests(cmdWriteEeprom).size(), 2u) << "only the changed bytes are written";
}

// update --all over two hidraw nodes: each meter's thread opens a Linux HID
// platform of its own and works with its node only, to the end. (Both meters
// refuse chunk 1000's sum, which keeps this short.)
TEST_F(CliOverHidraw, UpdateAllDrivesEachNodeFromAThreadOfItsOwn) {
  sim::SimMeter second;
  FakeHidraw secondDevice;
  GPtr<UMockdevIoctlBase> secondHandler;
  second.SetInfo(kIdentityReads[1].command, kIdentityReads[1].parameter, 0x5A);
  AttachMeter(1, second, secondDevice, secondHandler);
  for (auto [meter, device] : {std::pair{&meter_, &device_}, std::pair{&second, &secondDevice}}) {
    std::lock_guard lock(device->mutex);
    meter->SetVersionText("D1.40");
    meter->Faults().Add({.which = sim::Commands::IndexOf(cmdWriteChunk, 999), .sumDelta = 1});
  }
  setenv(std::string(kAllowPlaceholderVariable).c_str(), "1", 1);

  const ParseResult parsed = ParseCommandLine({"update", "--all", "--json"});
  ASSERT_TRUE(parsed.options);
  std::ostringstream out, err;
  linux_hid::LinuxHidPlatform hidraw(runtime_);
  CliSession finder(*parsed.options, runtime_, runtime_, hidraw, out, err, false, [&hidraw] { hidraw.Poll(); });
  UpdateAll all(*parsed.options, out, err, false,
                [&](const std::string& id, std::ostream& boxes) { return HardwareRig(id, folder_, boxes); });
  EXPECT_EQ(all.Run(finder), kExitFailed) << err.str();

  std::set<std::string> meters, backups;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json event = nlohmann::json::parse(line);
    if (event["event"] != "result") continue;
    EXPECT_EQ(event["result"], "stopped") << line;
    EXPECT_EQ(event["bytes-confirmed"], 15984) << line;
    meters.insert(event["meter"].get<std::string>());
    backups.insert(event["backup"].get<std::string>());
  }
  EXPECT_EQ(meters, (std::set<std::string>{"/dev/hidraw0", "/dev/hidraw1"})) << out.str();
  EXPECT_EQ(backups.size(), 2u);
  for (auto [meter, device] : {std::pair{&meter_, &device_}, std::pair{&second, &secondDevice}}) {
    std::lock_guard lock(device->mutex);
    EXPECT_EQ(meter->Requests(cmdWriteChunk).size(), 1000u);  // its own chunks, none of the other's
    EXPECT_EQ(meter->FirmwareFlag(), 0x88);
  }
}

}  // namespace
}  // namespace lu14::cli
