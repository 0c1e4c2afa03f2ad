// The simulated HID bus inside the stand-in hid.dll: the meters, where they
// are connected, the control commands and the state dump (StandInProtocol.h
// describes the commands and the dump).
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "sim/meter/SimMeter.h"

namespace lu14::e2e {

// A file's identity: what tells two handles of one device file apart from
// handles of another, however the path was spelt.
struct FileKey {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  friend auto operator<=>(const FileKey& a, const FileKey& b) {
    return std::tie(a.volume, a.indexHigh, a.indexLow) <=> std::tie(b.volume, b.indexHigh, b.indexLow);
  }
  friend bool operator==(const FileKey&, const FileKey&) = default;
};
std::optional<FileKey> KeyOf(HANDLE file);

// Reads of the replies to chosen commands that fail (fail-reply-read): after
// each command hit (this code and this parameter in bytes 1-2), the reads
// numbered firstRead .. firstRead + reads - 1, counted from that command.
struct ReplyReadFault {
  static constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();
  std::uint8_t command = 0;
  std::uint16_t parameter = 0;
  std::size_t firstRead = 1;  // 1-based
  std::size_t reads = 1;      // kAll: every read until the next command
  std::size_t commands = 1;   // commands still to hit; kAll: every one from now on
};

struct BusDevice {
  std::unique_ptr<sim::SimMeter> meter;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t reportLength = 19;
  std::array<std::size_t, 256> received{};  // commands received, by code
  std::optional<std::wstring> dumpAtExit;

  std::optional<ReplyReadFault> replyReadFault;
  std::optional<std::size_t> readsSinceHit;  // since the last command received, when the fault hit it
  std::size_t failedReplyReads = 0;

  // The meter received this 19-byte command report.
  void CommandReceived(const std::uint8_t* report);
  // Called before each GetFeature: whether the fault makes it fail. Then the
  // meter's own fault plan fails it (sim::FaultPlan::FailTransfer).
  bool ReplyReadFails();
};

// One plug of a device: its device instance and file. It stays known after
// the unplug, so that handles still open on it fail rather than reach a later plug.
struct Connection {
  std::uint32_t deviceId = 0;
  DWORD devInst = 0;
  std::wstring file;  // without the \\?\ prefix
  std::optional<FileKey> key;
  bool present = true;
  bool fileDeleted = false;
};

struct PresentInterface {
  DWORD devInst;
  std::wstring path;  // as the program opens it
};

// One feature transfer while a recording runs (StandInProtocol.h).
struct TransferRecord {
  bool set = false;  // SetFeature; otherwise GetFeature
  bool ok = false;
  LONGLONG begin = 0;  // performance counter, on entry and on return
  LONGLONG end = 0;
  std::vector<std::uint8_t> report;  // sent, or answered (a failed read: the caller's buffer)
  std::size_t connection = 0;        // the plug it went to, an index into the bus's connections
};

// What a feature transfer reaches.
enum class TransferTarget { kNoDevice, kUnplugged, kDevice };

class SimBus {
 public:
  // folder: the program's; meters.txt is read from there and the device files go below it.
  explicit SimBus(std::wstring folder);

  // --- control ---
  // Runs one command; false when it was refused. `notices` off: no
  // device-change broadcast (the commands of meters.txt).
  bool Execute(const std::string& command, bool notices);
  // Runs meters.txt, if there is one.
  void RunStartFile();

  // --- setupapi side ---
  // The interfaces present now, in plug order; removes the files of unplugged
  // devices that no handle holds any more.
  std::vector<PresentInterface> ListInterfaces();

  // --- hid side ---
  // The device behind an open handle, if it is one of ours and still plugged
  // in; `connection`, when given, is set to the plug it is reached through.
  BusDevice* DeviceOf(HANDLE handle, TransferTarget& target, std::size_t* connection = nullptr);
  BusDevice* Device(std::uint32_t deviceId);
  // Counts a feature transfer and applies a pending unplug. Returns the
  // latency the transfer is to take, in microseconds.
  std::uint64_t BeginTransfer();
  // Whether a recording runs; then every finished transfer goes to Recorded.
  bool Recording() const { return recording_; }
  void Recorded(TransferRecord transfer);

  // --- dump ---
  std::string Dump(std::uint32_t deviceId);
  // Writes every dump asked for at exit, and the transfer recording when asked.
  void WriteExitDumps();

  // --- counters (whole bus) ---
  long setsOpen = 0;
  long preparsedLive = 0;
  long refusedCalls = 0;
  long refusedQueued = 0;  // queued commands refused when their turn came

 private:
  bool Plug(std::uint32_t id, std::uint16_t vendorId, std::uint16_t productId, bool notices);
  bool Unplug(std::uint32_t id, bool notices);
  Connection* PresentConnection(std::uint32_t id);
  std::string RecordedTransfers() const;
  void DeleteUnusedFiles();

  std::wstring folder_;
  std::wstring deviceFolder_;
  std::map<std::uint32_t, BusDevice> devices_;
  std::vector<Connection> connections_;  // in plug order
  DWORD nextDevInst_ = 0x1401;
  std::uint64_t latencyUs_ = 0;
  std::optional<std::pair<std::size_t, std::uint32_t>> unplugAt_;  // transfers to go, device
  bool recording_ = false;
  LONGLONG recordingStart_ = 0;  // performance counter, at record-transfers
  std::vector<TransferRecord> recorded_;
  std::optional<std::wstring> transfersAtExit_;
};

bool WriteTextFile(const std::wstring& path, const std::string& text);
std::wstring Widen(const std::string& utf8);

}  // namespace lu14::e2e
