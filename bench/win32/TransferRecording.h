// A recording of feature transfers as the stand-in hid.dll writes it
// (tests/e2e/standin/StandInProtocol.h), and what the benchmarks read from
// one: spans, the waits the protocol mandates between transfers, the update
// and the poll ticks in it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lu14::bench {

struct RecordedTransfer {
  bool set = false;  // SetFeature; otherwise GetFeature
  bool ok = false;
  long long begin = 0;  // performance counter, as the stand-in was entered and left
  long long end = 0;
  std::array<std::uint8_t, 19> report{};

  std::uint8_t Command() const { return report[18]; }  // for a SetFeature
  std::uint8_t Status() const { return report[18]; }   // for a GetFeature
  std::uint16_t Parameter() const { return static_cast<std::uint16_t>(report[1] << 8 | report[2]); }
};

// First and last transfer of a stretch, both included.
struct Stretch {
  std::size_t first = 0;
  std::size_t last = 0;
};

struct TransferRecording {
  long long frequency = 1;
  std::vector<RecordedTransfer> transfers;

  // Nothing, with `error` saying why, when the file is not a recording.
  static std::optional<TransferRecording> Read(const std::filesystem::path& file, std::string& error);

  double Milliseconds(long long ticks) const { return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency); }
  // From the start of the stretch's first transfer to the end of its last.
  double SpanMs(Stretch stretch) const;
  // The start of `transfer` after the end of the one before it (0 for the first).
  double GapMs(std::size_t transfer) const;
  double TransferMs(std::size_t transfer) const;
};

// A run without retries: every transfer succeeded and every reply said done.
// Only such a run has its waits fixed by the protocol alone.
bool IsCleanRun(const std::vector<RecordedTransfer>& transfers, std::string& error);

// What the program must wait before `transfer` begins, counted from the end
// of the one before: the pause after an EEPROM write (and after each byte of
// the version text), after a page commit and after the checksum request,
// and the period of Timer2 before each chunk tick after the first (a tick
// re-arms it at its end), then Timer3's before the finishing step. Inside a
// transaction nothing is waited in a clean run.
std::chrono::microseconds MandatedWaitBefore(const std::vector<RecordedTransfer>& transfers, std::size_t transfer);

// Whether that wait holds a timer period (a chunk or finishing tick).
bool StartsTimerTick(const std::vector<RecordedTransfer>& transfers, std::size_t transfer);

// The update in a recording begun at the click on B1: from the first
// transfer to the one that marks the firmware complete. Nothing when the
// recording holds no such mark.
std::optional<Stretch> FindUpdate(const TransferRecording& recording);

// The poll ticks in a recording of a polling program: runs of transfers
// separated by more than a quarter of Timer1's period.
std::vector<Stretch> FindPollTicks(const TransferRecording& recording);

}  // namespace lu14::bench
