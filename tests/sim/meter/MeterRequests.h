// Requests to the simulated meter and the transfers that carry them, built
// byte by byte as the host builds them, for the meter's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sim/meter/SimMeter.h"

namespace lu14::sim::meter_test {

using Report = SimMeter::Report;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kDone = SimMeter::kStatusDone;
constexpr std::uint8_t kBusy = SimMeter::kStatusBusy;
constexpr std::uint8_t kErased = 0xFF;  // blank flash and page buffer

// A request with `bytes` from byte 1 on and the command code in byte 18.
inline Report Request(std::uint8_t code, std::initializer_list<std::uint8_t> bytes = {}) {
  Report request{};
  std::size_t at = 1;
  for (std::uint8_t byte : bytes) request[at++] = byte;
  request[18] = code;
  return request;
}

inline Report ReadEepromRequest(std::uint16_t address) {
  return Request(SimMeter::kReadEeprom, {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)});
}

inline Report WriteEepromRequest(std::uint16_t address, std::uint8_t value) {
  return Request(SimMeter::kWriteEeprom,
                 {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address), value});
}

inline Report ChunkRequest(std::uint8_t offset, const std::uint8_t* data) {
  Report request = Request(SimMeter::kWriteChunk, {offset});
  for (std::size_t i = 0; i < 16; ++i) request[2 + i] = data[i];
  return request;
}

inline Report CommitRequest(std::uint8_t page, std::uint8_t modelCode = SimMeter::kModelCode) {
  return Request(SimMeter::kCommitPage, {page, modelCode});
}

inline Report Read(SimMeter& meter) {
  Report reply{};
  EXPECT_TRUE(meter.GetFeature(reply));
  return reply;
}

inline Report Transact(SimMeter& meter, const Report& request) {
  EXPECT_TRUE(meter.SetFeature(request));
  return Read(meter);
}

}  // namespace lu14::sim::meter_test
