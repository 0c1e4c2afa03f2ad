#include "hid/record/RecordingHidPlatform.h"

namespace lu14::record {
namespace {

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

}  // namespace

RecordingHidPlatform::RecordingHidPlatform(HidPlatform& inner, std::ostream& out, const RecordingHeader& header,
                                           std::function<std::chrono::microseconds()> clock)
    : inner_(inner), out_(out), clock_(std::move(clock)) {
  WriteLine(HeaderLine(header));
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
    WriteLine(PresentLine(present, clock_().count()));
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
  RecordedTransfer transfer;
  transfer.set = set;
  transfer.bytes.assign(bytes, bytes + size);
  transfer.result = result;
  transfer.path = path;
  transfer.microseconds = clock_().count();
  WriteLine(TransferLine(transfers_, transfer));
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
  WriteLine(AttributesLine(path, attributes));
}

void RecordingHidPlatform::WriteCaps(const std::u16string& path, const std::optional<HidCaps>& caps) {
  const auto known = caps_.find(path);
  if (known != caps_.end() && known->second.has_value() == caps.has_value() &&
      (!caps || known->second->featureReportByteLength == caps->featureReportByteLength)) {
    return;
  }
  caps_[path] = caps;
  WriteLine(CapsLine(path, caps));
}

}  // namespace lu14::record
