#include "sim/SimSemaphores.h"

namespace lu14::sim {

class SimSemaphoreNamespace::Handle : public NamedSemaphore {
 public:
  Handle(std::shared_ptr<Entry> entry, const bool& failWaits) : entry_(std::move(entry)), failWaits_(failWaits) {
    ++entry_->handles;
  }
  ~Handle() override { --entry_->handles; }

  // Simulated copies never run at the same time, so a wait never has to wait:
  // it takes a unit that is free now, or times out.
  bool Wait(Milliseconds) override {
    if (failWaits_ || entry_->count == 0) return false;
    --entry_->count;
    return true;
  }

  // Like ReleaseSemaphore: a release past the maximum (or of nothing) changes nothing.
  void Release(std::int32_t count) override {
    if (count <= 0 || entry_->count + count > entry_->maximum) return;
    entry_->count += count;
  }

 private:
  std::shared_ptr<Entry> entry_;
  const bool& failWaits_;
};

std::unique_ptr<NamedSemaphore> SimSemaphoreNamespace::Open(const std::u16string& name, std::int32_t initialCount,
                                                            std::int32_t maximumCount) {
  if (refusedNames_.contains(name)) return nullptr;
  std::shared_ptr<Entry> entry = entries_[name].lock();
  if (!entry) {
    entry = std::make_shared<Entry>(Entry{initialCount, maximumCount});
    entries_[name] = entry;
  }
  return std::make_unique<Handle>(entry, failWaits_);
}

std::optional<std::int32_t> SimSemaphoreNamespace::Count(const std::u16string& name) const {
  const auto found = entries_.find(name);
  if (found == entries_.end()) return std::nullopt;
  const std::shared_ptr<Entry> entry = found->second.lock();
  if (!entry) return std::nullopt;
  return entry->count;
}

int SimSemaphoreNamespace::Handles(const std::u16string& name) const {
  const auto found = entries_.find(name);
  if (found == entries_.end()) return 0;
  const std::shared_ptr<Entry> entry = found->second.lock();
  return entry ? entry->handles : 0;
}

}  // namespace lu14::sim
