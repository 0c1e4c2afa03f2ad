// The faults the simulated meter can show on demand. A test builds a plan
// before (or while) the host talks to the meter:
//
//   meter.Faults().Add({.which = Commands::Next(), .busyReads = 2});
//   meter.Faults().Add({.which = Commands::IndexOf(SimMeter::kWriteChunk, 4), .sumDelta = 1});
//   meter.Faults().FailNextSends(1);
//
//   meter.Faults().SetPowerLoss({.pageBytesProgrammed = 40, .eepromWrite = PowerLoss::EepromWrite::kKept});
//
// Command faults change what the meter answers to chosen commands; transfer
// faults make chosen SetFeature/GetFeature calls fail outright. Rules stack:
// every rule that matches a command applies to it. A power loss wipes the
// meter's volatile state and cuts short the command under way: when the bus
// cuts the power (SimHidBus::LosePowerAtTransfer) as SetPowerLoss says, when a
// test calls SimMeter::LosePower as its argument says. SimMeter.h gives the
// rules.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <vector>

namespace lu14::sim {

class SimMeter;

// Which commands a command fault hits. Commands are counted in the order the
// meter receives them (a SetFeature that failed was not received); indexes
// are 0-based, so index 0 is the first command.
struct Commands {
  static constexpr std::size_t kEvery = std::numeric_limits<std::size_t>::max();

  std::optional<std::uint8_t> code;  // count only commands with this code; empty: all codes
  std::size_t first = 0;             // index of the first command hit, among those counted
  std::size_t count = 1;             // how many in a row; kEvery: all from `first` on
  bool fromNow = false;              // `first` counts from the commands received when the rule is added

  // The next n commands of any code, counted from when the rule is added.
  static Commands Next(std::size_t n = 1) { return {std::nullopt, 0, n, true}; }
  // The next n commands with this code, counted from when the rule is added.
  static Commands NextOf(std::uint8_t code, std::size_t n = 1) { return {code, 0, n, true}; }
  // The command(s) at this index among all commands since the meter was made.
  static Commands Index(std::size_t index, std::size_t n = 1) { return {std::nullopt, index, n, false}; }
  // The command(s) at this index among those with this code since the meter was made:
  // IndexOf(kWriteChunk, 4) is the fifth chunk.
  static Commands IndexOf(std::uint8_t code, std::size_t index, std::size_t n = 1) { return {code, index, n, false}; }
  // Every command with this code, past and future.
  static Commands AllOf(std::uint8_t code) { return {code, 0, kEvery, false}; }
};

// What goes wrong with the commands a rule hits. Effects that do not apply to a
// command (a sum offset on an EEPROM read) are ignored for it.
struct CommandFault {
  static constexpr std::size_t kForever = std::numeric_limits<std::size_t>::max();

  Commands which{};
  // The first busyReads reads after the command answer busy (status 1, the
  // request echoed, no result yet). kForever: the command never completes.
  std::size_t busyReads = 0;
  // The echo in the reply differs from the request in byte echoByte (inverted).
  bool corruptEcho = false;
  // The byte corruptEcho inverts, 1..17: by default 17, a byte no command uses
  // for a result. A host compares the echo of 3..17; 1 and 2 differ from the
  // request anyway where a command puts its result there.
  std::size_t echoByte = 17;
  // Added to the 16-bit sum in the reply of a chunk write (command 23), modulo 2^16.
  int sumDelta = 0;
  // Reported by the checksum command (25) instead of the flash checksum; low 24 bits.
  std::optional<std::uint32_t> checksum = std::nullopt;
  // The command takes effect, but reads keep answering the reply of the command
  // before it (after any busy reads).
  bool staleReply = false;
};

// What every rule that matches one command adds up to.
struct FaultEffect {
  std::size_t busyReads = 0;          // kForever once any rule says so
  std::bitset<19> invertedEchoBytes;  // each named byte inverted once, however many rules name it
  int sumDelta = 0;
  std::optional<std::uint32_t> checksum;
  bool staleReply = false;
};

// How a power loss cuts short the command under way (SimMeter.h says when a
// command is under way and what else the meter loses). Commands other than
// these two lose nothing of their effect. The defaults are the harsh case: a
// page torn in its middle and the write lost.
struct PowerLoss {
  enum class EepromWrite { kKept, kLost };
  static constexpr std::size_t kWholePage = 256;  // SimMeter::kPageSize

  // A page commit under way erases its flash page first, then programs it
  // from its first byte on: this many bytes of it (0..256) reach the flash,
  // the rest of the page stays erased (0xFF). 0: the page is left blank;
  // 256: the page is whole although its reply was not read.
  std::size_t pageBytesProgrammed = 128;
  // An EEPROM write under way reaches its cell (kKept) or leaves the byte it
  // had (kLost).
  EepromWrite eepromWrite = EepromWrite::kLost;
};

// Throws std::out_of_range for pageBytesProgrammed past kWholePage.
void CheckPowerLoss(const PowerLoss& how);

enum class TransferDirection { kSetFeature, kGetFeature };

class FaultPlan {
 public:
  // Throws std::out_of_range for an echoByte outside 1..17.
  void Add(const CommandFault& fault);

  // The transfer with this trace index fails (SetFeature: the command is not
  // received; GetFeature: the host's buffer is left untouched).
  void FailTransfer(std::size_t traceIndex) { failingTransfers_.insert(traceIndex); }
  // The next n SetFeature / GetFeature calls fail.
  void FailNextSends(std::size_t n) { failSends_ += n; }
  void FailNextReads(std::size_t n) { failReads_ += n; }
  // The next n successful reads answer busy, whatever command they belong to.
  void BusyNextReads(std::size_t n) { busyReads_ += n; }

  // How the meter's power losses cut short the command under way when the
  // bus cuts its power (SimHidDevice::PowerLost); PowerLoss{} until set.
  // Throws std::out_of_range for pageBytesProgrammed past 256.
  void SetPowerLoss(const PowerLoss& how);

  // Forgets every rule and pending fault, the power-loss shape included;
  // command counts carry on.
  void Clear();

 private:
  friend class SimMeter;

  // A command fault after resolving `fromNow` against the counts at the time it was added.
  struct Rule {
    CommandFault fault;
    std::size_t first;
  };

  // Counts the command and merges every matching rule: busy reads add up,
  // the sum deltas add up, the corrupted echo bytes and the other flags
  // combine, the last checksum set wins.
  FaultEffect OnCommand(std::uint8_t code);
  // Consumes a pending failure for this transfer, if any.
  bool TransferFails(std::size_t traceIndex, TransferDirection direction);
  // Consumes one pending busy read, if any.
  bool TakeBusyRead();

  std::size_t Received(const std::optional<std::uint8_t>& code) const;

  std::vector<Rule> rules_;
  std::set<std::size_t> failingTransfers_;
  std::size_t failSends_ = 0;
  std::size_t failReads_ = 0;
  std::size_t busyReads_ = 0;
  PowerLoss powerLoss_;
  std::size_t commandsReceived_ = 0;
  std::array<std::size_t, 256> receivedByCode_{};
};

}  // namespace lu14::sim
