// A window model with one meter attached on the simulated bus, found by the
// start-up scan, whose feature reports a test scripts read by read.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "window/TMForm.h"
#include "device/MeterProtocol.h"
#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"

namespace lu14::testing {

// How the scripted meter answers one read.
enum class Reply { Done, Busy, Mismatch, Fail };

// Answers every read with an echo of the last request, in the way the script
// says (Done when the script has run out); fails the sends the script says.
class ScriptedMeter : public sim::SimHidDevice {
 public:
  std::deque<bool> sends;     // results of the next sends (true when empty)
  std::deque<Reply> replies;  // the next replies
  int setCalls = 0;
  int getCalls = 0;
  Report lastRequest{};
  std::vector<Report> requests;
  // Result bytes 1..2 put into every reply.
  std::uint8_t result1 = 0, result2 = 0;

  bool SetFeature(std::span<const std::uint8_t> report) override {
    ++setCalls;
    std::copy(report.begin(), report.end(), lastRequest.begin());
    requests.push_back(lastRequest);
    const bool ok = sends.empty() || sends.front();
    if (!sends.empty()) sends.pop_front();
    return ok;
  }
  bool GetFeature(std::span<std::uint8_t> report) override {
    ++getCalls;
    const Reply reply = replies.empty() ? Reply::Done : replies.front();
    if (!replies.empty()) replies.pop_front();
    if (reply == Reply::Fail) return false;
    std::copy(lastRequest.begin(), lastRequest.end(), report.begin());
    report[0] = 0;
    report[1] = result1;
    report[2] = result2;
    report[kStatusByte] = reply == Reply::Busy ? 1 : kStatusDone;
    if (reply == Reply::Mismatch) report[kEchoLast] ^= 0xFF;
    return true;
  }
};

inline sim::SimHidSpec MeterSpec(std::shared_ptr<sim::SimHidDevice> device, std::uint32_t id = 7) {
  sim::SimHidSpec spec;
  spec.deviceId = id;
  spec.path = u"meter#" + std::u16string(1, static_cast<char16_t>(u'0' + id));
  spec.attributes = {kMeterVendorId, kMeterProductId, 0x0100};
  spec.device = std::move(device);
  return spec;
}

struct MeterFixture : ::testing::Test {
  MeterFixture() {
    bus.Attach(MeterSpec(meter));
    runtime.SetEventSink(&form);
    runtime.SetBoxAnswerDelay(std::chrono::milliseconds(500));
    runtime.RunFor(std::chrono::milliseconds(1));  // the start-up scan finds the meter
    form.LB.Clear();
  }
  std::vector<std::string> Log() const { return form.LB.Lines(); }

  sim::SimRuntime runtime;
  sim::SimHidBus bus{runtime};
  std::shared_ptr<ScriptedMeter> meter = std::make_shared<ScriptedMeter>();
  TMForm form{runtime, bus, "Lu14-updater"};
};

}  // namespace lu14::testing
