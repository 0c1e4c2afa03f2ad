// The simulated meter: a model of the tweezers meter's feature-report command
// protocol, served to the core by the simulated HID bus (and by the stand-in
// hid.dll under Wine). It holds the meter's EEPROM, its information bytes, the
// battery measurement, and the flash that a firmware update writes, records
// every transfer it sees, and misbehaves on demand through its fault plan.
//
// The protocol, as modelled here. Every report is 19 bytes, byte 0 the report
// ID 0. A SetFeature carries a command: bytes 1-2 a parameter (high byte
// first), 3-17 data, 18 the command code. The meter works out its reply at
// once, and every GetFeature answers that reply until the next command:
// byte 0 = 0, bytes 1-17 the request's bytes 1-17 with the command's result
// written over bytes 1-3, byte 18 the status (0 = done).
//
//   20 write EEPROM   1-2 address, 3 value                reply: echo only
//   21 read EEPROM    1-2 address                         reply 1: the byte
//   22 commit page    1 page index (0-234), 2 model 14    reply: echo only
//   23 write chunk    1 offset in the page, 2-17 data     reply 1-2: sum of request 1-17, low first
//   24/28/29 info     1-2 selector                        reply 1: the information byte
//   25 checksum                                           reply 1-3: 24-bit checksum, low first
//   27 measure        1-3: 0x20 0x01 0x02                 reply 1-2: raw battery value, HIGH first
//   30 query          1-2: 0x1118                         reply: echo only
//
// Choices where the real meter's behaviour is not known:
// - The checksum is the sum of flash bytes 0..60159 (the streamed image) modulo 2^24.
// - Any other command code is refused: its reply echoes the request with
//   status kStatusUnknownCommand, on every read, until the next command. A host
//   that sends one sees a command that never completes.
// - A commit with another model code than 14 or a page index past 234 (the
//   pages beyond hold the boot loader) is refused: flash and page buffer stay
//   as they are, the reply is still "done", and Commits() records it as refused.
// - A committed page erases the page buffer (to 0xFF), as microcontroller
//   self-programming does, so a page missing a chunk shows up in the flash.
// - Chunk bytes that run past the end of the page buffer (an offset that is not
//   a multiple of 16) wrap to its start.
// - EEPROM addresses from 2048 on: writes are dropped, reads answer 0xFF.
// - A SetFeature or GetFeature whose buffer is not 19 bytes, or whose report ID
//   is not 0, fails the transfer; nothing else changes (it is still traced).
// - Before the first command a read answers 19 zero bytes (done).
//
// Faults: the fault plan (SimMeterFaults.h) makes chosen transfers fail and
// chosen commands answer busy, with a corrupted echo or sum, a wrong checksum
// or a stale reply; the bus pulls the meter out or cuts its power.
//
// Power loss (LosePower, or the bus cutting the power through PowerLost). The
// power goes and comes back at once: whatever happens in between is the bus's
// business, which keeps the meter absent until it is plugged in again.
// - A command is under way from the SetFeature that delivered it until a read
//   answers it with something other than busy (its result, a stale reply or
//   the refusal of an unknown code), or until the next command arrives. Busy
//   replies model the meter still working, so a command stays under way
//   through them, through failed reads, and for good if it never completes.
//   A command whose reply a read has answered is whole: a power loss after
//   that takes nothing from it.
// - Cut short: a page commit under way leaves its page torn, an EEPROM write
//   under way is kept or lost, as the PowerLoss says (SimMeterFaults.h). A
//   refused commit has nothing to tear. Every other command keeps its effect.
// - Kept: the EEPROM, the flash (committed pages whole, a torn one torn), the
//   information bytes and the battery; the trace, its indexes and the clock;
//   the fault plan, whose rules, pending transfer failures, pending busy reads
//   and power-loss shape stay, and whose command counts carry on (the lost
//   command stays counted, so an index keeps naming the same command).
//   Commits() keeps a torn commit as received and accepted.
// - Lost: the page buffer (erased to 0xFF, so a commit before any new chunk
//   programs a blank page), the reply and the request it echoes (a read
//   answers 19 zero bytes, done, until the next command, as a fresh meter),
//   and the busy reads still owed to the command under way.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/SimHidDevice.h"
#include "sim/meter/SimMeterFaults.h"

namespace lu14::sim {

class SimMeter : public SimHidDevice {
 public:
  // --- protocol constants ---
  static constexpr std::size_t kReportSize = 19;
  static constexpr std::size_t kCommandByte = 18;
  static constexpr std::size_t kStatusByte = 18;
  static constexpr std::uint8_t kStatusDone = 0;
  static constexpr std::uint8_t kStatusBusy = 1;
  static constexpr std::uint8_t kStatusUnknownCommand = 0xFF;

  static constexpr std::uint8_t kWriteEeprom = 20;
  static constexpr std::uint8_t kReadEeprom = 21;
  static constexpr std::uint8_t kCommitPage = 22;
  static constexpr std::uint8_t kWriteChunk = 23;
  static constexpr std::uint8_t kInfo24 = 24;
  static constexpr std::uint8_t kReadChecksum = 25;
  static constexpr std::uint8_t kMeasure = 27;
  static constexpr std::uint8_t kInfo28 = 28;
  static constexpr std::uint8_t kInfo29 = 29;
  static constexpr std::uint8_t kQuery30 = 30;

  // --- memory layout ---
  static constexpr std::size_t kEepromSize = 2048;
  static constexpr std::size_t kFlashSize = 65536;
  static constexpr std::size_t kPageSize = 256;
  static constexpr std::size_t kChunkSize = 16;
  static constexpr std::size_t kWritablePages = 235;                        // pages 0-234
  static constexpr std::size_t kStreamedLength = kWritablePages * kPageSize;  // 60160, what the checksum covers
  static constexpr std::uint8_t kModelCode = 14;

  static constexpr std::uint16_t kVersionAddress = 832;  // five characters, 832-836
  static constexpr std::size_t kVersionLength = 5;
  static constexpr std::uint16_t kBatteryCoefficientAddress = 976;  // binary32, least significant byte first
  static constexpr std::uint16_t kFirmwareFlagAddress = 1023;       // 1 = firmware complete

  static constexpr std::uint16_t kDefaultBatteryRaw = 48000;  // 3.0 V with the coefficient 1.0
  static constexpr std::uint8_t kUnknownInfo = 0xFF;          // information byte of a selector not in the table

  using Report = std::array<std::uint8_t, kReportSize>;

  struct Transfer {
    std::size_t index;  // 0-based, over every transfer since the meter was made
    TransferDirection direction;
    bool ok;  // what the transfer reported to the host
    // SetFeature: the bytes written. GetFeature: the bytes answered, or the
    // host's untouched buffer when the read failed.
    std::vector<std::uint8_t> bytes;
    // When the meter saw the transfer, on the clock given to SetClock; 0 without one.
    std::chrono::microseconds at{0};
  };

  struct Commit {
    std::uint8_t page;
    std::uint8_t modelCode;
    bool accepted;  // false: refused, nothing written
  };

  // A meter with firmware "D1.50" complete, default information bytes, a
  // healthy battery, blank (0xFF) flash and page buffer. The EEPROM holds the
  // pattern address mod 251 (so a shifted or reordered dump shows), overlaid
  // with: the version text at 832-836, option bytes 856 = 1, 947 = 0, 957 = 1,
  // 1022 = 0 (every option off), the coefficient 1.0f at 976-979 and the
  // firmware flag 1 at 1023. Information bytes: a distinct byte for every
  // selector the status poll reads (the table in SimMeter.cpp), kUnknownInfo
  // for any other. Battery: kDefaultBatteryRaw.
  SimMeter();

  // --- SimHidDevice ---
  bool SetFeature(std::span<const std::uint8_t> report) override;
  bool GetFeature(std::span<std::uint8_t> report) override;
  // The bus cut the power: lost as the fault plan's SetPowerLoss says.
  void PowerLost() override { LosePower(faults_.powerLoss_); }

  // --- power ---
  // The power goes and comes back (the rules in the comment at the top).
  // Throws std::out_of_range for pageBytesProgrammed past kPageSize.
  void LosePower(const PowerLoss& how);

  // --- EEPROM ---
  std::uint8_t Eeprom(std::size_t address) const { return eeprom_.at(address); }
  void SetEeprom(std::size_t address, std::uint8_t value) { eeprom_.at(address) = value; }
  // Stores bytes from `address` on.
  void SetEeprom(std::size_t address, std::span<const std::uint8_t> bytes);
  std::span<const std::uint8_t> EepromBytes() const { return eeprom_; }
  // The five characters at 832-836.
  std::string VersionText() const;
  void SetVersionText(std::string_view text);  // the first five characters, padded with 0xFF
  std::uint8_t FirmwareFlag() const { return eeprom_[kFirmwareFlagAddress]; }
  void SetFirmwareFlag(std::uint8_t flag) { eeprom_[kFirmwareFlagAddress] = flag; }
  // The binary32 at 976-979, least significant byte first.
  float BatteryCoefficient() const;
  void SetBatteryCoefficient(float coefficient);

  // --- information bytes (commands 24, 28, 29) ---
  std::uint8_t Info(std::uint8_t command, std::uint16_t selector) const;
  void SetInfo(std::uint8_t command, std::uint16_t selector, std::uint8_t value) { info_[{command, selector}] = value; }

  // --- battery (command 27) ---
  std::uint16_t BatteryRaw() const { return batteryRaw_; }
  void SetBatteryRaw(std::uint16_t raw) { batteryRaw_ = raw; }

  // --- flash ---
  std::span<const std::uint8_t> Flash() const { return flash_; }
  // Stores bytes from `address` on, as a firmware already in the meter.
  void SetFlash(std::size_t address, std::span<const std::uint8_t> bytes);
  std::span<const std::uint8_t> PageBuffer() const { return pageBuffer_; }
  // Every commit received, refused ones included, in order.
  const std::vector<Commit>& Commits() const { return commits_; }
  // The page indexes of the accepted commits, in order.
  std::vector<std::uint8_t> CommittedPages() const;
  // What command 25 reports when no fault says otherwise.
  std::uint32_t Checksum() const;

  // --- trace ---
  const std::vector<Transfer>& Trace() const { return trace_; }
  // Drops the recorded transfers; indexes carry on.
  void ClearTrace() { trace_.clear(); }
  // A meter serving a long session can stop recording.
  void SetTracing(bool on) { tracing_ = on; }
  // Stamps every recorded transfer with this clock's reading: the simulated
  // runtime's virtual time, so that tests can measure the host's pauses
  // between transfers. An empty function stamps 0.
  void SetClock(std::function<std::chrono::microseconds()> clock) { clock_ = std::move(clock); }
  // How many transfers the meter has seen (the index the next one gets).
  std::size_t TransferCount() const { return transferCount_; }
  // The command codes received (SetFeature that succeeded), in order, from the trace.
  std::vector<std::uint8_t> CommandCodes() const;
  // The requests received, in order, from the trace; only those with `code` when given.
  std::vector<Report> Requests(std::optional<std::uint8_t> code = std::nullopt) const;
  // What a read answers now when no fault intervenes.
  const Report& Reply() const { return reply_; }

  // --- faults ---
  FaultPlan& Faults() { return faults_; }

 private:
  void Receive(const Report& request);
  Report Execute(const Report& request, const FaultEffect& fault);
  void CommitPage(std::uint8_t page, std::uint8_t modelCode);
  // Undoes what a power loss takes from the command under way.
  void CutShort(const Report& request, const PowerLoss& how);
  void Record(TransferDirection direction, bool ok, std::span<const std::uint8_t> bytes);

  std::array<std::uint8_t, kEepromSize> eeprom_{};
  std::map<std::pair<std::uint8_t, std::uint16_t>, std::uint8_t> info_;
  std::uint16_t batteryRaw_ = kDefaultBatteryRaw;
  std::array<std::uint8_t, kFlashSize> flash_{};
  std::array<std::uint8_t, kPageSize> pageBuffer_{};
  std::vector<Commit> commits_;

  Report lastRequest_{};  // what a busy read echoes
  Report reply_{};
  std::size_t busyReadsLeft_ = 0;
  bool underWay_ = false;         // lastRequest_ is under way (see the top)
  std::uint8_t eepromBefore_ = 0;  // what the cell of the last EEPROM write held before it

  FaultPlan faults_;
  std::vector<Transfer> trace_;
  std::size_t transferCount_ = 0;
  bool tracing_ = true;
  std::function<std::chrono::microseconds()> clock_;
};

}  // namespace lu14::sim
