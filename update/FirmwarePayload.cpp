#include "update/FirmwarePayload.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace lu14 {

bool PlaceholderAllowedByEnvironment(Shell& shell) {
  return shell.EnvironmentVariable(std::string(kAllowPlaceholderVariable)) == "1";
}

FirmwarePayload::FirmwarePayload(const FirmwareBytes& source, bool placeholder)
    : source_(source), placeholder_(placeholder) {}

void FirmwarePayload::LoadBlobCopy() { blobCopy_ = source_; }

void FirmwarePayload::BuildImageSegment(std::size_t first, std::size_t end) {
  const ImageSegment requested{first, end};
  if (std::find(kImageSegments.begin(), kImageSegments.end(), requested) == kImageSegments.end()) {
    throw std::invalid_argument("not an image segment: " + std::to_string(first) + ".." + std::to_string(end));
  }
  std::reverse_copy(blobCopy_.begin() + static_cast<std::ptrdiff_t>(first),
                    blobCopy_.begin() + static_cast<std::ptrdiff_t>(end),
                    streamImage_.begin() + static_cast<std::ptrdiff_t>(first));
}

const FirmwareBytes& CarriedStreamImage() {
  static const FirmwareBytes image = [] {
    FirmwarePayload payload;
    payload.LoadBlobCopy();
    for (const ImageSegment& segment : kImageSegments) payload.BuildImageSegment(segment);
    return payload.StreamImage();
  }();
  return image;
}

}  // namespace lu14
