// The meter's memories on top of the command transaction: byte-wise access to
// the EEPROM and the information bytes, the battery measurement, and the
// firmware flash (chunks, page commits, checksum).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "ports/Shell.h"
#include "device/MeterLink.h"

namespace lu14 {

// The EEPROM addresses the tool uses.
inline constexpr std::uint16_t kEepromSize = 2048;
inline constexpr std::uint16_t kEepromVersionText = 832;   // 5 bytes, 832..836
inline constexpr std::uint16_t kEepromCapacitance = 856;    // option: 0 = on
inline constexpr std::uint16_t kEepromAutoSave = 947;       // option: 1 = on
inline constexpr std::uint16_t kEepromModifiedMeter = 957;  // option: 0 = on
inline constexpr std::uint16_t kEepromAfterUpdate = 958;    // set to 0 after an update
inline constexpr std::uint16_t kEepromBatteryCoefficient = 976;  // binary32, 976..979, LSB first
inline constexpr std::uint16_t kEepromMenuSwap = 1022;  // option: not 0 = on
inline constexpr std::uint16_t kEepromFirmwareValidFlag = 1023;
inline constexpr std::uint8_t kFirmwareComplete = 1;
inline constexpr std::uint8_t kFirmwareUpdating = 0x88;

// Battery measurement: command 27 with these bytes, voltage = raw * coefficient / 16000.
inline constexpr std::array<std::uint8_t, 3> kMeasureRequest{0x20, 0x01, 0x02};
inline constexpr double kMeasureDivisor = 16000.0;

// Decodes four EEPROM bytes (least significant first) as binary32 with no
// special case: exponent 0 is not zero or subnormal, exponent 255 not
// infinity or NaN. Every such value is exact in a double.
double DecodeEepromFloat(const std::array<std::uint8_t, 4>& bytes);

// The battery is low below 1.4 V. The limit is 1.4 held with a 64-bit
// significand (1.39999999999999999997...); for a double voltage that is the
// same as "at most the double nearest 1.4", so exactly 1.4 counts as low.
bool IsBatteryLow(double voltage);

// One byte read: `value` is nothing when the read raised an error (no meter,
// busy link); otherwise the byte the meter left, also when the read was not
// confirmed. confirmed: both the transaction and the second read of its reply
// succeeded.
struct ByteRead {
  bool confirmed = false;
  std::optional<std::uint8_t> value;
};

// The 16-bit sum the meter must report for a chunk: the position byte plus
// the sixteen image bytes.
std::uint16_t ChunkSum(std::uint8_t positionInPage, std::span<const std::uint8_t, kChunkSize> bytes);

// The meter's firmware checksum: 24 bits, lowest byte first in reply bytes 1..3.
struct ChecksumReading {
  bool confirmed = false;   // the request's transaction succeeded
  std::uint32_t value = 0;  // what reply bytes 1..3 hold, also when not confirmed
  std::optional<std::uint32_t> Confirmed() const { return confirmed ? std::optional(value) : std::nullopt; }
};

// How often a confirmed read asks the meter before it gives up on a byte.
inline constexpr int kConfirmedReadAttempts = 3;
// A confirmed read's request carries a tag in these two data bytes, which the
// meter echoes: a new value for every request, never the one the request
// before it carried there, so that the reply to an earlier command (a lost
// command, a reply the meter did not renew) can never pass for this one's.
inline constexpr std::size_t kReadTagHigh = 16;
inline constexpr std::size_t kReadTagLow = 17;

class MeterMemory {
 public:
  explicit MeterMemory(MeterLink& link);

  // One EEPROM byte. The value is byte 1 of a second read of the reply into
  // OutReport, given back also when the read was not confirmed (the window
  // shows such a byte). true only when the transaction and the second read
  // both succeeded. An error (no meter, busy link) gives false and leaves
  // `value` untouched.
  bool ReadEeprom(std::uint16_t address, std::uint8_t& value);
  // One byte of command 21, 24, 28 or 29 (the reply's byte 1), as ReadEeprom.
  ByteRead ReadByte(std::uint8_t command, std::uint16_t parameter);
  // One information byte of command 24, 28, 29 or 30, as ReadEeprom.
  bool ReadDeviceParam(std::uint8_t command, std::uint16_t parameter, std::uint8_t& value);
  // Stores one byte (verified), then pauses 5 ms. Returns whether the
  // transaction succeeded; an error gives false without the pause.
  bool WriteEeprom(std::uint16_t address, std::uint8_t value);
  // Four ReadEeprom calls from `address` up, decoded; a byte whose read
  // raised an error counts as 0. Reports no success.
  double ReadEepromFloat(std::uint16_t address);
  // The battery voltage. Errors of its transaction pass to the caller.
  double MeasureBattery();

  // Reads that only give a byte the meter confirmed as its answer to this very
  // request, for whatever stores or compares data (a backup, a restore, the
  // checks before an update): the transaction succeeded, its reply echoes the
  // request's tagged bytes 3..17, and the second read of the reply answers the
  // same. A read that is not confirmed is asked again, kConfirmedReadAttempts
  // times in all; nothing when none was confirmed or the link raised an error.
  std::optional<std::uint8_t> ReadEepromConfirmed(std::uint16_t address);
  // An information byte of command 24, 28 or 29, likewise.
  std::optional<std::uint8_t> ReadDeviceParamConfirmed(std::uint8_t command, std::uint16_t parameter);
  // The binary32 at `address`..`address`+3, every byte confirmed.
  std::optional<double> ReadEepromFloatConfirmed(std::uint16_t address);
  // The battery voltage from a confirmed measurement and coefficient.
  std::optional<double> MeasureBatteryConfirmed();
  // The firmware checksum from a confirmed reply, read after the 10 ms pause.
  std::optional<std::uint32_t> ReadChecksumConfirmed();

  // Sends one chunk of the image (command 23, verified) for the stream
  // position `position`: the meter's 16-bit sum of it, or nothing when the
  // transaction gave up (an older reply's sum must never pass for this one's).
  // Errors of the link pass to the caller.
  std::optional<std::uint16_t> WriteChunk(std::size_t position, std::span<const std::uint8_t, kChunkSize> bytes);
  // Commits page `pageIndex` to flash (command 22), then pauses 10 ms. Returns
  // whether the meter confirmed it; errors pass to the caller.
  bool CommitPage(std::uint8_t pageIndex);
  // Asks for the firmware checksum (command 25) and reads it after a 10 ms
  // pause. Errors pass to the caller.
  ChecksumReading ReadChecksum();

 private:
  // Sends `command` with `request` in the bytes from 1 on and a fresh tag, up
  // to kConfirmedReadAttempts times, until a reply is confirmed (see above).
  // results: the reply's result bytes, 1..results; the echo lies behind them
  // and from byte 3 on.
  std::optional<Report> ConfirmedReply(std::uint8_t command, std::span<const std::uint8_t> request,
                                       std::size_t results);
  bool ConfirmedOnce(std::uint8_t command, std::span<const std::uint8_t> request, std::size_t results,
                     Report& reply);

  MeterLink& link_;
  std::uint16_t nextTag_ = 0;
};

}  // namespace lu14
