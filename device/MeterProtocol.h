// The meter's feature-report command protocol: report layout, command codes,
// identifiers, the packet layout of the firmware transfer, and the pauses.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace lu14 {

// The meter, matched by its USB identifiers.
inline constexpr std::uint16_t kMeterVendorId = 0xFF4D;
inline constexpr std::uint16_t kMeterProductId = 0xF538;

// One feature report: byte 0 is the report ID (always 0: the meter uses none),
// then 18 payload bytes. Out: 1-2 parameter (high, low), 3-17 data, 18 command.
// In: 1-3 result bytes, 3-17 echo of the request, 18 status (0 = done).
inline constexpr std::size_t kReportSize = 19;
using Report = std::array<std::uint8_t, kReportSize>;
inline constexpr std::size_t kParamHigh = 1;
inline constexpr std::size_t kParamLow = 2;
inline constexpr std::size_t kEchoFirst = 3;  // the range the echo check compares: 3..17
inline constexpr std::size_t kEchoLast = 17;
inline constexpr std::size_t kCommandByte = 18;
inline constexpr std::size_t kStatusByte = 18;
inline constexpr std::uint8_t kStatusDone = 0;

// The command codes the tool sends. Code 26 is never sent.
enum Command : std::uint8_t {
  cmdWriteEeprom = 20,   // 1-2 address, 3 value; verified
  cmdReadEeprom = 21,    // 1-2 address; reply byte 1 from a second read
  cmdCommitPage = 22,    // 1 page index, 2 model code
  cmdWriteChunk = 23,    // 1 image position mod 256, 2-17 image bytes; reply 1-2 the sum, low first
  cmdInfo24 = 24,        // 1-2 selector; reply byte 1 from a second read
  cmdReadChecksum = 25,  // reply 1-3 the 24-bit checksum, lowest first
  cmdMeasure = 27,       // 1-3: 0x20 0x01 0x02; reply 1-2 raw measurement, high first
  cmdInfo28 = 28,
  cmdInfo29 = 29,
  cmdQuery30 = 30,       // 1-2: 0x1118
};

// Pauses of the protocol.
inline constexpr std::chrono::milliseconds kRetryPause{10};        // between attempts of a transaction
inline constexpr std::chrono::milliseconds kEepromWritePause{5};   // after every EEPROM write
inline constexpr std::chrono::milliseconds kCommitPause{10};       // after every page commit
inline constexpr std::chrono::milliseconds kChecksumPause{10};     // between the checksum request and its reading

// The firmware transfer: the image goes out in chunks (command 23), each
// carrying its position within the page; after every page the meter commits
// it to flash (command 22, with the page index and the page tag).
inline constexpr std::size_t kChunkSize = 16;
inline constexpr std::size_t kPageSize = 256;
inline constexpr std::uint8_t kPageTag = 14;

}  // namespace lu14
