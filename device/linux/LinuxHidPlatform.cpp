// LinuxHidPlatform: binding, the scan of present hidraw nodes, device handles
// and the permission check. The udev monitor is in LinuxHidNotifications.cpp.
#include "device/linux/LinuxHidPlatform.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "ports/Utf.h"
#include "device/linux/ReportDescriptor.h"

namespace lu14::linux_hid {
namespace {

constexpr char kHidrawSubsystem[] = "hidraw";
constexpr char kHidSubsystem[] = "hid";
constexpr char kUsbSubsystem[] = "usb";
constexpr char kUsbDeviceType[] = "usb_device";
// The HID device's "bus:vendor:product" property, e.g. 0003:0000FF4D:0000F538.
constexpr char kHidIdProperty[] = "HID_ID";
// The USB device's release number, four hex digits: what Windows reports as
// the HID attributes' version number.
constexpr char kReleaseNumberAttribute[] = "bcdDevice";

constexpr char kAccessRemedy[] = "install the udev rule 70-lu14-meter.rules, see resources/linux/README.md";

// An ioctl's argument size is a 14-bit field of the request number, so no
// longer report can be asked for.
constexpr std::size_t kLargestFeatureTransfer = _IOC_SIZEMASK;

// The kernel refuses to copy out a descriptor of HID_MAX_DESCRIPTOR_SIZE
// bytes (it accepts one byte less), though it keeps descriptors that long.
constexpr std::uint32_t kLargestDescriptorRead = HID_MAX_DESCRIPTOR_SIZE - 1;

// 32-bit FNV-1a.
std::uint32_t DeviceIdOf(std::string_view syspath) {
  std::uint32_t hash = 2166136261u;
  for (const char c : syspath) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 16777619u;
  }
  return hash;
}

template <typename Number>
std::optional<Number> ParseHex(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

struct VendorProduct {
  std::uint16_t vendorId;
  std::uint16_t productId;
};

// Vendor and product of a hidraw node from its HID device's HID_ID, without
// opening the node.
std::optional<VendorProduct> VendorProductOf(udev_device& hidraw) {
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(&hidraw, kHidSubsystem, nullptr);
  const char* property = hid ? udev_device_get_property_value(hid, kHidIdProperty) : nullptr;
  if (!property) return std::nullopt;
  const std::string_view text(property);
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const auto vendor = ParseHex<std::uint16_t>(text.substr(first + 1, second - first - 1));
  const auto product = ParseHex<std::uint16_t>(text.substr(second + 1));
  if (!vendor || !product) return std::nullopt;
  return VendorProduct{*vendor, *product};
}

// An ioctl that a signal may interrupt before the transfer starts.
template <typename Argument>
int Ioctl(int fd, unsigned long request, Argument argument) {
  int result;
  do {
    result = ioctl(fd, request, argument);
  } while (result < 0 && errno == EINTR);
  return result;
}

class LinuxHidPreparsedData : public HidPreparsedData {
 public:
  explicit LinuxHidPreparsedData(std::optional<ReportLayout> layout) : layout_(std::move(layout)) {}

  // Refused, like HidP_GetCaps on bad data, when the descriptor did not parse.
  std::optional<HidCaps> GetCaps() const override {
    if (!layout_) return std::nullopt;
    return HidCaps{FeatureReportByteLength(*layout_)};
  }

 private:
  std::optional<ReportLayout> layout_;
};

class LinuxHidHandle : public HidHandle {
 public:
  LinuxHidHandle(UdevContext udev, UniqueFd fd, std::string devnode)
      : udev_(std::move(udev)), fd_(std::move(fd)), devnode_(std::move(devnode)) {}

  std::optional<HidAttributes> GetAttributes() override {
    hidraw_devinfo info{};
    if (Ioctl(fd_.get(), HIDIOCGRAWINFO, &info) < 0) return std::nullopt;
    // The kernel hands the 16-bit identifiers over in signed fields.
    return HidAttributes{static_cast<std::uint16_t>(info.vendor), static_cast<std::uint16_t>(info.product),
                         ReleaseNumber()};
  }

  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    int size = 0;
    if (Ioctl(fd_.get(), HIDIOCGRDESCSIZE, &size) < 0 || size < 0) return nullptr;
    hidraw_report_descriptor descriptor{};
    descriptor.size = std::min(static_cast<std::uint32_t>(size), kLargestDescriptorRead);
    if (Ioctl(fd_.get(), HIDIOCGRDESC, &descriptor) < 0) return nullptr;
    return std::make_unique<LinuxHidPreparsedData>(
        ParseReportDescriptor(std::span<const std::uint8_t>(descriptor.value, descriptor.size)));
  }

  // The kernel takes the report ID from byte 0 and, for a device without
  // report IDs (ID 0), sends the rest alone; either way it answers with the
  // whole length on success. Anything shorter is a failed transfer.
  bool SetFeature(std::span<const std::uint8_t> report) override {
    if (report.empty() || report.size() > kLargestFeatureTransfer) return false;
    // HIDIOCSFEATURE takes a non-const buffer but only reads it.
    const int sent = Ioctl(fd_.get(), HIDIOCSFEATURE(report.size()), const_cast<std::uint8_t*>(report.data()));
    return sent >= 0 && static_cast<std::size_t>(sent) == report.size();
  }

  // Byte 0 carries the report ID asked for; the kernel returns the bytes it
  // copied back, the ID byte counted. A short report would leave the end of
  // the buffer as it was, so it fails rather than pass for a whole one.
  bool GetFeature(std::span<std::uint8_t> report) override {
    if (report.empty() || report.size() > kLargestFeatureTransfer) return false;
    const int received = Ioctl(fd_.get(), HIDIOCGFEATURE(report.size()), report.data());
    return received >= 0 && static_cast<std::size_t>(received) == report.size();
  }

 private:
  // The USB release number of the device behind the node, 0 when there is
  // none (other buses) or it cannot be read: the tool does not use it. Found
  // through the node's device number, so the path it was opened with may be
  // any name of it.
  std::uint16_t ReleaseNumber() const {
    struct stat node {};
    if (stat(devnode_.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return 0;
    const UdevDevicePtr hidraw(udev_device_new_from_devnum(udev_.get(), 'c', node.st_rdev));
    if (!hidraw) return 0;
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hidraw.get(), kUsbSubsystem, kUsbDeviceType);
    const char* release = usb ? udev_device_get_sysattr_value(usb, kReleaseNumberAttribute) : nullptr;
    if (!release) return 0;
    return ParseHex<std::uint16_t>(release).value_or(0);
  }

  UdevContext udev_;
  UniqueFd fd_;
  std::string devnode_;
};

// 0 when the node opens for reading and writing or for reading alone (the two
// ways the controller tries), otherwise the errno of the last refusal.
int RefusedOpen(const char* devnode) {
  int error = 0;
  for (const int mode : {O_RDWR, O_RDONLY}) {
    const UniqueFd fd(open(devnode, mode | O_CLOEXEC));
    if (fd) return 0;
    error = errno;
  }
  return error;
}

std::string HexId(std::uint16_t id) {
  char text[5];
  std::snprintf(text, sizeof(text), "%04x", static_cast<unsigned>(id));
  return text;
}

}  // namespace

LinuxHidPlatform::LinuxHidPlatform(EventLoop& loop) : loop_(loop) {}

LinuxHidPlatform::~LinuxHidPlatform() { StopNotifications(); }

bool LinuxHidPlatform::Bind() {
  udev* context = udev_new();
  if (!context) return false;
  udev_ = UdevContext(context, UdevUnref());
  return true;
}

bool LinuxHidPlatform::EnumerateHidraw(udev& context, const std::function<void(udev_device&)>& visit) {
  const UdevEnumeratePtr enumerate(udev_enumerate_new(&context));
  if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), kHidrawSubsystem) < 0 ||
      udev_enumerate_scan_devices(enumerate.get()) < 0) {
    return false;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
    // Null when the device went away since the scan: it is left out.
    const UdevDevicePtr device(udev_device_new_from_syspath(&context, udev_list_entry_get_name(entry)));
    if (device) visit(*device);
  }
  return true;
}

std::optional<std::vector<HidInterface>> LinuxHidPlatform::PresentInterfaces() {
  if (!udev_) return std::nullopt;
  std::vector<HidInterface> interfaces;
  const bool listed = EnumerateHidraw(*udev_, [&interfaces](udev_device& device) {
    const char* devnode = udev_device_get_devnode(&device);
    const char* syspath = udev_device_get_syspath(&device);
    if (!devnode || !syspath) return;
    interfaces.push_back(HidInterface{Utf8ToUtf16(devnode), DeviceIdOf(syspath)});
  });
  if (!listed) return std::nullopt;
  return interfaces;
}

std::unique_ptr<HidHandle> LinuxHidPlatform::Open(const std::u16string& path, bool readWrite) {
  if (!udev_) return nullptr;
  std::string devnode = Utf16ToUtf8(path);
  // Blocking mode: the feature-report ioctls are synchronous either way, and
  // the tool never read()s the node.
  UniqueFd fd(open(devnode.c_str(), (readWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC));
  if (!fd) return nullptr;
  return std::make_unique<LinuxHidHandle>(udev_, std::move(fd), std::move(devnode));
}

std::vector<AccessProblem> LinuxHidPlatform::AccessProblems(std::uint16_t vendorId, std::uint16_t productId) const {
  const UdevContext context = udev_ ? udev_ : UdevContext(udev_new(), UdevUnref());
  if (!context) return {};
  std::vector<AccessProblem> problems;
  EnumerateHidraw(*context, [&](udev_device& device) {
    const char* devnode = udev_device_get_devnode(&device);
    const std::optional<VendorProduct> ids = VendorProductOf(device);
    if (!devnode || !ids || ids->vendorId != vendorId || ids->productId != productId) return;
    const int error = RefusedOpen(devnode);
    if (error != EACCES && error != EPERM) return;
    problems.push_back(AccessProblem{devnode, error,
                                     std::string("no permission to open ") + devnode + " (" + HexId(vendorId) + ":" +
                                         HexId(productId) + "): " + kAccessRemedy});
  });
  return problems;
}

}  // namespace lu14::linux_hid
