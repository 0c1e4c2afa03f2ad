#include "hid/record/ReplayHidPlatform.h"

#include <algorithm>

namespace lu14::record {
namespace {

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

}  // namespace

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

}  // namespace lu14::record
