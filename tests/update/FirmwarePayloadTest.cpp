#include "update/FirmwarePayload.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace lu14 {
namespace {

// A stored form whose bytes name their own position, so a misplaced byte shows.
std::unique_ptr<FirmwareBytes> PositionPattern() {
  auto bytes = std::make_unique<FirmwareBytes>();
  for (std::size_t i = 0; i < kFirmwareSize; ++i) (*bytes)[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return bytes;
}

void BuildAll(FirmwarePayload& payload) {
  for (const ImageSegment& segment : kImageSegments) payload.BuildImageSegment(segment);
}

TEST(FirmwarePayload, BuffersStartZeroAndLoadCopiesTheWholeBlob) {
  const auto source = PositionPattern();
  FirmwarePayload payload(*source);
  EXPECT_EQ(payload.BlobCopy(), FirmwareBytes{});
  EXPECT_EQ(payload.StreamImage(), FirmwareBytes{});
  payload.LoadBlobCopy();
  EXPECT_EQ(payload.BlobCopy(), *source);
  payload.LoadBlobCopy();
  EXPECT_EQ(payload.BlobCopy(), *source);
}

TEST(FirmwarePayload, SegmentsTileTheImageWithoutGapOrOverlap) {
  std::size_t expectedFirst = 0;
  for (const ImageSegment& segment : kImageSegments) {
    EXPECT_EQ(segment.first, expectedFirst);
    expectedFirst = segment.end;
  }
  EXPECT_EQ(expectedFirst, kFirmwareSize);
  EXPECT_EQ(kStreamedLength, 235u * 256u);
}

// Runs the assembly over two sources holding the low and the high byte of each
// position, and reads back which blob position every image position came from.
std::vector<std::size_t> AssemblyMap() {
  auto low = std::make_unique<FirmwareBytes>();
  auto high = std::make_unique<FirmwareBytes>();
  for (std::size_t i = 0; i < kFirmwareSize; ++i) {
    (*low)[i] = static_cast<std::uint8_t>(i & 0xFF);
    (*high)[i] = static_cast<std::uint8_t>(i >> 8);
  }
  FirmwarePayload lowPayload(*low);
  FirmwarePayload highPayload(*high);
  for (FirmwarePayload* payload : {&lowPayload, &highPayload}) {
    payload->LoadBlobCopy();
    BuildAll(*payload);
  }
  std::vector<std::size_t> map(kFirmwareSize);
  for (std::size_t i = 0; i < kFirmwareSize; ++i) {
    map[i] = std::size_t{highPayload.StreamImage()[i]} << 8 | lowPayload.StreamImage()[i];
  }
  return map;
}

TEST(FirmwarePayload, SegmentBoundariesAndStreamedChunksComeFromTheRightBlobBytes) {
  const std::vector<std::size_t> map = AssemblyMap();
  const std::pair<std::size_t, std::size_t> imageFromBlob[] = {
      {0, 436},       {436, 0},       {437, 8644},     {8644, 437},      // segment 1, segment 2
      {8645, 46547},  {46547, 8645},  {46548, 65535},  {65535, 46548},   // segment 3, segment 4
      {15, 421},                                                        // end of the first chunk
      {60144, 51939}, {60159, 51924},                                   // the last chunk sent
  };
  for (const auto& [imageIndex, blobIndex] : imageFromBlob) {
    EXPECT_EQ(map[imageIndex], blobIndex) << "image " << imageIndex;
  }
  // Blob bytes 46548..51923 are assembled behind the streamed length: never sent.
  std::set<std::size_t> unsent(map.begin() + kStreamedLength, map.end());
  EXPECT_EQ(*unsent.begin(), 46548u);
  EXPECT_EQ(*unsent.rbegin(), 51923u);
  EXPECT_EQ(unsent.size(), 51923u - 46548u + 1u);
}

TEST(FirmwarePayload, EveryPositionWrittenOnceAndEveryByteLandsOnceInItsOwnSegment) {
  const std::vector<std::size_t> map = AssemblyMap();
  std::set<std::size_t> landed(map.begin(), map.end());
  EXPECT_EQ(landed.size(), kFirmwareSize);
  for (const ImageSegment& segment : kImageSegments) {
    for (std::size_t i = segment.first; i < segment.end; ++i) {
      ASSERT_GE(map[i], segment.first) << i;
      ASSERT_LT(map[i], segment.end) << i;
    }
  }
}

TEST(FirmwarePayload, AssemblyTwiceGivesBackTheInput) {
  const auto source = PositionPattern();
  FirmwarePayload once(*source);
  once.LoadBlobCopy();
  BuildAll(once);
  FirmwarePayload twice(once.StreamImage());
  twice.LoadBlobCopy();
  BuildAll(twice);
  EXPECT_EQ(twice.StreamImage(), *source);
}

TEST(FirmwarePayload, BuildingASegmentAgainChangesNothingAndTouchesOnlyItsRange) {
  const auto source = PositionPattern();
  FirmwarePayload payload(*source);
  payload.LoadBlobCopy();
  payload.BuildImageSegment(kSegment2);
  payload.BuildImageSegment(kSegment3);
  const FirmwareBytes afterFirst = payload.StreamImage();
  payload.BuildImageSegment(kSegment2);
  payload.BuildImageSegment(kSegment3);
  EXPECT_EQ(payload.StreamImage(), afterFirst);
  // Segments 1 and 4 are still untouched zeros.
  for (std::size_t i = kSegment1.first; i < kSegment1.end; ++i) ASSERT_EQ(afterFirst[i], 0) << i;
  for (std::size_t i = kSegment4.first; i < kSegment4.end; ++i) ASSERT_EQ(afterFirst[i], 0) << i;
}

TEST(FirmwarePayload, RejectsBoundsThatAreNotASegment) {
  FirmwarePayload payload(FirmwareBlob);
  payload.LoadBlobCopy();
  for (auto [first, end] : {std::pair<std::size_t, std::size_t>{0, 65537}, {437, 437}, {8645, 437}, {1, 437}}) {
    EXPECT_THROW(payload.BuildImageSegment(first, end), std::invalid_argument) << first << ".." << end;
  }
  EXPECT_EQ(payload.StreamImage(), FirmwareBytes{});
}

// The image file the build was configured with (resources/firmware.bin unless
// LU14_FIRMWARE_IMAGE names another), as it lies on disk.
std::vector<std::uint8_t> ConfiguredImageFile() {
  std::ifstream in(LU14_FIRMWARE_IMAGE_FILE, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Where two byte sequences of equal length differ: the positions, up to a few.
std::string Differences(std::span<const std::uint8_t> carried, std::span<const std::uint8_t> file) {
  std::size_t count = 0;
  std::ostringstream first;
  for (std::size_t i = 0; i < carried.size(); ++i) {
    if (carried[i] == file[i]) continue;
    if (++count <= 8) first << " " << i << ": " << int{carried[i]} << " vs " << int{file[i]} << ";";
  }
  return count == 0 ? std::string() : std::to_string(count) + " bytes differ, first at" + first.str();
}

TEST(CarriedImage, IsTheConfiguredImageFileByteForByte) {
  const std::vector<std::uint8_t> file = ConfiguredImageFile();
  ASSERT_EQ(file.size(), kFirmwareSize) << LU14_FIRMWARE_IMAGE_FILE;
  EXPECT_EQ(Differences(FirmwareBlob, file), "") << "FirmwareBlob against " << LU14_FIRMWARE_IMAGE_FILE;
  // A payload made without a source of its own loads those same bytes.
  auto payload = std::make_unique<FirmwarePayload>();
  payload->LoadBlobCopy();
  EXPECT_EQ(Differences(payload->BlobCopy(), file), "") << "the payload's copy against " << LU14_FIRMWARE_IMAGE_FILE;
}

#ifdef LU14_CARRIES_PLACEHOLDER_IMAGE
TEST(FirmwarePayload, CarriedPlaceholderStreamsToTheExpectedChecksum) {
  FirmwarePayload payload;
  payload.LoadBlobCopy();
  BuildAll(payload);
  const auto& image = payload.StreamImage();
  const std::uint32_t sum = std::accumulate(image.begin(), image.begin() + kStreamedLength, 0u);
  EXPECT_EQ(sum % (1u << 24), kFirmwareChecksum);
}
#endif

}  // namespace
}  // namespace lu14
