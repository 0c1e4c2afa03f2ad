// The fixed reads of the status poll and the meter's option bytes.
#pragma once

#include <array>
#include <cstdint>

#include "device/MeterMemory.h"
#include "device/MeterProtocol.h"
#include "ports/StatusView.h"
#include "status/MeterStatus.h"
#include "update/BackupFile.h"

namespace lu14 {

// Command 30 is sent with this parameter before the battery measurement.
inline constexpr std::uint16_t kQuery30Parameter = 0x1118;

// The identity reads, in order. The first gives one letter (65 + the byte),
// every other one two upper-case hex digits. 24/0x1100 and 28/0x0300 are not read.
struct IdentityRead {
  std::uint8_t command;
  std::uint16_t parameter;
};
inline constexpr std::array<IdentityRead, 18> kIdentityReads{{
    {cmdInfo29, 0x0093},
    {cmdInfo24, 0x0800}, {cmdInfo24, 0x0900}, {cmdInfo24, 0x0A00},
    {cmdInfo24, 0x0B00}, {cmdInfo24, 0x0C00}, {cmdInfo24, 0x0D00},
    {cmdInfo24, 0x1000}, {cmdInfo24, 0x1200}, {cmdInfo24, 0x1300}, {cmdInfo24, 0x1400}, {cmdInfo24, 0x1500},
    {cmdInfo28, 0x0000}, {cmdInfo28, 0x0100}, {cmdInfo28, 0x0200}, {cmdInfo28, 0x0400}, {cmdInfo28, 0x0500},
    {cmdInfo29, 0x01D0},
}};
// The first read gives the letter, each other one two hex digits.
static_assert(kIdentityReads.size() * 2 - 1 == kIdentityLength);
inline constexpr std::uint8_t kIdentityLetterBase = 65;  // "A"
inline constexpr std::size_t kVersionTextLength = 5;

// The option bytes: where each is kept, and how the byte reads.
struct OptionByte {
  MeterOption box;
  std::uint16_t address;
  std::uint8_t writtenWhenTicked;
  std::uint8_t writtenWhenClear;
};
// In the order the poll reads them, which is kMeterOptions' order.
inline constexpr std::array<OptionByte, 4> kOptionBytes{{
    {MeterOption::AutoSave, kEepromAutoSave, 1, 0},  // ticked when the byte is 1
    {MeterOption::Capacitance, kEepromCapacitance, 0, 1},  // ticked when the byte is 0
    {MeterOption::MenuSwap, kEepromMenuSwap, 1, 0},  // ticked when the byte is not 0
    {MeterOption::ModifiedMeter, kEepromModifiedMeter, 0, 1},  // ticked when the byte is 0
}};

// Whether a stored option byte means the option is on (its box ticked).
constexpr bool OptionTicked(MeterOption box, std::uint8_t stored) {
  switch (box) {
    case MeterOption::AutoSave: return stored == 1;
    case MeterOption::MenuSwap: return stored != 0;
    case MeterOption::Capacitance:
    case MeterOption::ModifiedMeter: return stored == 0;
  }
  return false;
}

}  // namespace lu14
