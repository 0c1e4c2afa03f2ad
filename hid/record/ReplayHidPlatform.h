// ReplayHidPlatform: a HidPlatform that answers from a recording (Recording.h),
// transfer by transfer, in place of the system's. The first request that
// differs from the recording (or goes past its end) stops the replay: every
// later transfer fails and Divergence() says what happened, for the front end
// to word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hid/record/Recording.h"
#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"

namespace lu14::record {

// What the replay found when its user left the recording.
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

}  // namespace lu14::record
