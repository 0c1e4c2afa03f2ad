// A second meter plugged in while an update runs: the update stays with the
// meter it started on, from the B1 click to its end, and the newcomer receives
// none of its chunks, commits, EEPROM writes or checksum request.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "tests/update/UpdateRun.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;
using sim::SimMeter;

constexpr std::uint32_t kSecondMeterId = 8;
const std::string kSuccess = "Процесс завершен успешно !!";
constexpr std::uint8_t kMarkedUpdating = 0x88;  // EEPROM 1023 while an image is half written

// How many of each command that writes to a meter or checks its image
// (EEPROM write, page commit, chunk, checksum request) the meter received.
using UpdateCommands = std::map<int, std::size_t>;
UpdateCommands UpdateCommandsReceived(const SimMeter& meter) {
  UpdateCommands received;
  for (const std::uint8_t code : meter.CommandCodes()) {
    if (code == SimMeter::kWriteEeprom || code == SimMeter::kCommitPage || code == SimMeter::kWriteChunk ||
        code == SimMeter::kReadChecksum) {
      ++received[code];
    }
  }
  return received;
}

// Meter 1 as the bus serves it, with an action run as the meter takes its n-th
// command of one code: a device plugged in while a handler is busy talking to
// the meter, as the user can do at any moment.
class CommandHook : public sim::SimHidDevice {
 public:
  CommandHook(std::shared_ptr<SimMeter> meter, std::uint8_t code, std::size_t nth, std::function<void()> action)
      : meter_(std::move(meter)), code_(code), nth_(nth), action_(std::move(action)) {}

  bool SetFeature(std::span<const std::uint8_t> report) override {
    const bool taken = meter_->SetFeature(report);
    if (taken && report.size() == SimMeter::kReportSize && report[SimMeter::kCommandByte] == code_ &&
        ++seen_ == nth_) {
      action_();
    }
    return taken;
  }
  bool GetFeature(std::span<std::uint8_t> report) override { return meter_->GetFeature(report); }

 private:
  std::shared_ptr<SimMeter> meter_;
  std::uint8_t code_;
  std::size_t nth_;
  std::function<void()> action_;
  std::size_t seen_ = 0;
};

struct SecondMeterRun : ::testing::Test, UpdateRun {
  SecondMeterRun() { Poll(); }

  void PlugInSecondMeter() { bus.Plug(MeterSpec(meter2, kSecondMeterId)); }
  bool RunUntilMeterHasCommits(std::size_t pages) {
    return runtime.RunUntil([&] { return meter->Commits().size() >= pages; }, 60s);
  }
  // The log, for the message of a failed expectation.
  std::string Log() const {
    std::string text = "log:";
    for (const std::string& line : form.LB.Lines()) text += " [" + line + "]";
    return text;
  }

  std::shared_ptr<SimMeter> meter2 = std::make_shared<SimMeter>();
};

struct Arrival {
  const char* name;
  // Presses B1 and plugs the second meter in at one moment of the update;
  // false when the update did not reach that moment.
  std::function<bool(SecondMeterRun&)> pressB1AndPlugIn;
};

void PrintTo(const Arrival& arrival, std::ostream* os) { *os << arrival.name; }

class SecondMeterArrives : public SecondMeterRun, public ::testing::WithParamInterface<Arrival> {};

TEST_P(SecondMeterArrives, TheUpdateEndsOnTheFirstMeterAndTheNewcomerReceivesNoneOfIt) {
  ASSERT_TRUE(GetParam().pressB1AndPlugIn(*this)) << Log();
  RunUpdateToItsEnd();

  EXPECT_TRUE(Logged(kSuccess)) << Log();
  EXPECT_TRUE(MeterHoldsTheImage());
  EXPECT_EQ(meter->FirmwareFlag(), 1);
  // Polling again, whichever meter the window shows now; the poll writes
  // nothing, so no write of the update may show up later on either meter.
  EXPECT_TRUE(form.Timer1.Enabled());
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_FALSE(form.Timer3.Enabled());
  Poll();
  Poll();
  EXPECT_EQ(UpdateCommandsReceived(*meter2), UpdateCommands{});
}

INSTANTIATE_TEST_SUITE_P(
    Update, SecondMeterArrives,
    ::testing::Values(
        // Halfway through the 2048 EEPROM reads of the settings backup, inside
        // the B1 handler: the system's notice is handled once it returns,
        // before the first chunk.
        Arrival{"DuringTheSettingsBackup",
                [](SecondMeterRun& run) {
                  run.bus.Attach(MeterSpec(std::make_shared<CommandHook>(run.meter, SimMeter::kReadEeprom, 1024,
                                                                         [&run] { run.PlugInSecondMeter(); }),
                                           kMeterId));  // same id and path: the open handle now reaches the hook
                  run.PressB1();
                  return run.bus.Present(kSecondMeterId) && run.meter->Requests(SimMeter::kWriteChunk).empty();
                }},
        Arrival{"DuringTheStream",
                [](SecondMeterRun& run) {
                  run.PressB1();
                  if (!run.RunUntilMeterHasCommits(25)) return false;  // 400 chunks out
                  run.PlugInSecondMeter();
                  return true;
                }},
        // Every page committed, the finishing step (version, EEPROM 958,
        // checksum, the flag) not yet run.
        Arrival{"BeforeTheFinishingStep",
                [](SecondMeterRun& run) {
                  run.PressB1();
                  if (!run.runtime.RunUntil([&run] { return run.form.Timer3.Enabled(); }, 60s)) return false;
                  run.PlugInSecondMeter();
                  return run.meter->Commits().size() == SimMeter::kWritablePages &&
                         run.meter->Requests(SimMeter::kReadChecksum).empty();
                }}),
    [](const ::testing::TestParamInfo<Arrival>& test) { return std::string(test.param.name); });

TEST_F(SecondMeterRun, PullingOutTheMeterBeingUpdatedStopsTheUpdateAndTheNewcomerReceivesNoneOfIt) {
  PressB1();
  ASSERT_TRUE(RunUntilMeterHasCommits(25)) << Log();
  PlugInSecondMeter();
  // The stream goes on with the first meter (stopping early should the
  // newcomer be sent a page).
  EXPECT_TRUE(runtime.RunUntil([&] { return meter->Commits().size() >= 50 || !meter2->Commits().empty(); }, 5s));
  EXPECT_GE(meter->Commits().size(), 50u);

  bus.Unplug(kMeterId);
  runtime.RunFor(5ms);
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_FALSE(form.Timer3.Enabled());
  EXPECT_TRUE(form.Timer1.Enabled());

  // Nothing of the update resumes on the meter left plugged in.
  Poll();
  Poll();
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_FALSE(form.Timer3.Enabled());
  EXPECT_FALSE(Logged(kSuccess)) << Log();
  EXPECT_EQ(UpdateCommandsReceived(*meter2), UpdateCommands{});
  EXPECT_EQ(meter->FirmwareFlag(), kMarkedUpdating);
}

}  // namespace
}  // namespace lu14::testing
