// Record and replay of the meter's HID traffic.
//
// RecordingHidPlatform forwards every call to another platform and writes, as
// JSON lines, what the tool saw: the interfaces present (each time the set
// changes), each device's attributes and caps, and every feature-report
// transfer (direction, the bytes, the result, the time since start, the path).
// ReplayHidPlatform answers from such a recording, transfer by transfer; the
// first request that differs from the recording (or goes past its end) stops
// the replay: every later call fails and Divergence() says what happened.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"

namespace lu14::cli {

// The version of the file layout; a file with another one is refused.
inline constexpr int kRecordingFormat = 1;
// No line of a recording is longer: a transfer's takes under 200 characters,
// the list of present interfaces a few hundred for each HID interface of the
// machine. A longer line refuses the file.
inline constexpr std::size_t kLongestRecordingLine = 1 << 20;

// The first line of a recording.
struct RecordingHeader {
  std::string version;      // the lu14 that made it
  std::string commandLine;  // its arguments, joined by spaces
  std::string platform;     // "linux", "windows" or "simulated"
};

class RecordingHidPlatform : public HidPlatform {
 public:
  // Writes the header at once; clock gives the time since the start.
  RecordingHidPlatform(HidPlatform& inner, std::ostream& out, const RecordingHeader& header,
                       std::function<std::chrono::microseconds()> clock);

  bool Bind() override;
  std::optional<std::vector<HidInterface>> PresentInterfaces() override;
  std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) override;
  bool StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) override;
  void PostDevicesChanged(std::intptr_t secondParameter) override;
  void StopNotifications() override;

  // Used by the handles it gives out.
  void WriteTransfer(bool set, const std::u16string& path, const std::uint8_t* bytes, std::size_t size, bool result);
  void WriteAttributes(const std::u16string& path, const std::optional<HidAttributes>& attributes);
  void WriteCaps(const std::u16string& path, const std::optional<HidCaps>& caps);

 private:
  void WriteLine(const std::string& line);

  HidPlatform& inner_;
  std::ostream& out_;
  std::function<std::chrono::microseconds()> clock_;
  std::optional<std::optional<std::vector<HidInterface>>> lastPresent_;
  // What was last written for each path: the tool asks before every transfer.
  std::map<std::u16string, std::optional<HidAttributes>> attributes_;
  std::map<std::u16string, std::optional<HidCaps>> caps_;
  std::size_t transfers_ = 0;
};

// One recorded transfer.
struct RecordedTransfer {
  bool set = false;
  std::vector<std::uint8_t> bytes;  // set: what was sent; get: what was read
  bool result = false;
  std::u16string path;
  std::int64_t microseconds = 0;
};

// A recording read back.
struct Recording {
  RecordingHeader header;
  // Each change of the present set, with the number of transfers before it.
  std::vector<std::pair<std::size_t, std::optional<std::vector<HidInterface>>>> present;
  std::map<std::u16string, std::optional<HidAttributes>> attributes;
  std::map<std::u16string, std::optional<HidCaps>> caps;
  std::vector<RecordedTransfer> transfers;
};

// Why a file is no recording: one value for each refusal of ReadRecording.
enum class RecordingFaultReason {
  Empty,           // no line at all
  NotJson,         // a line that is not JSON
  CutShort,        // the last line is not JSON and has no line end: the file was cut short
  NotObject,       // JSON, but not an object
  NoHeader,        // the first line is not a recording's header
  OtherFormat,     // a header of another format (`format`)
  FieldMissing,    // a field the line's kind needs is missing (`field`)
  FieldWrongType,  // a field holds a value of the wrong type, or one it never takes (`field`)
  OutOfOrder,      // a transfer whose number is not the next one (`transfer`)
  UnknownLine,     // an object of no kind a recording holds
  LineTooLong,     // more than kLongestRecordingLine characters before the line end
};

// A file that is no recording: which line, why, and what the reason names.
struct RecordingFault {
  RecordingFaultReason reason = RecordingFaultReason::Empty;
  std::size_t line = 0;      // 1-based; 0: the file as a whole
  std::string field;         // FieldMissing, FieldWrongType: the field's name
  int format = 0;            // OtherFormat: the format the header names
  std::size_t transfer = 0;  // OutOfOrder: the number the line gives
};

// Reads a recording line by line; nothing and the fault when it is not one
// (not JSON lines, a line too long, no header, another format, a line cut
// short, a field missing or mistyped).
std::optional<Recording> ReadRecording(std::istream& in, RecordingFault& fault);

// Bytes as the recording writes them: upper-case hex digits, separated by spaces.
std::string HexBytes(const std::uint8_t* bytes, std::size_t size);

// What the replay found when the tool left the recording.
struct ReplayDivergence {
  std::size_t transfer = 0;                 // 1-based number of the transfer asked
  std::optional<RecordedTransfer> recorded; // nothing: the recording had no more
  RecordedTransfer asked;                   // bytes: set: what was sent; get: the buffer given
};

class ReplayHidPlatform : public HidPlatform {
 public:
  // Device-change notices are posted to the loop, as a platform's are; one
  // also follows each transfer after which the recording saw the set change.
  ReplayHidPlatform(EventLoop& loop, Recording recording);

  bool Bind() override { return true; }
  std::optional<std::vector<HidInterface>> PresentInterfaces() override;
  std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) override;
  bool StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) override;
  void PostDevicesChanged(std::intptr_t secondParameter) override;
  void StopNotifications() override { notify_ = nullptr; }

  const std::optional<ReplayDivergence>& Divergence() const { return divergence_; }
  // The recording it answers from (its devices are read by the handles).
  const Recording& Source() const { return recording_; }

  // Used by the handles it gives out.
  bool Transfer(bool set, const std::u16string& path, std::uint8_t* bytes, std::size_t size);

 private:
  EventLoop& loop_;
  Recording recording_;
  std::function<void(std::intptr_t)> notify_;
  std::size_t next_ = 0;
  std::optional<ReplayDivergence> divergence_;
};

}  // namespace lu14::cli
