// The firmware image the tool carries and its assembly into sending order.
//
// The image is built into the program in "stored form": cut into four fixed
// segments, each with its bytes reversed. Sending order is recovered by
// reversing each segment again. The tool never interprets the bytes; it copies
// and reorders them only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ports/Shell.h"

namespace lu14 {

inline constexpr std::size_t kFirmwareSize = 65536;  // bytes, stored form and image alike

// Bytes of the image that go to the meter: 235 pages of 256 bytes. The rest of
// the last segment is assembled but never sent.
inline constexpr std::size_t kStreamedLength = 60160;

// Version text of the carried image (caption, and written to the meter's
// EEPROM after an update) and the checksum the meter reports for it.
inline constexpr std::string_view kFirmwareVersionText = "D1.50";
inline constexpr std::uint32_t kFirmwareChecksum = 0x5D0B5F;

// One image segment: [first, end) in the image and in the stored form alike.
struct ImageSegment {
  std::size_t first;
  std::size_t end;
  friend constexpr bool operator==(const ImageSegment&, const ImageSegment&) = default;
};

inline constexpr ImageSegment kSegment1{0, 437};        // built when an update starts
inline constexpr ImageSegment kSegment2{437, 8645};     // built by every status poll
inline constexpr ImageSegment kSegment3{8645, 46548};   // built by every status poll
inline constexpr ImageSegment kSegment4{46548, 65536};  // built when an update starts
inline constexpr std::array<ImageSegment, 4> kImageSegments{kSegment1, kSegment2, kSegment3, kSegment4};

using FirmwareBytes = std::array<std::uint8_t, kFirmwareSize>;

// The carried image in stored form, generated at build time from the image file.
extern const FirmwareBytes FirmwareBlob;
// Whether that image is the placeholder the repository carries for tests (the
// build compares it with resources/firmware.bin) rather than a real firmware.
extern const bool FirmwareBlobIsPlaceholder;

// The placeholder goes to a meter only when the environment holds this
// variable set to "1": the tests and benchmarks set it for simulated meters.
inline constexpr std::string_view kAllowPlaceholderVariable = "LU14_ALLOW_PLACEHOLDER_FIRMWARE";
bool PlaceholderAllowedByEnvironment(Shell& shell);

// The working copy of the carried image and the image in sending order. Both
// start all zero and live as long as the program; nothing clears them.
class FirmwarePayload {
 public:
  // source: the stored form to copy from; the carried FirmwareBlob unless a
  // test hands in its own bytes. It must outlive the payload.
  explicit FirmwarePayload(const FirmwareBytes& source = FirmwareBlob, bool placeholder = FirmwareBlobIsPlaceholder);

  // The image is a placeholder, not a firmware for the meter.
  bool CarriesPlaceholder() const { return placeholder_; }

  // Copies the whole stored form into BlobCopy. Called at every match of a
  // meter; repeated calls leave the same bytes.
  void LoadBlobCopy();

  // Sets StreamImage[first + k] = BlobCopy[end - 1 - k] over one segment.
  // Only the four segments of kImageSegments are accepted: anything else throws
  // std::invalid_argument and writes nothing.
  void BuildImageSegment(std::size_t first, std::size_t end);
  void BuildImageSegment(ImageSegment segment) { BuildImageSegment(segment.first, segment.end); }

  const FirmwareBytes& BlobCopy() const { return blobCopy_; }
  const FirmwareBytes& StreamImage() const { return streamImage_; }

 private:
  const FirmwareBytes& source_;
  bool placeholder_;
  FirmwareBytes blobCopy_{};
  FirmwareBytes streamImage_{};
};

// The carried image in sending order, every segment built: what a whole
// update leaves in the meter's flash. Built once.
const FirmwareBytes& CarriedStreamImage();

}  // namespace lu14
