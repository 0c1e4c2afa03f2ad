#include "hid/record/Recording.h"

#include <nlohmann/json.hpp>

#include <cstdio>

#include "ports/Utf.h"

namespace lu14::record {
namespace {

using nlohmann::json;

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
    const bool lastWithoutEnd = end == LineEnd::EndOfInput;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    json line;
    try {
      line = json::parse(text);
    } catch (const json::exception&) {
      fault = Fault(lastWithoutEnd ? Reason::CutShort : Reason::NotJson, number);
      return std::nullopt;
    }
    try {
      if (!line.is_object()) throw Fault(Reason::NotObject);
      if (!sawHeader) {
        if (!line.contains("lu14-recording")) throw Fault(Reason::NoHeader);
        const int format = Field<int>(line, "lu14-recording");
        if (format != kRecordingFormat) {
          RecordingFault other = Fault(Reason::OtherFormat);
          other.format = format;
          throw other;
        }
        recording.header = {Field<std::string>(line, "version"), Field<std::string>(line, "commandLine"),
                            Field<std::string>(line, "platform")};
        sawHeader = true;
        continue;
      }
      if (line.contains("present")) {
        std::optional<std::vector<HidInterface>> present;
        if (!line.at("present").is_null()) {
          if (!line.at("present").is_array()) throw FieldFault(Reason::FieldWrongType, "present");
          present.emplace();
          for (const json& entry : line.at("present")) {
            if (!entry.is_object()) throw FieldFault(Reason::FieldWrongType, "present");
            present->push_back({Utf8ToUtf16(Field<std::string>(entry, "path")),
                                Field<std::uint32_t>(entry, "deviceId")});
          }
        }
        recording.present.emplace_back(recording.transfers.size(), std::move(present));
      } else if (line.contains("attributes")) {
        const std::u16string path = Utf8ToUtf16(Field<std::string>(line, "path"));
        std::optional<HidAttributes> attributes;
        if (!line.at("attributes").is_null()) {
          const json& a = line.at("attributes");
          if (!a.is_object()) throw FieldFault(Reason::FieldWrongType, "attributes");
          attributes = HidAttributes{Field<std::uint16_t>(a, "vendorId"), Field<std::uint16_t>(a, "productId"),
                                     Field<std::uint16_t>(a, "versionNumber")};
        }
        recording.attributes[path] = attributes;
      } else if (line.contains("caps")) {
        const std::u16string path = Utf8ToUtf16(Field<std::string>(line, "path"));
        std::optional<HidCaps> caps;
        if (!line.at("caps").is_null()) {
          if (!line.at("caps").is_object()) throw FieldFault(Reason::FieldWrongType, "caps");
          caps = HidCaps{Field<std::uint16_t>(line.at("caps"), "featureReportByteLength")};
        }
        recording.caps[path] = caps;
      } else if (line.contains("dir")) {
        RecordedTransfer transfer;
        const std::string dir = Field<std::string>(line, "dir");
        if (dir != "set" && dir != "get") throw FieldFault(Reason::FieldWrongType, "dir");
        transfer.set = dir == "set";
        const auto bytes = BytesOfHex(Field<std::string>(line, "bytes"));
        if (!bytes) throw FieldFault(Reason::FieldWrongType, "bytes");
        transfer.bytes = *bytes;
        transfer.result = Field<bool>(line, "result");
        transfer.microseconds = Field<std::int64_t>(line, "us");
        transfer.path = Utf8ToUtf16(Field<std::string>(line, "path"));
        const auto n = Field<std::size_t>(line, "n");
        if (n != recording.transfers.size() + 1) {
          RecordingFault outOfOrder = Fault(Reason::OutOfOrder);
          outOfOrder.transfer = n;
          throw outOfOrder;
        }
        recording.transfers.push_back(std::move(transfer));
      } else {
        throw Fault(Reason::UnknownLine);
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
