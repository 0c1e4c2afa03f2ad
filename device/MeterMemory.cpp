#include "device/MeterMemory.h"

#include <algorithm>
#include <cmath>

namespace lu14 {

double DecodeEepromFloat(const std::array<std::uint8_t, 4>& bytes) {
  const int exponent = (bytes[3] & 0x7F) * 2 + (bytes[2] >> 7);
  const std::uint32_t fraction = bytes[0] + bytes[1] * 256u + (bytes[2] & 0x7Fu) * 65536u;
  const double value = std::ldexp(1.0 + std::ldexp(static_cast<double>(fraction), -23), exponent - 127);
  return (bytes[3] & 0x80) ? -value : value;
}

bool IsBatteryLow(double voltage) { return voltage <= 1.4; }

std::uint16_t ChunkSum(std::uint8_t positionInPage, std::span<const std::uint8_t, kChunkSize> bytes) {
  unsigned sum = positionInPage;
  for (const std::uint8_t byte : bytes) sum += byte;
  return static_cast<std::uint16_t>(sum);
}

MeterMemory::MeterMemory(MeterLink& link) : link_(link) {}

ByteRead MeterMemory::ReadByte(std::uint8_t command, std::uint16_t parameter) {
  try {
    link_.SetParameter(parameter);
    const bool done = link_.SendCommand(command, false);
    // The meter repeats its latest reply; reading it into the request buffer
    // leaves the reply there, and later commands send its bytes on where they
    // set none. A second read that fails leaves the buffer as it was (the
    // request, or an older reply): its byte is no reading of this address.
    const bool reread = link_.RereadReplyIntoRequest();
    return {done && reread, link_.Request()[kParamHigh]};
  } catch (const LinkError&) {
    return {};
  }
}

bool MeterMemory::ConfirmedOnce(std::uint8_t command, std::span<const std::uint8_t> request, std::size_t results,
                                Report& reply) {
  // A failed attempt may have read a reply into the request buffer: every
  // attempt sets its bytes afresh.
  link_.SetRequestBytes(1, request);
  // The tags count up; one that the last request sent happens to carry in
  // those bytes (an untagged request's leftovers) is skipped, so that the
  // reply to that request cannot pass for this one's.
  const Report& last = link_.LastSent();
  std::uint16_t tag = nextTag_++;
  if (tag == (last[kReadTagHigh] << 8 | last[kReadTagLow])) tag = nextTag_++;
  link_.SetRequestByte(kReadTagHigh, static_cast<std::uint8_t>(tag >> 8));
  link_.SetRequestByte(kReadTagLow, static_cast<std::uint8_t>(tag & 0xFF));
  const std::size_t echoFirst = std::max(kEchoFirst, results + 1);
  if (!link_.SendCommand(command, false) || !link_.ReplyEchoesRequest(echoFirst)) return false;
  reply = link_.Reply();
  const Report sent = link_.Request();
  // The second read goes into the request buffer, as every read of a reply
  // does; it must be the same reply once more.
  if (!link_.RereadReplyIntoRequest()) return false;
  const Report& again = link_.Request();
  const auto echo = static_cast<std::ptrdiff_t>(echoFirst);
  const auto end = static_cast<std::ptrdiff_t>(results + 1);
  return again[kStatusByte] == kStatusDone && std::equal(reply.begin() + 1, reply.begin() + end, again.begin() + 1) &&
         std::equal(sent.begin() + echo, sent.begin() + kEchoLast + 1, again.begin() + echo);
}

std::optional<Report> MeterMemory::ConfirmedReply(std::uint8_t command, std::span<const std::uint8_t> request,
                                                  std::size_t results) {
  try {
    for (int attempt = 0; attempt < kConfirmedReadAttempts; ++attempt) {
      if (Report reply; ConfirmedOnce(command, request, results, reply)) return reply;
    }
  } catch (const LinkError&) {
    // No meter, or another transaction holds the link: nothing is confirmed.
  }
  return std::nullopt;
}

std::optional<std::uint8_t> MeterMemory::ReadDeviceParamConfirmed(std::uint8_t command, std::uint16_t parameter) {
  const std::array<std::uint8_t, 2> request{static_cast<std::uint8_t>(parameter >> 8),
                                            static_cast<std::uint8_t>(parameter & 0xFF)};
  const std::optional<Report> reply = ConfirmedReply(command, request, 1);
  if (!reply) return std::nullopt;
  return (*reply)[kParamHigh];
}

std::optional<std::uint8_t> MeterMemory::ReadEepromConfirmed(std::uint16_t address) {
  return ReadDeviceParamConfirmed(cmdReadEeprom, address);
}

std::optional<double> MeterMemory::ReadEepromFloatConfirmed(std::uint16_t address) {
  std::array<std::uint8_t, 4> bytes{};
  for (std::uint16_t i = 0; i < bytes.size(); ++i) {
    const std::optional<std::uint8_t> byte = ReadEepromConfirmed(static_cast<std::uint16_t>(address + i));
    if (!byte) return std::nullopt;
    bytes[i] = *byte;
  }
  return DecodeEepromFloat(bytes);
}

std::optional<double> MeterMemory::MeasureBatteryConfirmed() {
  const std::optional<Report> reply = ConfirmedReply(cmdMeasure, kMeasureRequest, 2);
  if (!reply) return std::nullopt;
  const unsigned raw = (*reply)[1] * 256u + (*reply)[2];
  const std::optional<double> coefficient = ReadEepromFloatConfirmed(kEepromBatteryCoefficient);
  if (!coefficient) return std::nullopt;
  return raw * *coefficient / kMeasureDivisor;
}

bool MeterMemory::ReadDeviceParam(std::uint8_t command, std::uint16_t parameter, std::uint8_t& value) {
  const ByteRead read = ReadByte(command, parameter);
  if (read.value) value = *read.value;
  return read.confirmed;
}

bool MeterMemory::ReadEeprom(std::uint16_t address, std::uint8_t& value) {
  return ReadDeviceParam(cmdReadEeprom, address, value);
}

bool MeterMemory::WriteEeprom(std::uint16_t address, std::uint8_t value) {
  try {
    link_.SetParameter(address);
    link_.SetRequestByte(kEchoFirst, value);
    const bool done = link_.SendCommand(cmdWriteEeprom, true);
    link_.Pause(kEepromWritePause);
    return done;
  } catch (const LinkError&) {
    return false;
  }
}

double MeterMemory::ReadEepromFloat(std::uint16_t address) {
  std::array<std::uint8_t, 4> bytes{};
  for (std::uint16_t i = 0; i < bytes.size(); ++i) ReadEeprom(static_cast<std::uint16_t>(address + i), bytes[i]);
  return DecodeEepromFloat(bytes);
}

double MeterMemory::MeasureBattery() {
  link_.SetRequestBytes(1, kMeasureRequest);
  link_.SendCommand(cmdMeasure, false);
  link_.RereadReplyIntoRequest();
  const unsigned raw = link_.Request()[1] * 256u + link_.Request()[2];
  const double coefficient = ReadEepromFloat(kEepromBatteryCoefficient);
  return raw * coefficient / kMeasureDivisor;
}

std::optional<std::uint16_t> MeterMemory::WriteChunk(std::size_t position,
                                                     std::span<const std::uint8_t, kChunkSize> bytes) {
  link_.SetRequestByte(1, static_cast<std::uint8_t>(position % kPageSize));
  link_.SetRequestBytes(2, bytes);
  if (!link_.SendCommand(cmdWriteChunk, true)) return std::nullopt;
  const Report& reply = link_.Reply();
  return static_cast<std::uint16_t>(reply[1] | reply[2] << 8);
}

bool MeterMemory::CommitPage(std::uint8_t pageIndex) {
  link_.SetRequestByte(1, pageIndex);
  link_.SetRequestByte(2, kPageTag);
  const bool committed = link_.SendCommand(cmdCommitPage, false);
  link_.Pause(kCommitPause);
  return committed;
}

std::optional<std::uint32_t> MeterMemory::ReadChecksumConfirmed() {
  const std::optional<Report> reply = ConfirmedReply(cmdReadChecksum, {}, 3);
  if (!reply) return std::nullopt;
  link_.Pause(kChecksumPause);
  return (*reply)[1] | (*reply)[2] * 256u | (*reply)[3] * 65536u;
}

ChecksumReading MeterMemory::ReadChecksum() {
  const bool confirmed = link_.SendCommand(cmdReadChecksum, false);
  link_.Pause(kChecksumPause);
  const Report& reply = link_.Reply();
  return {confirmed, reply[1] | reply[2] * 256u | reply[3] * 65536u};
}

}  // namespace lu14
