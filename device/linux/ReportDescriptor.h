// A HID report-descriptor parser of our own, just deep enough to size reports.
//
// hidraw hands out the raw descriptor (HIDIOCGRDESC) but, unlike Windows'
// preparsed data, no capability record; the feature report length the tool
// needs is computed here. The parser walks the items, keeps the global state
// (Report Size, Report Count, Report ID, with Push and Pop) and adds up, per
// report ID, the bits each Input, Output and Feature main item declares.
// Local items (usages, designators, strings) never change a report's size and
// are stepped over, as are long items.
//
// Input from a device is untrusted: the parser never reads past the end of the
// descriptor, always moves forward (so it ends), and refuses what the kernel's
// own parser would refuse: a truncated item, Pop with nothing pushed, a Report
// ID of 0, unbalanced collections, and reports too large for the kernel.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>

namespace lu14::linux_hid {

// The size of the reports that share one report ID, in bits, the ID byte not
// counted.
struct ReportBits {
  std::uint32_t input = 0;
  std::uint32_t output = 0;
  std::uint32_t feature = 0;

  bool operator==(const ReportBits&) const = default;
};

struct ReportLayout {
  // By report ID. A device that declares no Report ID has all its reports
  // under 0; its reports carry no ID byte on the wire.
  std::map<std::uint8_t, ReportBits> reports;

  bool operator==(const ReportLayout&) const = default;
};

// Nothing when the descriptor is malformed (see above).
std::optional<ReportLayout> ParseReportDescriptor(std::span<const std::uint8_t> descriptor);

// What Windows reports as HIDP_CAPS.FeatureReportByteLength: the longest
// feature report in bytes with the report-ID byte counted, 1 + its data bytes,
// also for a device without report IDs (the transfer buffer then starts with a
// 0 that is not sent). 0 when the device has no feature report.
std::uint16_t FeatureReportByteLength(const ReportLayout& layout);
// Nothing when the descriptor is malformed.
std::optional<std::uint16_t> FeatureReportByteLength(std::span<const std::uint8_t> descriptor);

}  // namespace lu14::linux_hid
