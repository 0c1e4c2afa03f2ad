#include "session/MeterAgent.h"

#include "device/MeterProtocol.h"

namespace lu14 {

MeterAgent::MeterAgent(Shell& shell, LinkObserver& linkObserver, StatusView& statusView, UpdateView& updateView,
                       UpdatePacer& pacer, PollReads pollReads)
    : frontView_(updateView),
      Link(shell, linkObserver),
      Memory(Link),
      Poll(Link, Memory, Payload, statusView, pollReads),
      Options(Memory),
      Backup(Memory, shell),
      Restore(Memory),
      Update(Link, Memory, Payload, shell, *this, pacer) {}

bool MeterAgent::IsMeter(const TJvHidDevice& device) {
  return device.Attributes().vendorId == kMeterVendorId && device.Attributes().productId == kMeterProductId;
}

void MeterAgent::Bind(TJvHidDevice& device) {
  Link.SetCurrentDevice(&device);
  Matched(device);
}

void MeterAgent::Offer(TJvHidDevice& device) {
  if (!Held() || &device == held_) return Bind(device);
  newcomer_ = &device;
  Matched(device);
}

void MeterAgent::Matched(TJvHidDevice& device) {
  device.CheckOut();  // false when this object was matched before
  Payload.LoadBlobCopy();
}

bool MeterAgent::Removed(const TJvHidDevice& device) {
  if (!IsCurrent(device)) return false;
  Link.SetCurrentDevice(nullptr);
  held_ = nullptr;
  Update.MeterRemoved();
  return true;
}

void MeterAgent::FollowNewcomer() {
  if (Held() || !newcomer_) return;
  if (newcomer_->IsPluggedIn()) Link.SetCurrentDevice(newcomer_);
  newcomer_ = nullptr;
}

void MeterAgent::UpdateStarted() {
  frontView_.UpdateStarted();
  held_ = Link.CurrentDevice();
}

void MeterAgent::UpdateEnded(const UpdateOutcome& outcome) {
  lastUpdate_ = outcome;
  // A stopped stream leaves the meter marked incomplete: it stays held, as
  // the front end left it, until it leaves.
  if (outcome.result != UpdateResult::Stopped) held_ = nullptr;
  frontView_.UpdateEnded(outcome);
  FollowNewcomer();
}

}  // namespace lu14
