#include "cli/Recording.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

#include "ports/Utf.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

json InterfacesJson(const std::optional<std::vector<HidInterface>>& interfaces) {
  if (!interfaces) return nullptr;
  json list = json::array();
  for (const HidInterface& i : *interfaces) list.push_back({{"path", Utf16ToUtf8(i.path)}, {"deviceId", i.deviceId}});
  return list;
}

class RecordingPreparsedData : public HidPreparsedData {
 public:
  RecordingPreparsedData(RecordingHidPlatform& owner, std::u16string path, std::unique_ptr<HidPreparsedData> inner)
      : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}
  std::optional<HidCaps> GetCaps() const override {
    const std::optional<HidCaps> caps = inner_->GetCaps();
    owner_.WriteCaps(path_, caps);
    return caps;
  }

 private:
  RecordingHidPlatform& owner_;
  std::u16string path_;
  std::unique_ptr<HidPreparsedData> inner_;
};

class RecordingHandle : public HidHandle {
 public:
  RecordingHandle(RecordingHidPlatform& owner, std::u16string path, std::unique_ptr<HidHandle> inner)
      : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}
  std::optional<HidAttributes> GetAttributes() override {
    const std::optional<HidAttributes> attributes = inner_->GetAttributes();
    owner_.WriteAttributes(path_, attributes);
    return attributes;
  }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    std::unique_ptr<HidPreparsedData> data = inner_->GetPreparsedData();
    if (!data) {
      owner_.WriteCaps(path_, std::nullopt);
      return nullptr;
    }
    return std::make_unique<RecordingPreparsedData>(owner_, path_, std::move(data));
  }
  bool SetFeature(std::span<const std::uint8_t> report) override {
    const bool result = inner_->SetFeature(report);
    owner_.WriteTransfer(true, path_, report.data(), report.size(), result);
    return result;
  }
  bool GetFeature(std::span<std::uint8_t> report) override {
    const bool result = inner_->GetFeature(report);
    owner_.WriteTransfer(false, path_, report.data(), report.size(), result);
    return result;
  }

 private:
  RecordingHidPlatform& owner_;
  std::u16string path_;
  std::unique_ptr<HidHandle> inner_;
};

class ReplayPreparsedData : public HidPreparsedData {
 public:
  explicit ReplayPreparsedData(std::optional<HidCaps> caps) : caps_(caps) {}
  std::optional<HidCaps> GetCaps() const override { return caps_; }

 private:
  std::optional<HidCaps> caps_;
};

class ReplayHandle : public HidHandle {
 public:
  ReplayHandle(ReplayHidPlatform& owner, std::u16string path) : owner_(owner), path_(std::move(path)) {}
  std::optional<HidAttributes> GetAttributes() override {
    const auto found = owner_.Source().attributes.find(path_);
    return found == owner_.Source().attributes.end() ? std::nullopt : found->second;
  }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    const auto found = owner_.Source().caps.find(path_);
    if (found == owner_.Source().caps.end() || !found->second) return nullptr;
    return std::make_unique<ReplayPreparsedData>(found->second);
  }
  bool SetFeature(std::span<const std::uint8_t> report) override {
    std::vector<std::uint8_t> copy(report.begin(), report.end());
    return owner_.Transfer(true, path_, copy.data(), copy.size());
  }
  bool GetFeature(std::span<std::uint8_t> report) override {
    return owner_.Transfer(false, path_, report.data(), report.size());
  }

 private:
  ReplayHidPlatform& owner_;
  std::u16string path_;
};

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

RecordingHidPlatform::RecordingHidPlatform(HidPlatform& inner, std::ostream& out, const RecordingHeader& header,
                                           std::function<std::chrono::microseconds()> clock)
    : inner_(inner), out_(out), clock_(std::move(clock)) {
  WriteLine(json{{"lu14-recording", kRecordingFormat},
                 {"version", header.version},
                 {"commandLine", header.commandLine},
                 {"platform", header.platform}}
                .dump());
}

void RecordingHidPlatform::WriteLine(const std::string& line) {
  out_ << line << '\n';
  // Flushed line by line: a run that is killed still leaves what it saw.
  out_.flush();
}

bool RecordingHidPlatform::Bind() { return inner_.Bind(); }

std::optional<std::vector<HidInterface>> RecordingHidPlatform::PresentInterfaces() {
  std::optional<std::vector<HidInterface>> present = inner_.PresentInterfaces();
  // Only changes are written: the tool polls the set once a second.
  if (!lastPresent_ || *lastPresent_ != present) {
    lastPresent_ = present;
    WriteLine(json{{"present", InterfacesJson(present)}, {"us", clock_().count()}}.dump());
  }
  return present;
}

std::unique_ptr<HidHandle> RecordingHidPlatform::Open(const std::u16string& path, bool readWrite) {
  std::unique_ptr<HidHandle> handle = inner_.Open(path, readWrite);
  if (!handle) return nullptr;
  return std::make_unique<RecordingHandle>(*this, path, std::move(handle));
}

bool RecordingHidPlatform::StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) {
  return inner_.StartNotifications(std::move(onDevicesChanged));
}
void RecordingHidPlatform::PostDevicesChanged(std::intptr_t secondParameter) {
  inner_.PostDevicesChanged(secondParameter);
}
void RecordingHidPlatform::StopNotifications() { inner_.StopNotifications(); }

void RecordingHidPlatform::WriteTransfer(bool set, const std::u16string& path, const std::uint8_t* bytes,
                                         std::size_t size, bool result) {
  ++transfers_;
  WriteLine(json{{"n", transfers_},
                 {"dir", set ? "set" : "get"},
                 {"bytes", HexBytes(bytes, size)},
                 {"result", result},
                 {"us", clock_().count()},
                 {"path", Utf16ToUtf8(path)}}
                .dump());
}

void RecordingHidPlatform::WriteAttributes(const std::u16string& path,
                                           const std::optional<HidAttributes>& attributes) {
  const auto known = attributes_.find(path);
  const auto same = [](const std::optional<HidAttributes>& a, const std::optional<HidAttributes>& b) {
    return a.has_value() == b.has_value() &&
           (!a || (a->vendorId == b->vendorId && a->productId == b->productId && a->versionNumber == b->versionNumber));
  };
  if (known != attributes_.end() && same(known->second, attributes)) return;
  attributes_[path] = attributes;
  json line{{"attributes", nullptr}, {"path", Utf16ToUtf8(path)}};
  if (attributes) {
    line["attributes"] = {{"vendorId", attributes->vendorId},
                          {"productId", attributes->productId},
                          {"versionNumber", attributes->versionNumber}};
  }
  WriteLine(line.dump());
}

void RecordingHidPlatform::WriteCaps(const std::u16string& path, const std::optional<HidCaps>& caps) {
  const auto known = caps_.find(path);
  if (known != caps_.end() && known->second.has_value() == caps.has_value() &&
      (!caps || known->second->featureReportByteLength == caps->featureReportByteLength)) {
    return;
  }
  caps_[path] = caps;
  json line{{"caps", nullptr}, {"path", Utf16ToUtf8(path)}};
  if (caps) line["caps"] = {{"featureReportByteLength", caps->featureReportByteLength}};
  WriteLine(line.dump());
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

ReplayHidPlatform::ReplayHidPlatform(EventLoop& loop, Recording recording)
    : loop_(loop), recording_(std::move(recording)) {}

bool ReplayHidPlatform::StartNotifications(std::function<void(std::intptr_t)> onDevicesChanged) {
  notify_ = std::move(onDevicesChanged);
  return true;
}

void ReplayHidPlatform::PostDevicesChanged(std::intptr_t secondParameter) {
  loop_.Post([this, secondParameter] {
    if (notify_) notify_(secondParameter);
  });
}

std::optional<std::vector<HidInterface>> ReplayHidPlatform::PresentInterfaces() {
  // The set the recording saw last before its next transfer.
  std::optional<std::vector<HidInterface>> present = std::vector<HidInterface>{};
  for (const auto& [before, set] : recording_.present) {
    if (before > next_) break;
    present = set;
  }
  return present;
}

std::unique_ptr<HidHandle> ReplayHidPlatform::Open(const std::u16string& path, bool) {
  const bool known = std::any_of(recording_.present.begin(), recording_.present.end(), [&](const auto& entry) {
    return entry.second && std::any_of(entry.second->begin(), entry.second->end(),
                                       [&](const HidInterface& i) { return i.path == path; });
  });
  if (!known) return nullptr;
  return std::make_unique<ReplayHandle>(*this, path);
}

bool ReplayHidPlatform::Transfer(bool set, const std::u16string& path, std::uint8_t* bytes, std::size_t size) {
  if (divergence_) return false;
  RecordedTransfer asked{set, std::vector<std::uint8_t>(bytes, bytes + size), false, path, 0};
  const std::size_t number = next_ + 1;
  if (next_ >= recording_.transfers.size()) {
    divergence_ = ReplayDivergence{number, std::nullopt, std::move(asked)};
    return false;
  }
  const RecordedTransfer& recorded = recording_.transfers[next_];
  // A set must send the same bytes; a get must ask for the same report (its
  // first byte, the report ID) with a buffer of the same size.
  const bool same = recorded.set == set && recorded.path == path && recorded.bytes.size() == size &&
                    (set ? recorded.bytes == asked.bytes : (size == 0 || recorded.bytes[0] == bytes[0]));
  if (!same) {
    divergence_ = ReplayDivergence{number, recorded, std::move(asked)};
    return false;
  }
  ++next_;
  if (std::any_of(recording_.present.begin(), recording_.present.end(),
                  [&](const auto& entry) { return entry.first == next_; })) {
    PostDevicesChanged(0);
  }
  if (!set) std::copy(recorded.bytes.begin(), recorded.bytes.end(), bytes);
  return recorded.result;
}

}  // namespace lu14::cli
