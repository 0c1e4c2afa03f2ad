// The feature-report side of a simulated HID device: what it answers. The
// simulated bus (SimHidBus) handles presence, opening, attributes and the
// report length, and hands each transfer that reaches the device to this.
#pragma once

#include <cstdint>
#include <span>

namespace lu14::sim {

class SimHidDevice {
 public:
  virtual ~SimHidDevice() = default;
  // A feature report written by the host; byte 0 is the report ID. false: the
  // device failed the transfer.
  virtual bool SetFeature(std::span<const std::uint8_t> report) = 0;
  // The host reads the feature report; fill `report` (byte 0 is the report
  // ID). false: the device failed the transfer and the buffer is untouched.
  virtual bool GetFeature(std::span<std::uint8_t> report) = 0;
  // The bus cut the device's power (SimHidBus::LosePower): the device drops
  // whatever needs power to keep and keeps what is non-volatile, as after a
  // restart. The bus keeps it absent until the power comes back, so nothing
  // reaches it in between. A device with nothing volatile leaves this as is.
  virtual void PowerLost() {}
};

}  // namespace lu14::sim
