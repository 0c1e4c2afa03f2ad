#include "device/linux/ReportDescriptor.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace lu14::linux_hid {
namespace {

// Item prefix byte: bits 0-1 the data size (0, 1, 2 or 4 bytes), bits 2-3 the
// item type, bits 4-7 the tag.
constexpr std::size_t kShortItemDataSize[4] = {0, 1, 2, 4};
constexpr std::uint8_t kTypeMain = 0;
constexpr std::uint8_t kTypeGlobal = 1;

// A long item: this prefix, a data-size byte, a tag byte, then the data.
constexpr std::uint8_t kLongItemPrefix = 0xFE;
constexpr std::size_t kLongItemHeaderSize = 3;

// Main item tags.
constexpr std::uint8_t kInput = 0x8;
constexpr std::uint8_t kOutput = 0x9;
constexpr std::uint8_t kCollection = 0xA;
constexpr std::uint8_t kFeature = 0xB;
constexpr std::uint8_t kEndCollection = 0xC;

// Global item tags; the others (usage page, logical and physical extents,
// units) do not change a report's size.
constexpr std::uint8_t kReportSize = 0x7;
constexpr std::uint8_t kReportId = 0x8;
constexpr std::uint8_t kReportCount = 0x9;
constexpr std::uint8_t kPush = 0xA;
constexpr std::uint8_t kPop = 0xB;

constexpr std::uint32_t kLargestReportId = 0xFF;

// The kernel moves every report through a 16 KiB buffer, one byte of which is
// kept for the report ID, and refuses a device whose descriptor declares a
// longer report; such a device never gets a hidraw node.
constexpr std::uint64_t kBufferBytes = 16384;
constexpr std::uint64_t kLargestReportBits = (kBufferBytes - 1) * 8;

struct GlobalState {
  std::uint32_t reportSize = 0;
  std::uint32_t reportCount = 0;
  std::uint8_t reportId = 0;
};

}  // namespace

std::optional<ReportLayout> ParseReportDescriptor(std::span<const std::uint8_t> descriptor) {
  ReportLayout layout;
  GlobalState global;
  std::vector<GlobalState> pushed;
  std::size_t openCollections = 0;

  // Adds the current main item's bits to its report; false when the report
  // grows beyond what the kernel accepts. Size and count are 32-bit each, so
  // their product fits 64 bits and the sum is checked before it can wrap.
  const auto addBits = [&](std::uint32_t ReportBits::*direction) {
    const std::uint64_t itemBits = std::uint64_t{global.reportSize} * global.reportCount;
    ReportBits& report = layout.reports[global.reportId];
    if (itemBits > kLargestReportBits - report.*direction) return false;
    report.*direction += static_cast<std::uint32_t>(itemBits);
    return true;
  };

  std::size_t position = 0;
  while (position < descriptor.size()) {
    const std::size_t remaining = descriptor.size() - position;
    const std::uint8_t prefix = descriptor[position];

    if (prefix == kLongItemPrefix) {
      if (remaining < kLongItemHeaderSize) return std::nullopt;
      const std::size_t dataSize = descriptor[position + 1];
      if (remaining - kLongItemHeaderSize < dataSize) return std::nullopt;
      position += kLongItemHeaderSize + dataSize;
      continue;
    }

    const std::size_t dataSize = kShortItemDataSize[prefix & 0x3];
    if (remaining - 1 < dataSize) return std::nullopt;
    // Item data is little-endian.
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < dataSize; ++i) {
      value |= std::uint32_t{descriptor[position + 1 + i]} << (8 * i);
    }
    const auto type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
    const auto tag = static_cast<std::uint8_t>(prefix >> 4);
    position += 1 + dataSize;

    if (type == kTypeMain) {
      switch (tag) {
        case kInput:
          if (!addBits(&ReportBits::input)) return std::nullopt;
          break;
        case kOutput:
          if (!addBits(&ReportBits::output)) return std::nullopt;
          break;
        case kFeature:
          if (!addBits(&ReportBits::feature)) return std::nullopt;
          break;
        case kCollection:
          ++openCollections;
          break;
        case kEndCollection:
          if (openCollections == 0) return std::nullopt;
          --openCollections;
          break;
        default:
          break;  // reserved main tags carry no report data
      }
    } else if (type == kTypeGlobal) {
      switch (tag) {
        case kReportSize:
          global.reportSize = value;
          break;
        case kReportCount:
          global.reportCount = value;
          break;
        case kReportId:
          // ID 0 is reserved for "no report IDs" and never appears in a descriptor.
          if (value == 0 || value > kLargestReportId) return std::nullopt;
          global.reportId = static_cast<std::uint8_t>(value);
          break;
        case kPush:
          pushed.push_back(global);
          break;
        case kPop:
          if (pushed.empty()) return std::nullopt;
          global = pushed.back();
          pushed.pop_back();
          break;
        default:
          break;
      }
    }
    // Local and reserved items: nothing that sizes a report.
  }
  if (openCollections != 0) return std::nullopt;
  return layout;
}

std::uint16_t FeatureReportByteLength(const ReportLayout& layout) {
  std::uint32_t longest = 0;
  for (const auto& [id, bits] : layout.reports) {
    if (bits.feature == 0) continue;
    // Data bytes rounded up, plus the report-ID byte.
    longest = std::max(longest, 1 + (bits.feature + 7) / 8);
  }
  // At most 16384 (the parser caps report sizes), so it fits.
  return static_cast<std::uint16_t>(longest);
}

std::optional<std::uint16_t> FeatureReportByteLength(std::span<const std::uint8_t> descriptor) {
  const std::optional<ReportLayout> layout = ParseReportDescriptor(descriptor);
  if (!layout) return std::nullopt;
  return FeatureReportByteLength(*layout);
}

}  // namespace lu14::linux_hid
