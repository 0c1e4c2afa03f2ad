#include "bench/win32/TransferRecording.h"

#include <fstream>

#include "device/MeterMemory.h"
#include "device/MeterProtocol.h"
#include "update/UpdateParameters.h"

namespace lu14::bench {
namespace {

using std::chrono::microseconds;

constexpr std::uint8_t kStatusDoneByte = kStatusDone;
constexpr auto kPollTickSeparation = std::chrono::milliseconds(250);

// Bytes of a whole report (ReadTimedRecording keeps no other).
std::uint8_t Command(const RecordedTransfer& set) { return set.bytes.at(kCommandByte); }
std::uint8_t Status(const RecordedTransfer& get) { return get.bytes.at(kStatusByte); }
std::uint16_t Parameter(const RecordedTransfer& set) {
  return static_cast<std::uint16_t>(set.bytes.at(kParamHigh) << 8 | set.bytes.at(kParamLow));
}

bool IsChunkTickCommand(std::uint8_t command) { return command == cmdWriteChunk || command == cmdCommitPage; }

// The SetFeature that opened the transaction `transfer` belongs to, or the
// transfer count when there is none before it.
std::size_t TransactionStart(const std::vector<RecordedTransfer>& transfers, std::size_t transfer) {
  for (std::size_t i = transfer + 1; i-- > 0;) {
    if (transfers[i].set) return i;
  }
  return transfers.size();
}

// Why the reader refused the file, for the one who runs the benchmark.
std::string FaultText(const record::RecordingFault& fault) {
  using Reason = record::RecordingFaultReason;
  switch (fault.reason) {
    case Reason::Empty: return "the file is empty";
    case Reason::NotJson: return "not a JSON line";
    case Reason::CutShort: return "cut short";
    case Reason::NotObject: return "not a JSON object";
    case Reason::NoHeader: return "no recording header";
    case Reason::OtherFormat: return "recording format " + std::to_string(fault.format);
    case Reason::FieldMissing: return "no field " + fault.field;
    case Reason::FieldWrongType: return "a wrong value in " + fault.field;
    case Reason::OutOfOrder: return "transfer " + std::to_string(fault.transfer) + " out of order";
    case Reason::UnknownLine: return "a line of no known kind";
    case Reason::LineTooLong: return "a line too long";
  }
  return "not a recording";
}

}  // namespace

std::optional<Recording> ReadTimedRecording(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot open " + file.string();
    return std::nullopt;
  }
  record::RecordingFault fault;
  std::optional<Recording> recording = record::ReadRecording(in, fault);
  if (!recording) {
    error = file.string() + (fault.line ? ", line " + std::to_string(fault.line) : std::string()) + ": " +
            FaultText(fault);
    return std::nullopt;
  }
  if (!recording->header.counterFrequency) {
    error = file.string() + ": no counterFrequency in the header: not a recording of the stand-in";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < recording->transfers.size(); ++i) {
    const RecordedTransfer& transfer = recording->transfers[i];
    const char* missing = !transfer.counter                      ? "its counter readings"
                          : transfer.bytes.size() != kReportSize ? "a 19-byte report"
                                                                  : nullptr;
    if (missing) {
      error = file.string() + ": transfer " + std::to_string(i + 1) + " has not " + missing;
      return std::nullopt;
    }
  }
  return recording;
}

double Milliseconds(const Recording& recording, std::int64_t ticks) {
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(*recording.header.counterFrequency);
}

double SpanMs(const Recording& recording, Stretch stretch) {
  const auto& transfers = recording.transfers;
  return Milliseconds(recording, transfers[stretch.last].counter->end - transfers[stretch.first].counter->begin);
}

double GapMs(const Recording& recording, std::size_t transfer) {
  const auto& transfers = recording.transfers;
  return transfer == 0 ? 0.0
                       : Milliseconds(recording, transfers[transfer].counter->begin - transfers[transfer - 1].counter->end);
}

double TransferMs(const Recording& recording, std::size_t transfer) {
  const record::CounterSpan& counter = *recording.transfers[transfer].counter;
  return Milliseconds(recording, counter.end - counter.begin);
}

bool IsCleanRun(const std::vector<RecordedTransfer>& transfers, std::string& error) {
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    const RecordedTransfer& transfer = transfers[i];
    if (!transfer.result) error = "transfer " + std::to_string(i) + " failed";
    else if (!transfer.set && Status(transfer) != kStatusDoneByte) error = "transfer " + std::to_string(i) + " read busy";
    else continue;
    return false;
  }
  return true;
}

microseconds MandatedWaitBefore(const std::vector<RecordedTransfer>& transfers, std::size_t transfer) {
  if (transfer == 0 || !transfers[transfer].set) return microseconds{0};
  const std::size_t previousStart = TransactionStart(transfers, transfer - 1);
  if (previousStart == transfers.size()) return microseconds{0};
  const RecordedTransfer& previous = transfers[previousStart];
  microseconds wait{0};
  switch (Command(previous)) {
    case cmdWriteEeprom:
      wait += kEepromWritePause;
      if (Parameter(previous) >= kEepromVersionText && Parameter(previous) < kEepromVersionText + 5) {
        wait += kVersionBytePause;
      }
      break;
    case cmdCommitPage: wait += kCommitPause; break;
    case cmdReadChecksum: wait += kChecksumPause; break;
    default: break;
  }
  if (StartsTimerTick(transfers, transfer)) {
    // The tick before re-armed Timer2; after the last chunk one more Timer2
    // tick finds the image sent and arms Timer3 for the finishing step.
    wait += kChunkTickPeriod;
    if (Command(transfers[transfer]) != cmdWriteChunk) wait += kFinishTickDelay;
  }
  return wait;
}

bool StartsTimerTick(const std::vector<RecordedTransfer>& transfers, std::size_t transfer) {
  if (transfer == 0 || !transfers[transfer].set) return false;
  const std::size_t previousStart = TransactionStart(transfers, transfer - 1);
  return previousStart != transfers.size() && IsChunkTickCommand(Command(transfers[previousStart])) &&
         Command(transfers[transfer]) != cmdCommitPage;
}

std::optional<Stretch> FindUpdate(const Recording& recording) {
  const auto& transfers = recording.transfers;
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    const RecordedTransfer& transfer = transfers[i];
    if (!transfer.set || Command(transfer) != cmdWriteEeprom || Parameter(transfer) != kEepromFirmwareValidFlag ||
        transfer.bytes.at(kEchoFirst) != kFirmwareComplete) {
      continue;
    }
    // The mark's transaction ends with its last read.
    std::size_t last = i;
    while (last + 1 < transfers.size() && !transfers[last + 1].set) ++last;
    return Stretch{0, last};
  }
  return std::nullopt;
}

std::vector<Stretch> FindPollTicks(const Recording& recording) {
  std::vector<Stretch> ticks;
  const double separation = std::chrono::duration<double, std::milli>(kPollTickSeparation).count();
  for (std::size_t i = 0; i < recording.transfers.size(); ++i) {
    if (ticks.empty() || GapMs(recording, i) > separation) ticks.push_back({i, i});
    ticks.back().last = i;
  }
  return ticks;
}

}  // namespace lu14::bench
