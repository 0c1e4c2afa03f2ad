#include "sim/meter/SimMeter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace lu14::sim {
namespace {

constexpr std::uint8_t kBlank = 0xFF;  // erased flash, unset EEPROM characters
static_assert(PowerLoss::kWholePage == SimMeter::kPageSize);

// The information bytes a fresh meter answers: every selector the status poll
// reads, plus the two it skips (24/0x1100, 28/0x0300) so that a poll reading
// the wrong selector gets a telling byte rather than 0xFF. All distinct, so a
// swapped or repeated read shows in the identity text.
struct InfoDefault {
  std::uint8_t command;
  std::uint16_t selector;
  std::uint8_t value;
};
constexpr InfoDefault kInfoDefaults[] = {
    {29, 0x0093, 0x01},  // first identity character: 'A' + this byte, so "B"
    {24, 0x0800, 0x4C}, {24, 0x0900, 0x55}, {24, 0x0A00, 0x31}, {24, 0x0B00, 0x34},
    {24, 0x0C00, 0x07}, {24, 0x0D00, 0xE3}, {24, 0x1000, 0x12}, {24, 0x1100, 0x77},
    {24, 0x1200, 0x9A}, {24, 0x1300, 0x00}, {24, 0x1400, 0x5F}, {24, 0x1500, 0xC8},
    {28, 0x0000, 0x1E}, {28, 0x0100, 0x95}, {28, 0x0200, 0x0F}, {28, 0x0300, 0x42},
    {28, 0x0400, 0xA7}, {28, 0x0500, 0x3C},
    {29, 0x01D0, 0x86},
};

constexpr std::uint16_t kOptionC2Address = 856;
constexpr std::uint16_t kOptionC1Address = 947;
constexpr std::uint16_t kOptionC4Address = 957;
constexpr std::uint16_t kOptionC3Address = 1022;

std::uint16_t Parameter(const SimMeter::Report& request) {
  return static_cast<std::uint16_t>(request[1] << 8 | request[2]);
}

}  // namespace

SimMeter::SimMeter() {
  for (std::size_t address = 0; address < kEepromSize; ++address) {
    eeprom_[address] = static_cast<std::uint8_t>(address % 251);
  }
  SetVersionText("D1.50");
  eeprom_[kOptionC2Address] = 1;
  eeprom_[kOptionC1Address] = 0;
  eeprom_[kOptionC4Address] = 1;
  eeprom_[kOptionC3Address] = 0;
  SetBatteryCoefficient(1.0f);
  SetFirmwareFlag(1);

  for (const InfoDefault& entry : kInfoDefaults) info_[{entry.command, entry.selector}] = entry.value;

  flash_.fill(kBlank);
  pageBuffer_.fill(kBlank);
}

// --- transfers -----------------------------------------------------------------

bool SimMeter::SetFeature(std::span<const std::uint8_t> report) {
  const std::size_t index = transferCount_;
  const bool ok = report.size() == kReportSize && report[0] == 0 &&
                  !faults_.TransferFails(index, TransferDirection::kSetFeature);
  Record(TransferDirection::kSetFeature, ok, report);
  if (!ok) return false;

  Report request;
  std::copy(report.begin(), report.end(), request.begin());
  Receive(request);
  return true;
}

bool SimMeter::GetFeature(std::span<std::uint8_t> report) {
  const std::size_t index = transferCount_;
  if (report.size() != kReportSize || report[0] != 0 ||
      faults_.TransferFails(index, TransferDirection::kGetFeature)) {
    Record(TransferDirection::kGetFeature, false, report);
    return false;
  }

  Report answer = reply_;
  bool busy = false;
  if (busyReadsLeft_ > 0) {
    if (busyReadsLeft_ != CommandFault::kForever) --busyReadsLeft_;
    busy = true;
  } else {
    busy = faults_.TakeBusyRead();
  }
  if (busy) {
    // Still working: the meter shows the request it is on, without a result.
    answer = lastRequest_;
    answer[0] = 0;
    answer[kStatusByte] = kStatusBusy;
  } else {
    underWay_ = false;
  }
  std::copy(answer.begin(), answer.end(), report.begin());
  Record(TransferDirection::kGetFeature, true, report);
  return true;
}

void SimMeter::Record(TransferDirection direction, bool ok, std::span<const std::uint8_t> bytes) {
  const std::size_t index = transferCount_++;
  if (!tracing_) return;
  const std::chrono::microseconds at = clock_ ? clock_() : std::chrono::microseconds{0};
  trace_.push_back({index, direction, ok, std::vector<std::uint8_t>(bytes.begin(), bytes.end()), at});
}

// --- commands ------------------------------------------------------------------

void SimMeter::Receive(const Report& request) {
  const FaultEffect fault = faults_.OnCommand(request[kCommandByte]);
  lastRequest_ = request;
  underWay_ = true;
  const Report reply = Execute(request, fault);
  if (!fault.staleReply) reply_ = reply;
  busyReadsLeft_ = fault.busyReads;
}

SimMeter::Report SimMeter::Execute(const Report& request, const FaultEffect& fault) {
  // The reply starts as the request; each command writes its result over bytes 1-3.
  Report reply = request;
  reply[0] = 0;
  reply[kStatusByte] = kStatusDone;

  switch (request[kCommandByte]) {
    case kWriteEeprom: {
      const std::uint16_t address = Parameter(request);
      if (address < kEepromSize) {
        eepromBefore_ = eeprom_[address];
        eeprom_[address] = request[3];
      }
      break;
    }
    case kReadEeprom: {
      const std::uint16_t address = Parameter(request);
      reply[1] = address < kEepromSize ? eeprom_[address] : kBlank;
      break;
    }
    case kCommitPage:
      CommitPage(request[1], request[2]);
      break;
    case kWriteChunk: {
      const std::size_t offset = request[1];
      unsigned sum = request[1];
      for (std::size_t i = 0; i < kChunkSize; ++i) {
        pageBuffer_[(offset + i) % kPageSize] = request[2 + i];
        sum += request[2 + i];
      }
      sum = (sum + static_cast<unsigned>(fault.sumDelta)) & 0xFFFFu;  // unsigned wrap is the modulo 2^16 we want
      reply[1] = static_cast<std::uint8_t>(sum & 0xFF);
      reply[2] = static_cast<std::uint8_t>(sum >> 8);
      break;
    }
    case kInfo24:
    case kInfo28:
    case kInfo29:
      reply[1] = Info(request[kCommandByte], Parameter(request));
      break;
    case kReadChecksum: {
      const std::uint32_t checksum = fault.checksum.value_or(Checksum());
      reply[1] = static_cast<std::uint8_t>(checksum & 0xFF);
      reply[2] = static_cast<std::uint8_t>((checksum >> 8) & 0xFF);
      reply[3] = static_cast<std::uint8_t>((checksum >> 16) & 0xFF);
      break;
    }
    case kMeasure:
      reply[1] = static_cast<std::uint8_t>(batteryRaw_ >> 8);
      reply[2] = static_cast<std::uint8_t>(batteryRaw_ & 0xFF);
      break;
    case kQuery30:
      break;
    default:
      reply[kStatusByte] = kStatusUnknownCommand;
      break;
  }

  for (std::size_t i = 1; i < kStatusByte; ++i) {
    if (fault.invertedEchoBytes.test(i)) reply[i] ^= 0xFF;
  }
  return reply;
}

void SimMeter::CommitPage(std::uint8_t page, std::uint8_t modelCode) {
  const bool accepted = page < kWritablePages && modelCode == kModelCode;
  commits_.push_back({page, modelCode, accepted});
  if (!accepted) return;
  std::copy(pageBuffer_.begin(), pageBuffer_.end(), flash_.begin() + static_cast<std::ptrdiff_t>(page * kPageSize));
  pageBuffer_.fill(kBlank);
}

// --- power ---------------------------------------------------------------------

void SimMeter::LosePower(const PowerLoss& how) {
  CheckPowerLoss(how);
  if (underWay_) CutShort(lastRequest_, how);
  pageBuffer_.fill(kBlank);
  lastRequest_ = {};
  reply_ = {};
  busyReadsLeft_ = 0;
  underWay_ = false;
}

void SimMeter::CutShort(const Report& request, const PowerLoss& how) {
  switch (request[kCommandByte]) {
    case kWriteEeprom: {
      const std::uint16_t address = Parameter(request);
      if (address < kEepromSize && how.eepromWrite == PowerLoss::EepromWrite::kLost) eeprom_[address] = eepromBefore_;
      break;
    }
    case kCommitPage:
      // The commit has already programmed the page whole; the programming
      // stops after pageBytesProgrammed bytes of the erased page instead.
      if (commits_.back().accepted) {
        const auto page = flash_.begin() + static_cast<std::ptrdiff_t>(request[1] * kPageSize);
        std::fill(page + static_cast<std::ptrdiff_t>(how.pageBytesProgrammed), page + kPageSize, kBlank);
      }
      break;
    default:
      break;
  }
}

// --- state -----------------------------------------------------------------------

void SimMeter::SetEeprom(std::size_t address, std::span<const std::uint8_t> bytes) {
  if (address > kEepromSize || bytes.size() > kEepromSize - address) {
    throw std::out_of_range("SimMeter::SetEeprom: past the end of the EEPROM");
  }
  std::copy(bytes.begin(), bytes.end(), eeprom_.begin() + static_cast<std::ptrdiff_t>(address));
}

std::string SimMeter::VersionText() const {
  const auto first = eeprom_.begin() + kVersionAddress;
  return std::string(first, first + kVersionLength);
}

void SimMeter::SetVersionText(std::string_view text) {
  for (std::size_t i = 0; i < kVersionLength; ++i) {
    eeprom_[kVersionAddress + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : kBlank;
  }
}

float SimMeter::BatteryCoefficient() const {
  std::uint32_t bits = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    bits |= static_cast<std::uint32_t>(eeprom_[kBatteryCoefficientAddress + i]) << (8 * i);
  }
  // memcpy rather than std::bit_cast, which clang 14's library lacks.
  float coefficient = 0;
  std::memcpy(&coefficient, &bits, sizeof coefficient);
  return coefficient;
}

void SimMeter::SetBatteryCoefficient(float coefficient) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &coefficient, sizeof bits);
  for (std::size_t i = 0; i < 4; ++i) {
    eeprom_[kBatteryCoefficientAddress + i] = static_cast<std::uint8_t>((bits >> (8 * i)) & 0xFF);
  }
}

std::uint8_t SimMeter::Info(std::uint8_t command, std::uint16_t selector) const {
  const auto found = info_.find({command, selector});
  return found == info_.end() ? kUnknownInfo : found->second;
}

std::vector<std::uint8_t> SimMeter::CommittedPages() const {
  std::vector<std::uint8_t> pages;
  for (const Commit& commit : commits_) {
    if (commit.accepted) pages.push_back(commit.page);
  }
  return pages;
}

void SimMeter::SetFlash(std::size_t address, std::span<const std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), flash_.begin() + static_cast<std::ptrdiff_t>(address));
}

std::uint32_t SimMeter::Checksum() const {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < kStreamedLength; ++i) sum += flash_[i];
  return sum & 0xFFFFFF;
}

// --- trace -----------------------------------------------------------------------

std::vector<std::uint8_t> SimMeter::CommandCodes() const {
  std::vector<std::uint8_t> codes;
  for (const Report& request : Requests()) codes.push_back(request[kCommandByte]);
  return codes;
}

std::vector<SimMeter::Report> SimMeter::Requests(std::optional<std::uint8_t> code) const {
  std::vector<Report> requests;
  for (const Transfer& transfer : trace_) {
    if (transfer.direction != TransferDirection::kSetFeature || !transfer.ok) continue;
    if (code && transfer.bytes[kCommandByte] != *code) continue;
    Report request;
    std::copy(transfer.bytes.begin(), transfer.bytes.end(), request.begin());
    requests.push_back(request);
  }
  return requests;
}

}  // namespace lu14::sim
