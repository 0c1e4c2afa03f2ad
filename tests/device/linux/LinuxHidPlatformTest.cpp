// The Linux adapter against hidraw devices emulated by umockdev: a sysfs tree
// that libudev enumerates, device nodes whose hidraw ioctls a fake device in
// this test answers, synthetic uevents for the monitor, and nodes this user
// may not open. Runs under umockdev's preload library (see CMakeLists.txt).
#include "device/linux/LinuxHidPlatform.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device/MeterProtocol.h"
#include "device/TJvHidDeviceController.h"
#include "sim/meter/SimMeter.h"
#include "tests/device/HidInterfacePrinting.h"
#include "tests/device/linux/FakeHidraw.h"

namespace lu14::linux_hid {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kKeyboardVendor = 0x046D;
constexpr std::uint16_t kKeyboardProduct = 0xC31C;
constexpr auto kPatience = 10s;
constexpr std::uint32_t kHidrawMajor = 240;

// The meter's kind of descriptor: one 18-byte feature report, no report IDs.
const Bytes kMeterDescriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
                                0x00, 0x75, 0x08, 0x95, 0x12, 0x09, 0x00, 0xB2, 0x02, 0x01, 0xC0};
// Feature reports 1 (4 bytes) and 2 (32 bytes).
const Bytes kTwoFeatureReports = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08,
                                  0x95, 0x04, 0xB1, 0x02, 0x85, 0x02, 0x95, 0x20, 0xB1, 0x02, 0xC0};
// A keyboard's LED output only.
const Bytes kOutputOnly = {0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x08, 0x19, 0x01,
                           0x29, 0x05, 0x75, 0x01, 0x95, 0x08, 0x91, 0x02, 0xC0};
// Cut inside an item.
const Bytes kTruncated = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75};


// One hidraw node and the devices above it.
struct NodeSpec {
  std::string node;  // "hidraw0"
  std::uint32_t minor = 0;
  std::string hidInstance;  // the HID device's sysfs name, "0003:FF4D:F538.0001"
  std::uint16_t vendorId = kMeterVendorId;
  std::uint16_t productId = kMeterProductId;
  std::string usbRelease = "0123";  // bcdDevice; empty: the HID device is not on USB
  Bytes descriptor = kMeterDescriptor;
  bool hasDevnode = true;
};

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof(text), "%0*X", digits, value);
  return text;
}

// Builds a NULL-terminated name/value list for umockdev.
std::vector<gchar*> Pairs(const std::vector<std::string>& strings) {
  std::vector<gchar*> pointers;
  for (const std::string& s : strings) pointers.push_back(const_cast<gchar*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Collects what the platform posts and runs it when told, like a message loop.
class QueueLoop : public EventLoop {
 public:
  void Post(std::function<void()> message) override { posted_.push_back(std::move(message)); }
  // No clock here: the adapter posts nothing for later, and nothing would come due.
  void PostAfter(std::chrono::microseconds, std::function<void()>) override {}
  void Spend(std::chrono::microseconds) override {}
  bool RunUntil(const std::function<bool()>& condition, std::chrono::microseconds) override {
    while (!condition() && !posted_.empty()) RunOne();
    return condition();
  }
  std::size_t Waiting() const { return posted_.size(); }
  void RunPosted() {
    while (!posted_.empty()) RunOne();
  }

 private:
  void RunOne() {
    auto message = std::move(posted_.front());
    posted_.pop_front();
    message();
  }

  std::deque<std::function<void()>> posted_;
};

struct Notices {
  std::vector<std::intptr_t> received;
  std::function<void(std::intptr_t)> Callback() {
    return [this](std::intptr_t value) { received.push_back(value); };
  }
};

bool Readable(int fd, std::chrono::milliseconds patience) {
  pollfd watched{fd, POLLIN, 0};
  return poll(&watched, 1, static_cast<int>(patience.count())) == 1;
}

class HidrawTestbed : public ::testing::Test {
 protected:
  void SetUp() override {
    testbed_.reset(umockdev_testbed_new());
    // Asked with the testbed in place: only then does umockdev recognise it.
    ASSERT_TRUE(umockdev_in_mock_environment())
        << "needs umockdev's preload library: run it through ctest or umockdev-wrapper";
    root_ = TakeString(umockdev_testbed_get_root_dir(testbed_.get()));
  }

  void TearDown() override {
    for (const auto& [devnode, device] : devices_)
      umockdev_testbed_detach_ioctl(testbed_.get(), devnode.c_str(), nullptr);
    testbed_.reset();
  }

  static std::string TakeString(gchar* text) {
    std::string copy(text ? text : "");
    g_free(text);
    return copy;
  }

  std::string AddDevice(const char* subsystem, const std::string& name, const std::string& parent,
                        const std::vector<std::string>& attributes, const std::vector<std::string>& properties) {
    std::vector<gchar*> attributeList = Pairs(attributes);
    std::vector<gchar*> propertyList = Pairs(properties);
    return TakeString(umockdev_testbed_add_devicev(testbed_.get(), subsystem, name.c_str(),
                                                   parent.empty() ? nullptr : parent.c_str(), attributeList.data(),
                                                   propertyList.data()));
  }

  // Adds the node with its HID device (and the USB device and interface
  // above that) and a fake device answering its ioctls. Returns the node's
  // sysfs path.
  std::string Plug(const NodeSpec& spec) {
    std::string parent;
    if (!spec.usbRelease.empty()) {
      const std::string usbName = "usb-" + spec.hidInstance;
      const std::string usb = AddDevice(
          "usb", usbName, "",
          {"idVendor", Hex(spec.vendorId, 4), "idProduct", Hex(spec.productId, 4), "bcdDevice", spec.usbRelease},
          {"DEVTYPE", "usb_device"});
      parent = AddDevice("usb", usbName + ":1.0", usb, {"bInterfaceClass", "03"}, {"DEVTYPE", "usb_interface"});
    }
    const std::string hid = AddDevice(
        "hid", spec.hidInstance, parent, {},
        {"HID_ID", spec.hidInstance.substr(0, 4) + ":" + Hex(spec.vendorId, 8) + ":" + Hex(spec.productId, 8)});
    const std::string devnode = "/dev/" + spec.node;
    std::vector<std::string> properties;
    if (spec.hasDevnode)
      properties = {"DEVNAME", devnode, "MAJOR", std::to_string(kHidrawMajor), "MINOR", std::to_string(spec.minor)};
    const std::string hidraw = AddDevice(
        "hidraw", spec.node, hid, {"dev", std::to_string(kHidrawMajor) + ":" + std::to_string(spec.minor)}, properties);
    if (!spec.hasDevnode) return hidraw;

    std::FILE* node = std::fopen(NodePath(spec.node).c_str(), "w");
    EXPECT_NE(node, nullptr);
    if (node) std::fclose(node);
    auto& device = devices_[devnode];
    device = std::make_unique<FakeHidraw>();
    device->vendorId = spec.vendorId;
    device->productId = spec.productId;
    device->descriptor = spec.descriptor;
    GPtr<UMockdevIoctlBase> handler(umockdev_ioctl_base_new());
    g_signal_connect(handler.get(), "handle-ioctl", G_CALLBACK(&HandleIoctl), device.get());
    EXPECT_TRUE(umockdev_testbed_attach_ioctl(testbed_.get(), devnode.c_str(), handler.get(), nullptr));
    return hidraw;
  }

  // Takes the node and its HID device away, with udev's remove event.
  void Unplug(const std::string& hidraw, const std::string& node) {
    umockdev_testbed_uevent(testbed_.get(), hidraw.c_str(), "remove");
    const std::string devnode = "/dev/" + node;
    umockdev_testbed_detach_ioctl(testbed_.get(), devnode.c_str(), nullptr);
    // Kept alive: a handle still open on the node may yet reach it.
    retired_.push_back(std::move(devices_.at(devnode)));
    devices_.erase(devnode);
    std::error_code ignored;
    std::filesystem::remove(NodePath(node), ignored);
    umockdev_testbed_remove_device(testbed_.get(), hidraw.c_str());
  }

  void Uevent(const std::string& syspath, const char* action) {
    umockdev_testbed_uevent(testbed_.get(), syspath.c_str(), action);
  }

  std::string NodePath(const std::string& node) const { return root_ + "/dev/" + node; }
  FakeHidraw& Device(const std::string& devnode) { return *devices_.at(devnode); }

  // Runs `probe` as a user who may only do what the node modes allow. Root
  // may open anything, so as root the probe runs as nobody in a child process.
  std::string AsUnprivilegedUser(const std::function<std::string()>& probe) {
    if (geteuid() != 0) return probe();
    // The child reaches the testbed and the sockets of umockdev's ioctl
    // emulation only when they are open to everybody.
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                            std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                            std::filesystem::perms::others_exec);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root_ + "/ioctl")) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::all);
    }
    int channel[2];
    if (pipe(channel) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
      close(channel[0]);
      constexpr uid_t kNobody = 65534;
      if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
      const std::string result = probe();
      const bool written = write(channel[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
      _exit(written ? 0 : 3);
    }
    close(channel[1]);
    std::string result;
    char buffer[256];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof(buffer))) > 0;)
      result.append(buffer, static_cast<std::size_t>(n));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe process status " << status;
    return result;
  }

  GPtr<UMockdevTestbed> testbed_;
  std::string root_;
  std::map<std::string, std::unique_ptr<FakeHidraw>> devices_;
  std::vector<std::unique_ptr<FakeHidraw>> retired_;
  QueueLoop loop_;
};

NodeSpec Meter(std::string node = "hidraw0", std::uint32_t minor = 0, std::string instance = "0003:FF4D:F538.0001") {
  NodeSpec spec;
  spec.node = std::move(node);
  spec.minor = minor;
  spec.hidInstance = std::move(instance);
  return spec;
}

NodeSpec Keyboard(std::string node = "hidraw1", std::uint32_t minor = 1) {
  NodeSpec spec;
  spec.node = std::move(node);
  spec.minor = minor;
  spec.hidInstance = "0003:046D:C31C.0002";
  spec.vendorId = kKeyboardVendor;
  spec.productId = kKeyboardProduct;
  spec.usbRelease = "6400";
  spec.descriptor = kOutputOnly;
  return spec;
}

// --- Binding and the scan ----------------------------------------------------

TEST_F(HidrawTestbed, NothingWorksBeforeBinding) {
  Plug(Meter());
  LinuxHidPlatform platform(loop_);
  EXPECT_EQ(platform.PresentInterfaces(), std::nullopt);
  EXPECT_EQ(platform.Open(u"/dev/hidraw0", true), nullptr);
  EXPECT_FALSE(platform.StartNotifications([](std::intptr_t) {}));
  EXPECT_EQ(platform.NotificationDescriptor(), -1);
  EXPECT_EQ(Device("/dev/hidraw0").Transfers(), 0u);
}

TEST_F(HidrawTestbed, NoHidrawNodeIsAnEmptySetNotAFailure) {
  AddDevice("input", "input5", "", {}, {});
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  EXPECT_EQ(platform.PresentInterfaces(), std::vector<HidInterface>{});
}

TEST_F(HidrawTestbed, ListsEveryHidrawNodeWithAStableIdentifier) {
  Plug(Meter());
  Plug(Keyboard());
  // Neither a node of another subsystem nor a hidraw device without a node.
  AddDevice("input", "input5", "", {}, {});
  NodeSpec nodeless = Keyboard("hidraw2", 2);
  nodeless.hidInstance = "0003:046D:C31C.0003";
  nodeless.hasDevnode = false;
  Plug(nodeless);

  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  const auto interfaces = platform.PresentInterfaces();
  ASSERT_TRUE(interfaces.has_value());
  ASSERT_EQ(interfaces->size(), 2u);
  std::vector<std::u16string> paths = {(*interfaces)[0].path, (*interfaces)[1].path};
  std::sort(paths.begin(), paths.end());  // udev's order is by sysfs path
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"/dev/hidraw0", u"/dev/hidraw1"}));
  EXPECT_NE((*interfaces)[0].deviceId, (*interfaces)[1].deviceId);
  // The same devices, the same identifiers, also through another context.
  EXPECT_EQ(platform.PresentInterfaces(), interfaces);
  LinuxHidPlatform other(loop_);
  ASSERT_TRUE(other.Bind());
  EXPECT_EQ(other.PresentInterfaces(), interfaces);
}

// The kernel gives a replugged device the next HID instance number and often
// the same /dev/hidrawN: the identifier must tell the two apart, or the scan
// would take the new device for the old one.
TEST_F(HidrawTestbed, ReplugOnTheSameNodeIsANewDevice) {
  const std::string first = Plug(Meter("hidraw0", 0, "0003:FF4D:F538.0001"));
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  const auto before = platform.PresentInterfaces();
  ASSERT_TRUE(before.has_value());
  ASSERT_EQ(before->size(), 1u);

  Unplug(first, "hidraw0");
  EXPECT_EQ(platform.PresentInterfaces(), std::vector<HidInterface>{});

  Plug(Meter("hidraw0", 0, "0003:FF4D:F538.0002"));
  const auto after = platform.PresentInterfaces();
  ASSERT_TRUE(after.has_value());
  ASSERT_EQ(after->size(), 1u);
  EXPECT_EQ((*after)[0].path, u"/dev/hidraw0");
  EXPECT_NE((*after)[0].deviceId, (*before)[0].deviceId);
}

// --- Handles -------------------------------------------------------------------

TEST_F(HidrawTestbed, AttributesComeFromTheNodeAndTheUsbDevice) {
  Plug(Meter());
  Plug(Keyboard());
  NodeSpec offUsb = Keyboard("hidraw2", 2);
  offUsb.hidInstance = "0018:06CB:7E7E.0003";
  offUsb.vendorId = 0x06CB;
  offUsb.productId = 0x7E7E;
  offUsb.usbRelease.clear();
  Plug(offUsb);

  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  struct Case {
    std::u16string path;
    HidAttributes expected;
  };
  // 0xFF4D and 0xF538 come through the kernel's signed fields.
  for (const Case& c : {Case{u"/dev/hidraw0", {kMeterVendorId, kMeterProductId, 0x0123}},
                        Case{u"/dev/hidraw1", {kKeyboardVendor, kKeyboardProduct, 0x6400}},
                        Case{u"/dev/hidraw2", {0x06CB, 0x7E7E, 0}}}) {
    SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
    const auto handle = platform.Open(c.path, true);
    ASSERT_NE(handle, nullptr);
    const auto attributes = handle->GetAttributes();
    ASSERT_TRUE(attributes.has_value());
    EXPECT_EQ(attributes->vendorId, c.expected.vendorId);
    EXPECT_EQ(attributes->productId, c.expected.productId);
    EXPECT_EQ(attributes->versionNumber, c.expected.versionNumber);
  }
}

TEST_F(HidrawTestbed, OpenFailsForANodeThatIsNotThere) {
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  EXPECT_EQ(platform.Open(u"/dev/hidraw9", true), nullptr);
  EXPECT_EQ(platform.Open(u"/dev/hidraw9", false), nullptr);
}

TEST_F(HidrawTestbed, CapsComeFromTheReportDescriptor) {
  struct Case {
    const char* name;
    Bytes descriptor;
    bool readable;
    bool hasPreparsedData;
    std::optional<std::uint16_t> featureReportByteLength;
  };
  const std::vector<Case> cases = {
      {"meter: 18 bytes without report IDs", kMeterDescriptor, true, true, 19},
      {"largest of two feature reports, with its ID", kTwoFeatureReports, true, true, 33},
      {"no feature report", kOutputOnly, true, true, 0},
      {"malformed descriptor: the platform refuses", kTruncated, true, true, std::nullopt},
      {"descriptor unreadable", kMeterDescriptor, false, false, std::nullopt},
  };
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  std::uint32_t minor = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NodeSpec spec = Meter("hidraw" + std::to_string(minor), minor, "0003:FF4D:F538.000" + std::to_string(minor + 1));
    ++minor;
    spec.descriptor = c.descriptor;
    Plug(spec);
    Device("/dev/" + spec.node).descriptorReadable = c.readable;
    const auto handle = platform.Open(U16("/dev/" + spec.node), true);
    ASSERT_NE(handle, nullptr);
    const auto preparsed = handle->GetPreparsedData();
    ASSERT_EQ(preparsed != nullptr, c.hasPreparsedData);
    if (!preparsed) continue;
    const auto caps = preparsed->GetCaps();
    ASSERT_EQ(caps.has_value(), c.featureReportByteLength.has_value());
    if (caps) {
      EXPECT_EQ(caps->featureReportByteLength, *c.featureReportByteLength);
    }
  }
}

// The whole buffer goes down and comes back, report-ID byte first, through
// either kind of handle; the result must account for every byte.
TEST_F(HidrawTestbed, FeatureReportsCarryTheWholeBuffer) {
  Plug(Meter());
  FakeHidraw& device = Device("/dev/hidraw0");
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());

  Bytes request(19);
  for (std::size_t i = 0; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(i * 7);
  request[0] = 0;  // the meter has no report IDs
  Bytes reply(19);
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(0xA0 + i);
  reply[0] = 0;
  device.reply = reply;

  for (const bool readWrite : {true, false}) {
    SCOPED_TRACE(readWrite ? "read/write handle" : "query-only handle");
    const auto handle = platform.Open(u"/dev/hidraw0", readWrite);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(handle->SetFeature(request));
    ASSERT_FALSE(device.written.empty());
    EXPECT_EQ(device.written.back(), request);

    Bytes buffer(19, 0xEE);
    buffer[0] = 0;
    EXPECT_TRUE(handle->GetFeature(buffer));
    ASSERT_FALSE(device.readsAsked.empty());
    EXPECT_EQ(device.readsAsked.back().size(), 19u);
    EXPECT_EQ(device.readsAsked.back()[0], 0) << "the report ID asked for";
    EXPECT_EQ(buffer, reply);
  }
}

TEST_F(HidrawTestbed, ReportIdAskedForReachesTheDevice) {
  NodeSpec spec = Meter();
  spec.descriptor = kTwoFeatureReports;
  Plug(spec);
  FakeHidraw& device = Device("/dev/hidraw0");
  device.reply = Bytes(5, 0x11);
  device.reply[0] = 1;
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  const auto handle = platform.Open(u"/dev/hidraw0", true);
  ASSERT_NE(handle, nullptr);
  Bytes buffer = {1, 0, 0, 0, 0};
  EXPECT_TRUE(handle->GetFeature(buffer));
  ASSERT_EQ(device.readsAsked.size(), 1u);
  EXPECT_EQ(device.readsAsked[0][0], 1);
  EXPECT_EQ(buffer, device.reply);
}

TEST_F(HidrawTestbed, FailedOrShortTransfersFail) {
  struct Case {
    const char* name;
    int error;
    std::size_t shortBy;
  };
  Plug(Meter());
  FakeHidraw& device = Device("/dev/hidraw0");
  device.reply = Bytes(19, 0x5A);
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  const auto handle = platform.Open(u"/dev/hidraw0", true);
  ASSERT_NE(handle, nullptr);
  for (const Case& c : {Case{"device stalls the request", EPIPE, 0}, Case{"device pulled out", ENODEV, 0},
                        Case{"I/O error", EIO, 0}, Case{"one byte short", 0, 1}, Case{"only the ID byte", 0, 18}}) {
    SCOPED_TRACE(c.name);
    device.transferError = c.error;
    device.shortBy = c.shortBy;
    Bytes report(19, 0);
    EXPECT_FALSE(handle->SetFeature(report));
    EXPECT_FALSE(handle->GetFeature(report));
  }
}

TEST_F(HidrawTestbed, BuffersNoIoctlCanCarryAreRefusedUnsent) {
  Plug(Meter());
  FakeHidraw& device = Device("/dev/hidraw0");
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  const auto handle = platform.Open(u"/dev/hidraw0", true);
  ASSERT_NE(handle, nullptr);
  // An ioctl's size field has 14 bits; a longer size would spill into the
  // request number and ask the kernel for something else.
  Bytes empty;
  Bytes tooLong(1u << 14, 0);
  EXPECT_FALSE(handle->SetFeature(empty));
  EXPECT_FALSE(handle->GetFeature(empty));
  EXPECT_FALSE(handle->SetFeature(tooLong));
  EXPECT_FALSE(handle->GetFeature(tooLong));
  EXPECT_EQ(device.Transfers(), 0u);
}

// --- Permissions ---------------------------------------------------------------

// A node this user may read but not write: the controller's query-only
// fallback opens it, feature reports work through it, nothing to complain about.
TEST_F(HidrawTestbed, ReadableNodeServesQueryOnly) {
  Plug(Meter());
  std::filesystem::permissions(NodePath("hidraw0"), std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::group_read |
                                                        std::filesystem::perms::others_read);
  const std::string seen = AsUnprivilegedUser([] {
    QueueLoop loop;
    LinuxHidPlatform platform(loop);
    if (!platform.Bind()) return std::string("not bound");
    const bool readWrite = platform.Open(u"/dev/hidraw0", true) != nullptr;
    const bool queryOnly = platform.Open(u"/dev/hidraw0", false) != nullptr;
    return std::string("read/write ") + (readWrite ? "opens" : "refused") + ", query-only " +
           (queryOnly ? "opens" : "refused") + ", problems " +
           std::to_string(platform.AccessProblems(kMeterVendorId, kMeterProductId).size());
  });
  EXPECT_EQ(seen, "read/write refused, query-only opens, problems 0");
}

TEST_F(HidrawTestbed, RefusedMeterIsReportedWithTheRemedy) {
  Plug(Meter());
  Plug(Keyboard());
  for (const char* node : {"hidraw0", "hidraw1"}) {
    std::filesystem::permissions(NodePath(node), std::filesystem::perms::none);
  }
  const std::string seen = AsUnprivilegedUser([] {
    QueueLoop loop;
    LinuxHidPlatform platform(loop);
    if (!platform.Bind()) return std::string("not bound");
    std::string lines;
    for (const auto& [vendor, product] :
         {std::pair{kMeterVendorId, kMeterProductId}, std::pair{kMeterVendorId, kKeyboardProduct}}) {
      for (const AccessProblem& problem : platform.AccessProblems(vendor, product)) {
        lines += problem.devnode + " | " + (problem.error == EACCES ? "EACCES" : std::to_string(problem.error)) +
                 " | " + problem.message + "\n";
      }
    }
    return lines;
  });
  // Only the meter asked about; the refused keyboard is none of its business,
  // and nothing matches the mixed vendor and product.
  EXPECT_EQ(seen,
            "/dev/hidraw0 | EACCES | no permission to open /dev/hidraw0 (ff4d:f538): install the udev rule "
            "70-lu14-meter.rules, see resources/linux/README.md\n");
}

// --- The core over the adapter ------------------------------------------------

// The controller and its device objects, written for Windows' HID services,
// find the meter among other devices, talk to it and notice it going, with
// the meter's protocol served by the simulated meter behind the emulated node.
TEST_F(HidrawTestbed, ControllerFindsTalksToAndLosesTheMeter) {
  constexpr std::size_t kAddress = 0x10;
  sim::SimMeter meter;
  meter.SetEeprom(kAddress, 0x5A);
  Plug(Keyboard());
  const std::string meterNode = Plug(Meter());
  Device("/dev/hidraw0").protocol = &meter;

  LinuxHidPlatform platform(loop_);
  TJvHidDeviceController controller(platform, [](const std::function<void()>& work) { work(); });
  ASSERT_TRUE(controller.Bound());
  std::vector<std::string> journal;
  controller.OnDeviceChange = [&] { journal.push_back("change"); };
  controller.OnRemoval = [&](TJvHidDevice& device) {
    const std::u16string& path = device.PnPInfo().DevicePath;
    journal.push_back("removal " + std::string(path.begin(), path.end()));
  };
  EXPECT_TRUE(journal.empty());
  loop_.RunPosted();  // the start-up notice
  EXPECT_EQ(journal, std::vector<std::string>{"change"});
  EXPECT_EQ(controller.Devices().size(), 2u);

  TJvHidDevice* found = nullptr;
  controller.OnEnumerate = [&](TJvHidDevice& device, std::int32_t) {
    if (device.Attributes().vendorId == kMeterVendorId && device.Attributes().productId == kMeterProductId &&
        device.CheckOut()) {
      found = &device;
    }
    return true;
  };
  controller.Enumerate();
  ASSERT_NE(found, nullptr);
  EXPECT_TRUE(found->HasReadWriteAccess());
  EXPECT_EQ(found->Caps().featureReportByteLength, 19);

  // Read an EEPROM byte: command 21 with the address in bytes 1-2.
  std::array<std::uint8_t, 19> request{};
  request[2] = kAddress;
  request[18] = sim::SimMeter::kReadEeprom;
  ASSERT_TRUE(found->SetFeature(request));
  std::array<std::uint8_t, 19> reply{};
  ASSERT_TRUE(found->GetFeature(reply));
  EXPECT_EQ(reply[18], 0) << "status: done";
  EXPECT_EQ(reply[1], 0x5A);

  Unplug(meterNode, "hidraw0");
  ASSERT_TRUE(Readable(platform.NotificationDescriptor(), kPatience));
  platform.Poll();
  loop_.RunPosted();
  EXPECT_EQ(journal, (std::vector<std::string>{"change", "removal /dev/hidraw0", "change"}));
  EXPECT_FALSE(found->IsPluggedIn());
}

// --- Notifications -------------------------------------------------------------

TEST_F(HidrawTestbed, HidrawEventsBecomeOneNoticeOnTheLoop) {
  const std::string meter = Plug(Meter());
  const std::string keyboard = Plug(Keyboard());
  const std::string input = AddDevice("input", "input5", "", {}, {});
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  Notices notices;
  ASSERT_TRUE(platform.StartNotifications(notices.Callback()));
  const int fd = platform.NotificationDescriptor();
  ASSERT_GE(fd, 0);

  // Sent before the hidraw events, so waiting in the socket with them unless
  // the subsystem filter drops it.
  Uevent(input, "add");
  Uevent(meter, "add");
  Uevent(keyboard, "change");
  ASSERT_TRUE(Readable(fd, kPatience));
  EXPECT_EQ(platform.Poll(), 2u);
  EXPECT_TRUE(notices.received.empty()) << "posted, not called from inside Poll()";
  EXPECT_FALSE(Readable(fd, 0ms)) << "everything waiting was read";
  loop_.RunPosted();
  EXPECT_EQ(notices.received, std::vector<std::intptr_t>{0});

  // Nothing waiting: nothing posted.
  EXPECT_EQ(platform.Poll(), 0u);
  EXPECT_EQ(loop_.Waiting(), 0u);

  Unplug(meter, "hidraw0");
  ASSERT_TRUE(Readable(fd, kPatience));
  EXPECT_EQ(platform.Poll(), 1u);
  loop_.RunPosted();
  EXPECT_EQ(notices.received, (std::vector<std::intptr_t>{0, 0}));
}

TEST_F(HidrawTestbed, PostedNoticesKeepTheirOrderWithSystemNotices) {
  const std::string meter = Plug(Meter());
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  Notices notices;
  ASSERT_TRUE(platform.StartNotifications(notices.Callback()));

  platform.PostDevicesChanged(-1);
  EXPECT_TRUE(notices.received.empty()) << "posted, so not handled before the loop runs";
  Uevent(meter, "add");
  ASSERT_TRUE(Readable(platform.NotificationDescriptor(), kPatience));
  platform.Poll();
  // The whole pointer-sized parameter comes through.
  const std::intptr_t wide = static_cast<std::intptr_t>(0x1234567890LL);
  platform.PostDevicesChanged(wide);
  loop_.RunPosted();
  EXPECT_EQ(notices.received, (std::vector<std::intptr_t>{-1, 0, wide}));
}

TEST_F(HidrawTestbed, NothingArrivesAfterStoppingOrRestarting) {
  const std::string meter = Plug(Meter());
  auto platform = std::make_unique<LinuxHidPlatform>(loop_);
  ASSERT_TRUE(platform->Bind());
  Notices first;
  ASSERT_TRUE(platform->StartNotifications(first.Callback()));
  platform->PostDevicesChanged(1);  // queued, then dropped by the restart
  Notices second;
  ASSERT_TRUE(platform->StartNotifications(second.Callback()));
  platform->PostDevicesChanged(2);
  loop_.RunPosted();
  EXPECT_TRUE(first.received.empty());
  EXPECT_EQ(second.received, std::vector<std::intptr_t>{2});

  platform->PostDevicesChanged(3);  // queued, then dropped by the stop
  platform->StopNotifications();
  EXPECT_EQ(platform->NotificationDescriptor(), -1);
  platform->PostDevicesChanged(4);
  Uevent(meter, "change");
  EXPECT_EQ(platform->Poll(), 0u);
  loop_.RunPosted();
  EXPECT_EQ(second.received, std::vector<std::intptr_t>{2});

  // Notices still queued when the platform goes are dropped with it.
  Notices third;
  ASSERT_TRUE(platform->StartNotifications(third.Callback()));
  platform->PostDevicesChanged(5);
  platform.reset();
  loop_.RunPosted();
  EXPECT_TRUE(third.received.empty());
}

TEST_F(HidrawTestbed, CallbackMayStopTheNotifications) {
  LinuxHidPlatform platform(loop_);
  ASSERT_TRUE(platform.Bind());
  std::vector<std::intptr_t> received;
  ASSERT_TRUE(platform.StartNotifications([&](std::intptr_t value) {
    received.push_back(value);
    platform.StopNotifications();
  }));
  platform.PostDevicesChanged(1);
  platform.PostDevicesChanged(2);
  loop_.RunPosted();
  EXPECT_EQ(received, std::vector<std::intptr_t>{1});
}

}  // namespace
}  // namespace lu14::linux_hid
