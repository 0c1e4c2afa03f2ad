#include "bench/win32/TransferRecording.h"

#include <fstream>
#include <sstream>

#include "device/MeterMemory.h"
#include "device/MeterProtocol.h"
#include "tests/e2e/standin/StandInProtocol.h"
#include "update/UpdateParameters.h"

namespace lu14::bench {
namespace {

using std::chrono::microseconds;

constexpr std::uint8_t kStatusDoneByte = kStatusDone;
constexpr auto kPollTickSeparation = std::chrono::milliseconds(250);

bool ReadHex(const std::string& hex, std::array<std::uint8_t, 19>& bytes) {
  if (hex.size() != bytes.size() * 2) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::size_t used = 0;
    const unsigned long value = std::stoul(hex.substr(i * 2, 2), &used, 16);
    if (used != 2) return false;
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  return true;
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

}  // namespace

std::optional<TransferRecording> TransferRecording::Read(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = "cannot open " + file.string();
    return std::nullopt;
  }
  TransferRecording recording;
  std::string line;
  std::size_t number = 0;
  try {
    while (std::getline(in, line)) {
      ++number;
      std::istringstream fields(line);
      if (number == 1) {
        std::string word;
        if (!(fields >> word >> recording.frequency) || word != "frequency" || recording.frequency <= 0) {
          throw std::invalid_argument("no frequency header");
        }
        continue;
      }
      char direction = 0;
      int ok = 0;
      std::string hex;
      RecordedTransfer transfer;
      if (!(fields >> direction >> ok >> transfer.begin >> transfer.end >> hex) ||
          (direction != e2e::kTransferSet && direction != e2e::kTransferGet) || !ReadHex(hex, transfer.report)) {
        throw std::invalid_argument("not a transfer");
      }
      transfer.set = direction == e2e::kTransferSet;
      transfer.ok = ok == 1;
      recording.transfers.push_back(transfer);
    }
  } catch (const std::exception& fault) {
    error = file.string() + ", line " + std::to_string(number) + ": " + fault.what();
    return std::nullopt;
  }
  if (number == 0) {
    error = file.string() + " is empty";
    return std::nullopt;
  }
  return recording;
}

double TransferRecording::SpanMs(Stretch stretch) const {
  return Milliseconds(transfers[stretch.last].end - transfers[stretch.first].begin);
}

double TransferRecording::GapMs(std::size_t transfer) const {
  return transfer == 0 ? 0.0 : Milliseconds(transfers[transfer].begin - transfers[transfer - 1].end);
}

double TransferRecording::TransferMs(std::size_t transfer) const {
  return Milliseconds(transfers[transfer].end - transfers[transfer].begin);
}

bool IsCleanRun(const std::vector<RecordedTransfer>& transfers, std::string& error) {
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    const RecordedTransfer& transfer = transfers[i];
    if (!transfer.ok) error = "transfer " + std::to_string(i) + " failed";
    else if (!transfer.set && transfer.Status() != kStatusDoneByte) error = "transfer " + std::to_string(i) + " read busy";
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
  switch (previous.Command()) {
    case cmdWriteEeprom:
      wait += kEepromWritePause;
      if (previous.Parameter() >= kEepromVersionText && previous.Parameter() < kEepromVersionText + 5) {
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
    if (transfers[transfer].Command() != cmdWriteChunk) wait += kFinishTickDelay;
  }
  return wait;
}

bool StartsTimerTick(const std::vector<RecordedTransfer>& transfers, std::size_t transfer) {
  if (transfer == 0 || !transfers[transfer].set) return false;
  const std::size_t previousStart = TransactionStart(transfers, transfer - 1);
  return previousStart != transfers.size() && IsChunkTickCommand(transfers[previousStart].Command()) &&
         transfers[transfer].Command() != cmdCommitPage;
}

std::optional<Stretch> FindUpdate(const TransferRecording& recording) {
  const auto& transfers = recording.transfers;
  for (std::size_t i = 0; i < transfers.size(); ++i) {
    const RecordedTransfer& transfer = transfers[i];
    if (!transfer.set || transfer.Command() != cmdWriteEeprom || transfer.Parameter() != kEepromFirmwareValidFlag ||
        transfer.report[kEchoFirst] != kFirmwareComplete) {
      continue;
    }
    // The mark's transaction ends with its last read.
    std::size_t last = i;
    while (last + 1 < transfers.size() && !transfers[last + 1].set) ++last;
    return Stretch{0, last};
  }
  return std::nullopt;
}

std::vector<Stretch> FindPollTicks(const TransferRecording& recording) {
  std::vector<Stretch> ticks;
  const double separation = std::chrono::duration<double, std::milli>(kPollTickSeparation).count();
  for (std::size_t i = 0; i < recording.transfers.size(); ++i) {
    if (ticks.empty() || recording.GapMs(i) > separation) ticks.push_back({i, i});
    ticks.back().last = i;
  }
  return ticks;
}

}  // namespace lu14::bench
