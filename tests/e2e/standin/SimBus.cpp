#include "tests/e2e/standin/SimBus.h"

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <stdexcept>

#include "hid/record/Recording.h"
#include "tests/e2e/standin/StandInProtocol.h"

namespace lu14::e2e {
namespace {

using sim::CommandFault;
using sim::Commands;
using sim::SimMeter;

// Arguments of a command, read one at a time; a missing or malformed one
// throws, which refuses the command.
class Arguments {
 public:
  explicit Arguments(const std::string& line) : stream_(line) {}

  std::string Word() {
    std::string word;
    if (!(stream_ >> word)) throw std::invalid_argument("missing argument");
    return word;
  }
  std::uint64_t Number(std::uint64_t max) {
    const std::string word = Word();
    std::size_t used = 0;
    const unsigned long long value = std::stoull(word, &used, 0);
    if (used != word.size() || value > max) throw std::invalid_argument("bad number");
    return value;
  }
  std::uint32_t Id() { return static_cast<std::uint32_t>(Number(0xFFFFFFFFu)); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Number(0xFF)); }
  std::size_t Count() { return static_cast<std::size_t>(Number(0xFFFFFFFFu)); }
  // A count, or the word "all".
  std::size_t CountOrAll() {
    const std::string word = Word();
    if (word == "all") return ReplyReadFault::kAll;
    std::size_t used = 0;
    const unsigned long long value = std::stoull(word, &used, 0);
    if (used != word.size() || value > 0xFFFFFFFFu) throw std::invalid_argument("bad count");
    return static_cast<std::size_t>(value);
  }
  bool More() {
    stream_ >> std::ws;
    return !stream_.eof();
  }
  // The rest of the line after one blank.
  std::string Rest() {
    stream_.get();
    std::string rest;
    std::getline(stream_, rest);
    return rest;
  }

 private:
  std::istringstream stream_;
};

// The path of a plug as setupapi lists it and the program opens it.
std::wstring InterfacePath(const Connection& connection) { return L"\\\\?\\" + connection.file; }

LONGLONG PerformanceCounter() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

void NotifyDevicesChanged() {
  // What the system sends every top-level window when its device tree changes.
  PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace

std::optional<FileKey> KeyOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileKey{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

std::wstring Widen(const std::string& utf8) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

bool WriteTextFile(const std::wstring& path, const std::string& text) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size();
}

void BusDevice::CommandReceived(const std::uint8_t* report) {
  readsSinceHit.reset();
  if (!replyReadFault || replyReadFault->commands == 0) return;
  const auto parameter = static_cast<std::uint16_t>(report[1] << 8 | report[2]);
  if (report[SimMeter::kCommandByte] != replyReadFault->command || parameter != replyReadFault->parameter) return;
  if (replyReadFault->commands != ReplyReadFault::kAll) --replyReadFault->commands;
  readsSinceHit = 0;
}

bool BusDevice::ReplyReadFails() {
  if (!readsSinceHit || !replyReadFault) return false;
  const std::size_t read = ++*readsSinceHit;
  const ReplyReadFault& fault = *replyReadFault;
  const bool fails = read >= fault.firstRead && (fault.reads == ReplyReadFault::kAll || read - fault.firstRead < fault.reads);
  if (fails) ++failedReplyReads;
  return fails;
}

SimBus::SimBus(std::wstring folder) : folder_(std::move(folder)), deviceFolder_(folder_ + L"\\" + kDeviceFolderName) {
  CreateDirectoryW(deviceFolder_.c_str(), nullptr);
}

void SimBus::RunStartFile() {
  std::ifstream file(std::filesystem::path(folder_) / kMetersFileName);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    Execute(line, false);
  }
}

bool SimBus::Execute(const std::string& command, bool notices) {
  try {
    Arguments args(command);
    const std::string verb = args.Word();

    if (verb == "plug") {
      const std::uint32_t id = args.Id();
      std::uint16_t vendor = kMeterVendorId;
      std::uint16_t product = kMeterProductId;
      if (args.More()) {
        vendor = static_cast<std::uint16_t>(args.Number(0xFFFF));
        product = static_cast<std::uint16_t>(args.Number(0xFFFF));
      }
      return Plug(id, vendor, product, notices);
    }
    if (verb == "unplug") return Unplug(args.Id(), notices);
    if (verb == "devices-changed") {
      if (notices) NotifyDevicesChanged();
      return true;
    }
    if (verb == "latency") {
      latencyUs_ = args.Number(10'000'000);
      return true;
    }
    if (verb == "record-transfers") {
      recording_ = true;
      recordingStart_ = PerformanceCounter();
      recorded_.clear();
      recorded_.reserve(1 << 15);  // a whole update: no reallocation on the way
      return true;
    }
    if (verb == "write-transfers") return WriteTextFile(Widen(args.Rest()), RecordedTransfers());
    if (verb == "write-transfers-at-exit") {
      transfersAtExit_ = Widen(args.Rest());
      return true;
    }
    if (verb == "unplug-at-transfer") {
      const std::size_t n = args.Count();
      const std::uint32_t id = args.Id();
      if (n == 0 || !Device(id)) return false;
      unplugAt_ = std::make_pair(n, id);
      return true;
    }

    // The rest act on one meter.
    const std::uint32_t id = args.Id();
    BusDevice* device = Device(id);
    if (!device) return false;
    SimMeter& meter = *device->meter;
    if (verb == "eeprom") {
      const auto address = static_cast<std::size_t>(args.Number(SimMeter::kEepromSize - 1));
      meter.SetEeprom(address, args.Byte());
    } else if (verb == "version") {
      meter.SetVersionText(args.Word());
    } else if (verb == "info") {
      const std::uint8_t code = args.Byte();
      const auto selector = static_cast<std::uint16_t>(args.Number(0xFFFF));
      meter.SetInfo(code, selector, args.Byte());
    } else if (verb == "battery") {
      meter.SetBatteryRaw(static_cast<std::uint16_t>(args.Number(0xFFFF)));
    } else if (verb == "report-length") {
      device->reportLength = static_cast<std::uint16_t>(args.Number(0xFFFF));
    } else if (verb == "sum-mismatch-at-chunk") {
      meter.Faults().Add({.which = {SimMeter::kWriteChunk, args.Count(), 1, true}, .sumDelta = 1});
    } else if (verb == "busy-forever" || verb == "busy") {
      const std::uint8_t code = args.Byte();
      const std::size_t index = args.Count();
      const std::size_t reads = verb == "busy" ? args.Count() : CommandFault::kForever;
      meter.Faults().Add({.which = {code, index, 1, true}, .busyReads = reads});
    } else if (verb == "corrupt-echo") {
      const std::uint8_t code = args.Byte();
      const std::size_t index = args.Count();
      const std::size_t count = args.More() ? args.Count() : 1;
      meter.Faults().Add({.which = {code, index, count, true}, .corruptEcho = true});
    } else if (verb == "fail-reply-read") {
      ReplyReadFault fault;
      fault.command = args.Byte();
      fault.parameter = static_cast<std::uint16_t>(args.Number(0xFFFF));
      fault.firstRead = args.Count();
      if (fault.firstRead == 0) return false;
      fault.reads = args.More() ? args.CountOrAll() : 1;
      fault.commands = args.More() ? args.CountOrAll() : 1;
      if (fault.reads == 0 || fault.commands == 0) return false;
      device->replyReadFault = fault;
      device->readsSinceHit.reset();
    } else if (verb == "fail-sends") {
      meter.Faults().FailNextSends(args.Count());
    } else if (verb == "fail-reads") {
      meter.Faults().FailNextReads(args.Count());
    } else if (verb == "checksum") {
      meter.Faults().Add({.which = Commands::AllOf(SimMeter::kReadChecksum),
                          .checksum = static_cast<std::uint32_t>(args.Number(0xFFFFFF))});
    } else if (verb == "clear-faults") {
      meter.Faults().Clear();
      device->replyReadFault.reset();
      device->readsSinceHit.reset();
    } else if (verb == "dump") {
      return WriteTextFile(Widen(args.Rest()), Dump(id));
    } else if (verb == "dump-at-exit") {
      device->dumpAtExit = Widen(args.Rest());
    } else {
      return false;
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool SimBus::Plug(std::uint32_t id, std::uint16_t vendorId, std::uint16_t productId, bool notices) {
  if (PresentConnection(id)) return false;
  BusDevice& device = devices_[id];
  if (!device.meter) {
    device.meter = std::make_unique<SimMeter>();
    // The bus counts what it needs; a meter serving a long session keeps no trace.
    device.meter->SetTracing(false);
  }
  device.vendorId = vendorId;
  device.productId = productId;

  Connection connection;
  connection.deviceId = id;
  connection.devInst = nextDevInst_++;
  wchar_t name[96];
  std::swprintf(name, 96, L"hid#vid_%04x&pid_%04x#%u&%04lx", static_cast<unsigned>(vendorId),
                static_cast<unsigned>(productId), static_cast<unsigned>(id),
                static_cast<unsigned long>(connection.devInst));
  connection.file = deviceFolder_ + L"\\" + name;
  const HANDLE file =
      CreateFileW(connection.file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  connection.key = KeyOf(file);
  CloseHandle(file);
  if (!connection.key) return false;
  connections_.push_back(std::move(connection));
  if (notices) NotifyDevicesChanged();
  return true;
}

bool SimBus::Unplug(std::uint32_t id, bool notices) {
  Connection* connection = PresentConnection(id);
  if (!connection) return false;
  connection->present = false;
  DeleteUnusedFiles();
  if (notices) NotifyDevicesChanged();
  return true;
}

Connection* SimBus::PresentConnection(std::uint32_t id) {
  for (Connection& connection : connections_) {
    if (connection.deviceId == id && connection.present) return &connection;
  }
  return nullptr;
}

// A file that the program still holds open cannot go (it opens without
// FILE_SHARE_DELETE); it is tried again at every scan. Once gone, opening the
// stale path fails as it does for a device that is no longer there.
void SimBus::DeleteUnusedFiles() {
  for (Connection& connection : connections_) {
    if (connection.present || connection.fileDeleted) continue;
    if (DeleteFileW(connection.file.c_str())) {
      connection.fileDeleted = true;
      connection.key.reset();
    }
  }
}

std::vector<PresentInterface> SimBus::ListInterfaces() {
  DeleteUnusedFiles();
  std::vector<PresentInterface> present;
  for (const Connection& connection : connections_) {
    if (connection.present) present.push_back({connection.devInst, InterfacePath(connection)});
  }
  return present;
}

BusDevice* SimBus::DeviceOf(HANDLE handle, TransferTarget& target, std::size_t* connectionIndex) {
  target = TransferTarget::kNoDevice;
  const std::optional<FileKey> key = KeyOf(handle);
  if (!key) return nullptr;
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    const Connection& connection = connections_[i];
    if (connection.key != key) continue;
    if (connectionIndex) *connectionIndex = i;
    if (!connection.present) {
      target = TransferTarget::kUnplugged;
      return nullptr;
    }
    target = TransferTarget::kDevice;
    return Device(connection.deviceId);
  }
  return nullptr;
}

BusDevice* SimBus::Device(std::uint32_t deviceId) {
  const auto found = devices_.find(deviceId);
  return found == devices_.end() ? nullptr : &found->second;
}

std::uint64_t SimBus::BeginTransfer() {
  if (unplugAt_ && --unplugAt_->first == 0) {
    const std::uint32_t id = unplugAt_->second;
    unplugAt_.reset();
    Unplug(id, true);
  }
  return latencyUs_;
}

void SimBus::Recorded(TransferRecord transfer) {
  if (recording_) recorded_.push_back(std::move(transfer));
}

std::string SimBus::RecordedTransfers() const {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  // The lines lu14 --record writes (hid/record/Recording.h), each transfer
  // with its counter readings; the header names the program whose transfers
  // they are.
  record::RecordingHeader header;
  header.version = LU14_VERSION;
  header.commandLine = Utf8(GetCommandLineW());
  header.platform = "stand-in";
  header.counterFrequency = frequency.QuadPart;
  std::string text = record::HeaderLine(header) + "\n";
  for (std::size_t i = 0; i < recorded_.size(); ++i) {
    const TransferRecord& made = recorded_[i];
    record::RecordedTransfer transfer;
    transfer.set = made.set;
    transfer.bytes = made.report;
    transfer.result = made.ok;
    const std::wstring path = InterfacePath(connections_[made.connection]);
    transfer.path.assign(path.begin(), path.end());
    transfer.microseconds = (made.end - recordingStart_) * 1'000'000 / frequency.QuadPart;
    transfer.counter = record::CounterSpan{made.begin, made.end};
    text += record::TransferLine(i + 1, transfer) + "\n";
  }
  return text;
}

std::string SimBus::Dump(std::uint32_t deviceId) {
  const BusDevice* device = Device(deviceId);
  if (!device) return {};
  const SimMeter& meter = *device->meter;
  std::ostringstream out;
  out << "present " << (PresentConnection(deviceId) ? 1 : 0) << "\n";
  out << "flag " << static_cast<unsigned>(meter.FirmwareFlag()) << "\n";
  out << "version " << meter.VersionText() << "\n";
  out << "eeprom " << Hex(meter.EepromBytes()) << "\n";
  out << "flash " << Hex(meter.Flash().first(SimMeter::kStreamedLength)) << "\n";
  out << "commits";
  std::size_t refused = 0;
  for (const SimMeter::Commit& commit : meter.Commits()) {
    if (commit.accepted) {
      out << " " << static_cast<unsigned>(commit.page);
    } else {
      ++refused;
    }
  }
  out << "\nrefused-commits " << refused << "\n";
  out << "received";
  for (std::size_t code = 0; code < device->received.size(); ++code) {
    if (device->received[code] != 0) out << " " << code << ":" << device->received[code];
  }
  out << "\ntransfers " << meter.TransferCount() << "\n";
  out << "failed-reply-reads " << device->failedReplyReads << "\n";
  out << "sets-open " << setsOpen << "\n";
  out << "preparsed-live " << preparsedLive << "\n";
  out << "refused-calls " << refusedCalls << "\n";
  out << "refused-queued " << refusedQueued << "\n";
  return out.str();
}

void SimBus::WriteExitDumps() {
  for (const auto& [id, device] : devices_) {
    if (device.dumpAtExit) WriteTextFile(*device.dumpAtExit, Dump(id));
  }
  if (transfersAtExit_) WriteTextFile(*transfersAtExit_, RecordedTransfers());
}

}  // namespace lu14::e2e
