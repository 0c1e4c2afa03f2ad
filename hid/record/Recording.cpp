#include "hid/record/Recording.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "ports/Utf.h"

namespace lu14::record {
namespace {

using nlohmann::json;

// The names of the fields, for writer and reader alike.
constexpr char kFormatField[] = "lu14-recording";
constexpr char kVersionField[] = "version";
constexpr char kCommandLineField[] = "commandLine";
constexpr char kPlatformField[] = "platform";
constexpr char kCounterFrequencyField[] = "counterFrequency";
constexpr char kPresentField[] = "present";
constexpr char kDeviceIdField[] = "deviceId";
constexpr char kAttributesField[] = "attributes";
constexpr char kVendorIdField[] = "vendorId";
constexpr char kProductIdField[] = "productId";
constexpr char kVersionNumberField[] = "versionNumber";
constexpr char kCapsField[] = "caps";
constexpr char kFeatureReportByteLengthField[] = "featureReportByteLength";
constexpr char kNumberField[] = "n";
constexpr char kDirectionField[] = "dir";
constexpr char kBytesField[] = "bytes";
constexpr char kResultField[] = "result";
constexpr char kMicrosecondsField[] = "us";
constexpr char kPathField[] = "path";
constexpr char kCounterBeginField[] = "counterBegin";
constexpr char kCounterEndField[] = "counterEnd";
constexpr char kSet[] = "set";
constexpr char kGet[] = "get";

// Reads "0A FF ..." back into bytes; nothing when it is not that.
std::optional<std::vector<std::uint8_t>> BytesOfHex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  while (i < text.size()) {
    if (!bytes.empty()) {
      if (text[i] != ' ') return std::nullopt;
      ++i;
    }
    if (i + 2 > text.size() || digit(text[i]) < 0 || digit(text[i + 1]) < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(digit(text[i]) * 16 + digit(text[i + 1])));
    i += 2;
  }
  return bytes;
}

using Reason = RecordingFaultReason;

RecordingFault Fault(Reason reason, std::size_t line = 0) {
  RecordingFault fault;
  fault.reason = reason;
  fault.line = line;
  return fault;
}

RecordingFault FieldFault(Reason reason, const char* field) {
  RecordingFault fault = Fault(reason);
  fault.field = field;
  return fault;
}

enum class LineEnd {
  NewLine,     // a whole line
  EndOfInput,  // the last line, without its line end
  NoLine,      // the input is over
  TooLong,     // more than kLongestRecordingLine characters before a line end
};

// One line into `text`, without its '\n', never holding more than
// kLongestRecordingLine characters: a file with no line ends (/dev/zero)
// would otherwise be read whole into memory.
LineEnd ReadLine(std::streambuf& in, std::string& text) {
  text.clear();
  for (;;) {
    const int c = in.sbumpc();
    if (c == std::streambuf::traits_type::eof()) return text.empty() ? LineEnd::NoLine : LineEnd::EndOfInput;
    if (c == '\n') return LineEnd::NewLine;
    if (text.size() == kLongestRecordingLine) return LineEnd::TooLong;
    text.push_back(static_cast<char>(c));
  }
}

template <typename T>
T Field(const json& line, const char* name) {
  if (!line.contains(name)) throw FieldFault(Reason::FieldMissing, name);
  try {
    return line.at(name).get<T>();
  } catch (const json::exception&) {
    throw FieldFault(Reason::FieldWrongType, name);
  }
}

}  // namespace

std::string HeaderLine(const RecordingHeader& header) {
  json line{{kFormatField, kRecordingFormat},
            {kVersionField, header.version},
            {kCommandLineField, header.commandLine},
            {kPlatformField, header.platform}};
  if (header.counterFrequency) line[kCounterFrequencyField] = *header.counterFrequency;
  return line.dump();
}

std::string PresentLine(const std::optional<std::vector<HidInterface>>& present, std::int64_t microseconds) {
  json list = nullptr;
  if (present) {
    list = json::array();
    for (const HidInterface& i : *present) list.push_back({{kPathField, Utf16ToUtf8(i.path)}, {kDeviceIdField, i.deviceId}});
  }
  return json{{kPresentField, list}, {kMicrosecondsField, microseconds}}.dump();
}

std::string AttributesLine(const std::u16string& path, const std::optional<HidAttributes>& attributes) {
  json line{{kAttributesField, nullptr}, {kPathField, Utf16ToUtf8(path)}};
  if (attributes) {
    line[kAttributesField] = {{kVendorIdField, attributes->vendorId},
                              {kProductIdField, attributes->productId},
                              {kVersionNumberField, attributes->versionNumber}};
  }
  return line.dump();
}

std::string CapsLine(const std::u16string& path, const std::optional<HidCaps>& caps) {
  json line{{kCapsField, nullptr}, {kPathField, Utf16ToUtf8(path)}};
  if (caps) line[kCapsField] = {{kFeatureReportByteLengthField, caps->featureReportByteLength}};
  return line.dump();
}

std::string TransferLine(std::size_t number, const RecordedTransfer& transfer) {
  json line{{kNumberField, number},
            {kDirectionField, transfer.set ? kSet : kGet},
            {kBytesField, HexBytes(transfer.bytes.data(), transfer.bytes.size())},
            {kResultField, transfer.result},
            {kMicrosecondsField, transfer.microseconds},
            {kPathField, Utf16ToUtf8(transfer.path)}};
  if (transfer.counter) {
    line[kCounterBeginField] = transfer.counter->begin;
    line[kCounterEndField] = transfer.counter->end;
  }
  return line.dump();
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    if (i) text += ' ';
    text += hex;
  }
  return text;
}

namespace {

// Each kind of line read into the recording; a line that is not what its kind
// must be throws its RecordingFault.
RecordingHeader ReadHeader(const json& line) {
  if (!line.contains(kFormatField)) throw Fault(Reason::NoHeader);
  const int format = Field<int>(line, kFormatField);
  if (format != kRecordingFormat) {
    RecordingFault other = Fault(Reason::OtherFormat);
    other.format = format;
    throw other;
  }
  RecordingHeader header;
  header.version = Field<std::string>(line, kVersionField);
  header.commandLine = Field<std::string>(line, kCommandLineField);
  header.platform = Field<std::string>(line, kPlatformField);
  if (line.contains(kCounterFrequencyField)) {
    const auto frequency = Field<std::int64_t>(line, kCounterFrequencyField);
    if (frequency <= 0) throw FieldFault(Reason::FieldWrongType, kCounterFrequencyField);
    header.counterFrequency = frequency;
  }
  return header;
}

std::optional<std::vector<HidInterface>> ReadPresent(const json& line) {
  if (line.at(kPresentField).is_null()) return std::nullopt;
  if (!line.at(kPresentField).is_array()) throw FieldFault(Reason::FieldWrongType, kPresentField);
  std::vector<HidInterface> present;
  for (const json& entry : line.at(kPresentField)) {
    if (!entry.is_object()) throw FieldFault(Reason::FieldWrongType, kPresentField);
    present.push_back({Utf8ToUtf16(Field<std::string>(entry, kPathField)), Field<std::uint32_t>(entry, kDeviceIdField)});
  }
  return present;
}

std::optional<HidAttributes> ReadAttributes(const json& line) {
  const json& a = line.at(kAttributesField);
  if (a.is_null()) return std::nullopt;
  if (!a.is_object()) throw FieldFault(Reason::FieldWrongType, kAttributesField);
  return HidAttributes{Field<std::uint16_t>(a, kVendorIdField), Field<std::uint16_t>(a, kProductIdField),
                       Field<std::uint16_t>(a, kVersionNumberField)};
}

std::optional<HidCaps> ReadCaps(const json& line) {
  const json& caps = line.at(kCapsField);
  if (caps.is_null()) return std::nullopt;
  if (!caps.is_object()) throw FieldFault(Reason::FieldWrongType, kCapsField);
  return HidCaps{Field<std::uint16_t>(caps, kFeatureReportByteLengthField)};
}

// A transfer, which must be the next one: `before` transfers came before it.
RecordedTransfer ReadTransfer(const json& line, std::size_t before) {
  RecordedTransfer transfer;
  const std::string dir = Field<std::string>(line, kDirectionField);
  if (dir != kSet && dir != kGet) throw FieldFault(Reason::FieldWrongType, kDirectionField);
  transfer.set = dir == kSet;
  const auto bytes = BytesOfHex(Field<std::string>(line, kBytesField));
  if (!bytes) throw FieldFault(Reason::FieldWrongType, kBytesField);
  transfer.bytes = *bytes;
  transfer.result = Field<bool>(line, kResultField);
  transfer.microseconds = Field<std::int64_t>(line, kMicrosecondsField);
  transfer.path = Utf8ToUtf16(Field<std::string>(line, kPathField));
  // The counter's readings come as a pair or not at all.
  if (line.contains(kCounterBeginField) || line.contains(kCounterEndField)) {
    transfer.counter =
        CounterSpan{Field<std::int64_t>(line, kCounterBeginField), Field<std::int64_t>(line, kCounterEndField)};
    // The counter only goes forward.
    if (transfer.counter->end < transfer.counter->begin) throw FieldFault(Reason::FieldWrongType, kCounterEndField);
  }
  const auto n = Field<std::size_t>(line, kNumberField);
  if (n != before + 1) {
    RecordingFault outOfOrder = Fault(Reason::OutOfOrder);
    outOfOrder.transfer = n;
    throw outOfOrder;
  }
  return transfer;
}

// A line after the header, by the field that names its kind.
void ReadBodyLine(const json& line, Recording& recording) {
  if (line.contains(kPresentField)) {
    recording.present.emplace_back(recording.transfers.size(), ReadPresent(line));
  } else if (line.contains(kAttributesField)) {
    recording.attributes[Utf8ToUtf16(Field<std::string>(line, kPathField))] = ReadAttributes(line);
  } else if (line.contains(kCapsField)) {
    recording.caps[Utf8ToUtf16(Field<std::string>(line, kPathField))] = ReadCaps(line);
  } else if (line.contains(kDirectionField)) {
    recording.transfers.push_back(ReadTransfer(line, recording.transfers.size()));
  } else {
    throw Fault(Reason::UnknownLine);
  }
}

}  // namespace

std::optional<Recording> ReadRecording(std::istream& in, RecordingFault& fault) {
  Recording recording;
  std::string text;
  std::size_t number = 0;
  bool sawHeader = false;
  for (LineEnd end; (end = ReadLine(*in.rdbuf(), text)) != LineEnd::NoLine;) {
    ++number;
    if (end == LineEnd::TooLong) {
      fault = Fault(Reason::LineTooLong, number);
      return std::nullopt;
    }
    if (!text.empty() && text.back() == '\r') text.pop_back();
    json line;
    try {
      line = json::parse(text);
    } catch (const json::exception&) {
      fault = Fault(end == LineEnd::EndOfInput ? Reason::CutShort : Reason::NotJson, number);
      return std::nullopt;
    }
    try {
      if (!line.is_object()) throw Fault(Reason::NotObject);
      if (sawHeader) {
        ReadBodyLine(line, recording);
      } else {
        recording.header = ReadHeader(line);
        sawHeader = true;
      }
    } catch (RecordingFault& bad) {
      fault = std::move(bad);
      fault.line = number;
      return std::nullopt;
    }
  }
  if (!sawHeader) {
    fault = Fault(Reason::Empty);
    return std::nullopt;
  }
  return recording;
}

}  // namespace lu14::record
