// What the benchmarks read from a recording of feature transfers that the
// stand-in hid.dll wrote (an lu14 recording, hid/record/Recording.h, whose
// transfers carry the performance counter's readings): spans, the waits the
// protocol mandates between transfers, the update and the poll ticks in it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "hid/record/Recording.h"

namespace lu14::bench {

using record::Recording;
using record::RecordedTransfer;

// First and last transfer of a stretch, both included.
struct Stretch {
  std::size_t first = 0;
  std::size_t last = 0;
};

// Reads a recording through the shared reader and keeps it only when every
// analysis below can run on it: the counter's frequency in the header, and
// every transfer with its counter readings and a whole 19-byte report.
// Nothing, with `error` saying why, otherwise.
std::optional<Recording> ReadTimedRecording(const std::filesystem::path& file, std::string& error);

// Spans of a timed recording, from its counter readings.
double Milliseconds(const Recording& recording, std::int64_t ticks);
// From the start of the stretch's first transfer to the end of its last.
double SpanMs(const Recording& recording, Stretch stretch);
// The start of `transfer` after the end of the one before it (0 for the first).
double GapMs(const Recording& recording, std::size_t transfer);
double TransferMs(const Recording& recording, std::size_t transfer);

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
std::optional<Stretch> FindUpdate(const Recording& recording);

// The poll ticks in a recording of a polling program: runs of transfers
// separated by more than a quarter of Timer1's period.
std::vector<Stretch> FindPollTicks(const Recording& recording);

}  // namespace lu14::bench
