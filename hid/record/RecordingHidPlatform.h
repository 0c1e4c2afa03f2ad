// RecordingHidPlatform: a HidPlatform that forwards every call to another one
// and writes, as the JSON lines of Recording.h, what its user saw: the
// interfaces present (each time the set changes), each device's attributes
// and caps, and every feature-report transfer (direction, the bytes, the
// result, the time since start, the path). Any front end or benchmark can put
// it in front of its platform; the core does not know it is there.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "hid/record/Recording.h"
#include "ports/HidPlatform.h"

namespace lu14::record {

class RecordingHidPlatform : public HidPlatform {
 public:
  // Writes the header at once; clock gives the time since the start. Each
  // line is flushed as it is written. A stream that fails is not noticed
  // here: the caller looks at `out` when it wants to know.
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

}  // namespace lu14::record
