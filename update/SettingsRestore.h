// Putting a settings backup back into the meter: the meter's EEPROM is read
// whole and compared with the backup, and only the bytes that differ are
// written, each read back. The bytes the firmware update owns are never
// written: they describe the firmware the meter has now, not the settings.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "device/MeterMemory.h"
#include "device/MeterOption.h"
#include "update/BackupFile.h"

namespace lu14 {

// What an EEPROM address holds, where the address map names it.
enum class EepromPart {
  Option,              // one of the four option bytes
  BatteryCoefficient,  // 976..979
  VersionText,         // 832..836, written by the update
  AfterUpdate,         // 958, written by the update
  FirmwareFlag,        // 1023, the update's completion mark
  Other,               // not named by the map
};

EepromPart PartOf(std::uint16_t address);
// The option box whose byte is at `address`, if any.
std::optional<MeterOption> OptionAt(std::uint16_t address);
// The update writes these bytes; a restore leaves them as the meter has them.
bool OwnedByUpdate(std::uint16_t address);

struct ByteDifference {
  std::uint16_t address = 0;
  std::uint8_t meter = 0;  // what the meter holds
  std::uint8_t file = 0;   // what the backup holds
  friend bool operator==(const ByteDifference&, const ByteDifference&) = default;
};

// Every address whose byte differs, in ascending order, split into those a
// restore writes and those it skips (OwnedByUpdate).
struct RestorePlan {
  std::vector<ByteDifference> toWrite;
  std::vector<ByteDifference> skipped;
};

RestorePlan CompareImages(const EepromImage& meter, const EepromImage& backup);

// The meter's whole EEPROM, or where reading it stopped.
struct EepromReading {
  std::optional<EepromImage> image;
  std::uint16_t failedAt = 0;  // no image: the address whose read was not confirmed
  bool interrupted = false;    // no image: a stop was asked for
};

enum class ByteResult {
  Confirmed,          // written, confirmed, and read back equal to the backup
  WriteNotConfirmed,  // the meter did not confirm the write
  ReadBackFailed,     // the write was confirmed but the byte could not be read back
  ReadBackDiffers,    // the write was confirmed but the byte reads back otherwise
  NotAttempted,       // a byte before it failed, or a stop came first: not sent
};

struct ByteWritten {
  ByteDifference difference;
  ByteResult result = ByteResult::NotAttempted;
  std::optional<std::uint8_t> readBack;  // what the meter held afterwards, when read
};

// One entry per byte of RestorePlan::toWrite, in the same order. The writes
// stop at the first byte that fails: a meter that did not take one byte is
// not sent more. Running the restore again writes what still differs.
struct RestoreOutcome {
  std::vector<ByteWritten> bytes;
  bool interrupted = false;  // a stop was asked for between two bytes

  std::size_t Count(ByteResult result) const;
  // Every differing byte was written and read back equal.
  bool Succeeded() const { return Count(ByteResult::Confirmed) == bytes.size(); }
};

class SettingsRestore {
 public:
  explicit SettingsRestore(MeterMemory& memory);

  // Reads the 2048 EEPROM bytes in ascending order. stop: asked before every
  // byte; true ends the reading.
  EepromReading ReadMeter(const std::function<bool()>& stop = {});

  // Writes every byte of plan.toWrite with WriteEeprom (and its pause), then
  // reads it back. stop: asked before every byte.
  RestoreOutcome Write(const RestorePlan& plan, const std::function<bool()>& stop = {});

 private:
  MeterMemory& memory_;
};

}  // namespace lu14
