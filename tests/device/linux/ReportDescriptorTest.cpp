// The report-descriptor parser on the descriptors of real kinds of HID device,
// and on damaged ones.
#include "device/linux/ReportDescriptor.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace lu14::linux_hid {

void PrintTo(const ReportBits& bits, std::ostream* out) {
  *out << "{in " << bits.input << ", out " << bits.output << ", feature " << bits.feature << "}";
}

namespace {

using Bytes = std::vector<std::uint8_t>;

// The boot keyboard of the USB HID class definition: modifier byte, reserved byte,
// six key codes in; five LEDs and three bits of padding out.
const Bytes kBootKeyboard = {
    0x05, 0x01,  // Usage Page (Generic Desktop)
    0x09, 0x06,  // Usage (Keyboard)
    0xA1, 0x01,  // Collection (Application)
    0x05, 0x07,  //   Usage Page (Key Codes)
    0x19, 0xE0,  //   Usage Minimum (224)
    0x29, 0xE7,  //   Usage Maximum (231)
    0x15, 0x00,  //   Logical Minimum (0)
    0x25, 0x01,  //   Logical Maximum (1)
    0x75, 0x01,  //   Report Size (1)
    0x95, 0x08,  //   Report Count (8)
    0x81, 0x02,  //   Input (Data, Variable, Absolute): modifiers
    0x95, 0x01,  //   Report Count (1)
    0x75, 0x08,  //   Report Size (8)
    0x81, 0x01,  //   Input (Constant): reserved
    0x95, 0x05,  //   Report Count (5)
    0x75, 0x01,  //   Report Size (1)
    0x05, 0x08,  //   Usage Page (LEDs)
    0x19, 0x01,  //   Usage Minimum (1)
    0x29, 0x05,  //   Usage Maximum (5)
    0x91, 0x02,  //   Output (Data, Variable, Absolute): LEDs
    0x95, 0x01,  //   Report Count (1)
    0x75, 0x03,  //   Report Size (3)
    0x91, 0x01,  //   Output (Constant): padding
    0x95, 0x06,  //   Report Count (6)
    0x75, 0x08,  //   Report Size (8)
    0x15, 0x00,  //   Logical Minimum (0)
    0x25, 0x65,  //   Logical Maximum (101)
    0x05, 0x07,  //   Usage Page (Key Codes)
    0x19, 0x00,  //   Usage Minimum (0)
    0x29, 0x65,  //   Usage Maximum (101)
    0x81, 0x00,  //   Input (Data, Array): key codes
    0xC0,        // End Collection
};

// The boot mouse: three buttons, five bits of padding, relative X and Y.
const Bytes kBootMouse = {
    0x05, 0x01,  // Usage Page (Generic Desktop)
    0x09, 0x02,  // Usage (Mouse)
    0xA1, 0x01,  // Collection (Application)
    0x09, 0x01,  //   Usage (Pointer)
    0xA1, 0x00,  //   Collection (Physical)
    0x05, 0x09,  //     Usage Page (Buttons)
    0x19, 0x01,  //     Usage Minimum (1)
    0x29, 0x03,  //     Usage Maximum (3)
    0x15, 0x00,  //     Logical Minimum (0)
    0x25, 0x01,  //     Logical Maximum (1)
    0x95, 0x03,  //     Report Count (3)
    0x75, 0x01,  //     Report Size (1)
    0x81, 0x02,  //     Input (Data, Variable, Absolute)
    0x95, 0x01,  //     Report Count (1)
    0x75, 0x05,  //     Report Size (5)
    0x81, 0x01,  //     Input (Constant)
    0x05, 0x01,  //     Usage Page (Generic Desktop)
    0x09, 0x30,  //     Usage (X)
    0x09, 0x31,  //     Usage (Y)
    0x15, 0x81,  //     Logical Minimum (-127)
    0x25, 0x7F,  //     Logical Maximum (127)
    0x75, 0x08,  //     Report Size (8)
    0x95, 0x02,  //     Report Count (2)
    0x81, 0x06,  //     Input (Data, Variable, Relative)
    0xC0,        //   End Collection
    0xC0,        // End Collection
};

// A wheel mouse with report IDs and high-resolution scrolling: the wheel's
// and the pan's resolution multipliers share feature report 3, declared in
// three pieces between which the input report 2 goes on. Push saves the
// multiplier's global state (ID 3, 2 bits) and Pop brings it back.
const Bytes kWheelMouse = {
    0x05, 0x01,        // Usage Page (Generic Desktop)
    0x09, 0x02,        // Usage (Mouse)
    0xA1, 0x01,        // Collection (Application)
    0x09, 0x02,        //   Usage (Mouse)
    0xA1, 0x02,        //   Collection (Logical)
    0x85, 0x02,        //     Report ID (2)
    0x09, 0x01,        //     Usage (Pointer)
    0xA1, 0x00,        //     Collection (Physical)
    0x05, 0x09,        //       Usage Page (Buttons)
    0x19, 0x01,        //       Usage Minimum (1)
    0x29, 0x05,        //       Usage Maximum (5)
    0x15, 0x00,        //       Logical Minimum (0)
    0x25, 0x01,        //       Logical Maximum (1)
    0x95, 0x05,        //       Report Count (5)
    0x75, 0x01,        //       Report Size (1)
    0x81, 0x02,        //       Input (Data, Variable, Absolute)
    0x95, 0x01,        //       Report Count (1)
    0x75, 0x03,        //       Report Size (3)
    0x81, 0x01,        //       Input (Constant)
    0x05, 0x01,        //       Usage Page (Generic Desktop)
    0x09, 0x30,        //       Usage (X)
    0x09, 0x31,        //       Usage (Y)
    0x16, 0x01, 0x80,  //       Logical Minimum (-32767)
    0x26, 0xFF, 0x7F,  //       Logical Maximum (32767)
    0x75, 0x10,        //       Report Size (16)
    0x95, 0x02,        //       Report Count (2)
    0x81, 0x06,        //       Input (Data, Variable, Relative)
    0xA1, 0x02,        //       Collection (Logical)
    0x85, 0x03,        //         Report ID (3)
    0x09, 0x48,        //         Usage (Resolution Multiplier)
    0x15, 0x00,        //         Logical Minimum (0)
    0x25, 0x01,        //         Logical Maximum (1)
    0x35, 0x01,        //         Physical Minimum (1)
    0x45, 0x04,        //         Physical Maximum (4)
    0x75, 0x02,        //         Report Size (2)
    0x95, 0x01,        //         Report Count (1)
    0xA4,              //         Push
    0xB1, 0x02,        //         Feature (Data, Variable, Absolute)
    0x85, 0x02,        //         Report ID (2)
    0x09, 0x38,        //         Usage (Wheel)
    0x35, 0x00,        //         Physical Minimum (0)
    0x45, 0x00,        //         Physical Maximum (0)
    0x15, 0x81,        //         Logical Minimum (-127)
    0x25, 0x7F,        //         Logical Maximum (127)
    0x75, 0x08,        //         Report Size (8)
    0x81, 0x06,        //         Input (Data, Variable, Relative)
    0xC0,              //       End Collection
    0xA1, 0x02,        //       Collection (Logical)
    0x09, 0x48,        //         Usage (Resolution Multiplier)
    0xB4,              //         Pop: Report ID 3, Report Size 2
    0xB1, 0x02,        //         Feature (Data, Variable, Absolute)
    0x35, 0x00,        //         Physical Minimum (0)
    0x45, 0x00,        //         Physical Maximum (0)
    0x75, 0x04,        //         Report Size (4)
    0xB1, 0x01,        //         Feature (Constant): padding
    0x85, 0x02,        //         Report ID (2)
    0x05, 0x0C,        //         Usage Page (Consumer)
    0x0A, 0x38, 0x02,  //         Usage (AC Pan)
    0x15, 0x81,        //         Logical Minimum (-127)
    0x25, 0x7F,        //         Logical Maximum (127)
    0x75, 0x08,        //         Report Size (8)
    0x81, 0x06,        //         Input (Data, Variable, Relative)
    0xC0,              //       End Collection
    0xC0,              //     End Collection
    0xC0,              //   End Collection
    0xC0,              // End Collection
};

// A vendor-defined device without report IDs that talks through one 18-byte
// feature report, as small firmware-USB devices do; the main item carries
// two data bytes (Buffered Bytes).
const Bytes kVendorFeature18 = {
    0x06, 0x00, 0xFF,  // Usage Page (Vendor Defined 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x12,        //   Report Count (18)
    0x09, 0x00,        //   Usage (0)
    0xB2, 0x02, 0x01,  //   Feature (Data, Variable, Absolute, Buffered Bytes)
    0xC0,              // End Collection
};

// A precision touchpad: input report 1 with one finger, feature reports 2
// (capabilities), 6 (a 256-byte vendor certificate blob), 3 (input mode) and
// 4 (selective reporting). Four-byte items and a two-byte Report Count.
const Bytes kTouchpad = {
    0x05, 0x0D,                    // Usage Page (Digitizer)
    0x09, 0x05,                    // Usage (Touch Pad)
    0xA1, 0x01,                    // Collection (Application)
    0x85, 0x01,                    //   Report ID (1)
    0x09, 0x22,                    //   Usage (Finger)
    0xA1, 0x02,                    //   Collection (Logical)
    0x15, 0x00,                    //     Logical Minimum (0)
    0x25, 0x01,                    //     Logical Maximum (1)
    0x09, 0x47,                    //     Usage (Confidence)
    0x09, 0x42,                    //     Usage (Tip Switch)
    0x95, 0x02,                    //     Report Count (2)
    0x75, 0x01,                    //     Report Size (1)
    0x81, 0x02,                    //     Input (Data, Variable, Absolute)
    0x95, 0x01,                    //     Report Count (1)
    0x75, 0x02,                    //     Report Size (2)
    0x25, 0x02,                    //     Logical Maximum (2)
    0x09, 0x51,                    //     Usage (Contact Identifier)
    0x81, 0x02,                    //     Input (Data, Variable, Absolute)
    0x75, 0x04,                    //     Report Size (4)
    0x81, 0x03,                    //     Input (Constant): padding
    0x05, 0x01,                    //     Usage Page (Generic Desktop)
    0x15, 0x00,                    //     Logical Minimum (0)
    0x26, 0xFF, 0x0F,              //     Logical Maximum (4095)
    0x75, 0x10,                    //     Report Size (16)
    0x55, 0x0E,                    //     Unit Exponent (-2)
    0x65, 0x11,                    //     Unit (cm)
    0x09, 0x30,                    //     Usage (X)
    0x35, 0x00,                    //     Physical Minimum (0)
    0x46, 0xB5, 0x04,              //     Physical Maximum (1205)
    0x81, 0x02,                    //     Input (Data, Variable, Absolute)
    0x46, 0x8A, 0x03,              //     Physical Maximum (906)
    0x09, 0x31,                    //     Usage (Y)
    0x81, 0x02,                    //     Input (Data, Variable, Absolute)
    0xC0,                          //   End Collection
    0x55, 0x0C,                    //   Unit Exponent (-4)
    0x66, 0x01, 0x10,              //   Unit (seconds)
    0x47, 0xFF, 0xFF, 0x00, 0x00,  //   Physical Maximum (65535)
    0x27, 0xFF, 0xFF, 0x00, 0x00,  //   Logical Maximum (65535)
    0x75, 0x10,                    //   Report Size (16)
    0x95, 0x01,                    //   Report Count (1)
    0x05, 0x0D,                    //   Usage Page (Digitizer)
    0x09, 0x56,                    //   Usage (Scan Time)
    0x81, 0x02,                    //   Input (Data, Variable, Absolute)
    0x09, 0x54,                    //   Usage (Contact Count)
    0x25, 0x7F,                    //   Logical Maximum (127)
    0x75, 0x08,                    //   Report Size (8)
    0x81, 0x02,                    //   Input (Data, Variable, Absolute)
    0x05, 0x09,                    //   Usage Page (Buttons)
    0x09, 0x01,                    //   Usage (Button 1)
    0x25, 0x01,                    //   Logical Maximum (1)
    0x75, 0x01,                    //   Report Size (1)
    0x81, 0x02,                    //   Input (Data, Variable, Absolute)
    0x95, 0x07,                    //   Report Count (7)
    0x81, 0x03,                    //   Input (Constant): padding
    0x05, 0x0D,                    //   Usage Page (Digitizer)
    0x85, 0x02,                    //   Report ID (2)
    0x09, 0x55,                    //   Usage (Contact Count Maximum)
    0x09, 0x59,                    //   Usage (Pad Type)
    0x75, 0x04,                    //   Report Size (4)
    0x95, 0x02,                    //   Report Count (2)
    0x25, 0x0F,                    //   Logical Maximum (15)
    0xB1, 0x02,                    //   Feature (Data, Variable, Absolute)
    0x06, 0x00, 0xFF,              //   Usage Page (Vendor Defined 0xFF00)
    0x85, 0x06,                    //   Report ID (6)
    0x09, 0xC5,                    //   Usage (0xC5)
    0x15, 0x00,                    //   Logical Minimum (0)
    0x26, 0xFF, 0x00,              //   Logical Maximum (255)
    0x75, 0x08,                    //   Report Size (8)
    0x96, 0x00, 0x01,              //   Report Count (256)
    0xB1, 0x02,                    //   Feature (Data, Variable, Absolute)
    0xC0,                          // End Collection
    0x05, 0x0D,                    // Usage Page (Digitizer)
    0x09, 0x0E,                    // Usage (Device Configuration)
    0xA1, 0x01,                    // Collection (Application)
    0x85, 0x03,                    //   Report ID (3)
    0x09, 0x22,                    //   Usage (Finger)
    0xA1, 0x02,                    //   Collection (Logical)
    0x09, 0x52,                    //     Usage (Input Mode)
    0x15, 0x00,                    //     Logical Minimum (0)
    0x25, 0x0A,                    //     Logical Maximum (10)
    0x75, 0x08,                    //     Report Size (8)
    0x95, 0x01,                    //     Report Count (1)
    0xB1, 0x02,                    //     Feature (Data, Variable, Absolute)
    0xC0,                          //   End Collection
    0x09, 0x22,                    //   Usage (Finger)
    0xA1, 0x00,                    //   Collection (Physical)
    0x85, 0x04,                    //     Report ID (4)
    0x09, 0x57,                    //     Usage (Surface Switch)
    0x09, 0x58,                    //     Usage (Button Switch)
    0x75, 0x01,                    //     Report Size (1)
    0x95, 0x02,                    //     Report Count (2)
    0x25, 0x01,                    //     Logical Maximum (1)
    0xB1, 0x02,                    //     Feature (Data, Variable, Absolute)
    0x95, 0x06,                    //     Report Count (6)
    0xB1, 0x03,                    //     Feature (Constant): padding
    0xC0,                          //   End Collection
    0xC0,                          // End Collection
};

// A gamepad: fourteen buttons, a hat switch and four axes, inputs only.
const Bytes kGamepad = {
    0x05, 0x01,        // Usage Page (Generic Desktop)
    0x09, 0x05,        // Usage (Game Pad)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x25, 0x01,        //   Logical Maximum (1)
    0x35, 0x00,        //   Physical Minimum (0)
    0x45, 0x01,        //   Physical Maximum (1)
    0x75, 0x01,        //   Report Size (1)
    0x95, 0x0E,        //   Report Count (14)
    0x05, 0x09,        //   Usage Page (Buttons)
    0x19, 0x01,        //   Usage Minimum (1)
    0x29, 0x0E,        //   Usage Maximum (14)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x95, 0x02,        //   Report Count (2)
    0x81, 0x01,        //   Input (Constant)
    0x05, 0x01,        //   Usage Page (Generic Desktop)
    0x25, 0x07,        //   Logical Maximum (7)
    0x46, 0x3B, 0x01,  //   Physical Maximum (315)
    0x75, 0x04,        //   Report Size (4)
    0x95, 0x01,        //   Report Count (1)
    0x65, 0x14,        //   Unit (degrees)
    0x09, 0x39,        //   Usage (Hat Switch)
    0x81, 0x42,        //   Input (Data, Variable, Absolute, Null State)
    0x65, 0x00,        //   Unit (none)
    0x95, 0x01,        //   Report Count (1)
    0x81, 0x01,        //   Input (Constant)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x46, 0xFF, 0x00,  //   Physical Maximum (255)
    0x09, 0x30,        //   Usage (X)
    0x09, 0x31,        //   Usage (Y)
    0x09, 0x32,        //   Usage (Z)
    0x09, 0x35,        //   Usage (Rz)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x04,        //   Report Count (4)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0xC0,              // End Collection
};

struct RealDevice {
  std::string name;
  const Bytes& descriptor;
  std::map<std::uint8_t, ReportBits> reports;
  std::uint16_t featureReportByteLength;
};

const std::vector<RealDevice>& RealDevices() {
  static const std::vector<RealDevice> devices = {
      {"boot keyboard", kBootKeyboard, {{0, {64, 8, 0}}}, 0},
      {"boot mouse", kBootMouse, {{0, {24, 0, 0}}}, 0},
      // Report 2: 5 + 3 + 32 bits of buttons and motion, 8 of wheel, 8 of pan.
      // Report 3: 2 + 2 bits of multipliers and 4 of padding.
      {"wheel mouse", kWheelMouse, {{2, {56, 0, 0}}, {3, {0, 0, 8}}}, 2},
      {"vendor-defined, no report IDs", kVendorFeature18, {{0, {0, 0, 144}}}, 19},
      // The certificate blob is the longest feature report: 256 bytes + ID.
      {"touchpad",
       kTouchpad,
       {{1, {72, 0, 0}}, {2, {0, 0, 8}}, {3, {0, 0, 8}}, {4, {0, 0, 8}}, {6, {0, 0, 2048}}},
       257},
      {"gamepad, inputs only", kGamepad, {{0, {56, 0, 0}}}, 0},
  };
  return devices;
}

TEST(ReportDescriptor, SizesTheReportsOfRealDevices) {
  for (const RealDevice& device : RealDevices()) {
    SCOPED_TRACE(device.name);
    const std::optional<ReportLayout> layout = ParseReportDescriptor(device.descriptor);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->reports, device.reports);
    EXPECT_EQ(FeatureReportByteLength(*layout), device.featureReportByteLength);
    EXPECT_EQ(FeatureReportByteLength(device.descriptor), device.featureReportByteLength);
  }
}

// Small descriptors that each isolate one rule of the item grammar.
TEST(ReportDescriptor, FollowsTheItemRules) {
  struct Case {
    std::string name;
    Bytes descriptor;
    std::uint16_t featureReportByteLength;
  };
  const std::vector<Case> cases = {
      {"nothing declared", {}, 0},
      {"bits round up to whole bytes", {0x75, 0x01, 0x95, 0x09, 0xB1, 0x02}, 3},
      // The long item's data reads as Report Count (16) if it is not skipped.
      {"long item skipped with its data", {0x75, 0x08, 0x95, 0x02, 0xFE, 0x02, 0x10, 0x95, 0x10, 0xB1, 0x02}, 3},
      // String Index, Minimum and Maximum share their tags with Report Size,
      // ID and Count; as local items they change nothing.
      {"local items with global tag numbers",
       {0x75, 0x08, 0x95, 0x04, 0x79, 0x10, 0x89, 0x00, 0x99, 0x20, 0xB1, 0x02},
       5},
      {"main items keep the global state", {0x75, 0x08, 0x95, 0x04, 0xB1, 0x02, 0xB1, 0x02}, 9},
      {"a feature item of no bits is no feature report", {0xB0, 0x75, 0x08, 0xB1, 0x02}, 0},
      // 16383 data bytes: the most the kernel's 16 KiB buffer holds beside the ID.
      {"longest report the kernel accepts", {0x75, 0x08, 0x96, 0xFF, 0x3F, 0xB1, 0x02}, 16384},
      // Report 0 (before the first Report ID) has 3 bytes, report 7 has 2.
      {"each report ID is sized on its own",
       {0x75, 0x08, 0x95, 0x03, 0xB1, 0x02, 0x85, 0x07, 0x95, 0x02, 0xB1, 0x02},
       4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FeatureReportByteLength(c.descriptor), std::optional<std::uint16_t>(c.featureReportByteLength));
  }
}

TEST(ReportDescriptor, RefusesMalformedDescriptors) {
  struct Case {
    std::string name;
    Bytes descriptor;
  };
  const std::vector<Case> cases = {
      {"one-byte item without its byte", {0x05, 0x01, 0x09}},
      {"two-byte item with one byte", {0x26, 0xFF}},
      {"four-byte item with three bytes", {0x27, 0x01, 0x02, 0x03}},
      {"long item without its header", {0xFE, 0x05}},
      {"long item data past the end", {0xFE, 0x04, 0x10, 0x01, 0x02}},
      {"pop with nothing pushed", {0xA4, 0xB4, 0xB4}},
      {"report ID 0", {0x85, 0x00}},
      {"report ID above 255", {0x86, 0x00, 0x01}},
      {"end collection without collection", {0xC0}},
      {"collection left open", {0xA1, 0x01, 0x75, 0x08, 0x95, 0x01, 0xB1, 0x02}},
      {"report longer than the kernel's buffer", {0x75, 0x08, 0x96, 0x00, 0x40, 0xB1, 0x02}},
      {"report longer in two items", {0x75, 0x08, 0x96, 0x00, 0x20, 0xB1, 0x02, 0xB1, 0x02}},
      // 32-bit size times 32-bit count must not wrap round to a small number.
      {"size times count beyond 32 bits", {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0xB1, 0x02}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseReportDescriptor(c.descriptor), std::nullopt);
  }
}

// The bytes after the end of the span are valid item data; reading them
// would turn a cut item into a whole one.
TEST(ReportDescriptor, NeverReadsPastTheEnd) {
  const Bytes memory = {0x75, 0x08, 0x95, 0x02, 0xB1, 0x02, 0x75, 0x10};
  EXPECT_EQ(ParseReportDescriptor(std::span(memory).first(7)), std::nullopt);
  const Bytes longItem = {0xFE, 0x01, 0x10, 0x00};
  EXPECT_EQ(ParseReportDescriptor(std::span(longItem).first(3)), std::nullopt);
}

// A cut descriptor is either refused or declares no more than the whole one.
TEST(ReportDescriptor, TruncationNeverInventsReportData) {
  for (const RealDevice& device : RealDevices()) {
    SCOPED_TRACE(device.name);
    for (std::size_t length = 0; length < device.descriptor.size(); ++length) {
      SCOPED_TRACE("first " + std::to_string(length) + " bytes");
      const std::optional<ReportLayout> layout = ParseReportDescriptor(std::span(device.descriptor).first(length));
      if (!layout) continue;
      for (const auto& [id, bits] : layout->reports) {
        const auto whole = device.reports.find(id);
        ASSERT_NE(whole, device.reports.end());
        EXPECT_LE(bits.input, whole->second.input);
        EXPECT_LE(bits.output, whole->second.output);
        EXPECT_LE(bits.feature, whole->second.feature);
      }
    }
  }
}

// Random bytes, with a fixed seed: every one ends, and whatever parses stays
// within the kernel's limits.
TEST(ReportDescriptor, SurvivesRandomBytes) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<std::size_t> length(0, 96);
  for (int round = 0; round < 20000; ++round) {
    Bytes descriptor(length(random));
    for (std::uint8_t& b : descriptor) b = static_cast<std::uint8_t>(byte(random));
    const std::optional<std::uint16_t> featureLength = FeatureReportByteLength(descriptor);
    if (featureLength) {
      ASSERT_LE(*featureLength, 16384) << ::testing::PrintToString(descriptor);
    }
  }
}

}  // namespace
}  // namespace lu14::linux_hid
