// A recording of the meter's HID traffic, as JSON lines: the file format, its
// lines written one at a time, and its reader. RecordingHidPlatform writes
// one, and so does the stand-in hid.dll that serves simulated meters under
// Wine (tests/e2e/standin); ReplayHidPlatform answers from one read back, and
// the Wine benchmark measures one.
//
// The first line is the header: {"lu14-recording": <format>, "version",
// "commandLine", "platform"[, "counterFrequency"]}. Then, in the order they
// happened:
//   {"present": [{"path", "deviceId"}, ...] or null, "us"}  the interfaces present, each time the set changes
//   {"attributes": {"vendorId", "productId", "versionNumber"} or null, "path"}
//   {"caps": {"featureReportByteLength"} or null, "path"}
//   {"n", "dir": "set"|"get", "bytes", "result", "us", "path"[, "counterBegin", "counterEnd"]}
//                                                           one feature transfer
// "bytes" are upper-case hex digits separated by spaces (HexBytes), "us" the
// microseconds since the start as the transfer ended, "n" the transfer's
// number from 1. A recording made below the HID API also gives each
// transfer's performance-counter readings and, in the header, the counter's
// frequency; one made above it (lu14) has neither.
//
// A reader refuses a file that is not this (ReadRecording) with a reason
// code; the front end words it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ports/HidPlatform.h"

namespace lu14::record {

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
  std::string platform;     // "linux", "windows", "simulated", or "stand-in" (the Wine stand-in hid.dll)
  // Counts per second of the performance counter that CounterSpan reads;
  // given when the transfers carry their readings. Never 0.
  std::optional<std::int64_t> counterFrequency{};
};

// A performance counter's readings as a transfer was entered and as it
// returned: the time spent inside it, apart from the time between transfers.
struct CounterSpan {
  std::int64_t begin = 0;
  std::int64_t end = 0;
  friend bool operator==(const CounterSpan&, const CounterSpan&) = default;
};

// One recorded transfer.
struct RecordedTransfer {
  bool set = false;
  std::vector<std::uint8_t> bytes;  // set: what was sent; get: what was read
  bool result = false;
  std::u16string path;
  std::int64_t microseconds = 0;
  std::optional<CounterSpan> counter{};
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

// The lines of a recording, each without its line end, in the one spelling
// the reader takes. `number` is a transfer's from 1; `microseconds` the time
// since the start.
std::string HeaderLine(const RecordingHeader& header);
std::string PresentLine(const std::optional<std::vector<HidInterface>>& present, std::int64_t microseconds);
std::string AttributesLine(const std::u16string& path, const std::optional<HidAttributes>& attributes);
std::string CapsLine(const std::u16string& path, const std::optional<HidCaps>& caps);
std::string TransferLine(std::size_t number, const RecordedTransfer& transfer);

}  // namespace lu14::record
