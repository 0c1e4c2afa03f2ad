// The one-meter agent as a front end without a window drives it: bound to a
// meter found on the simulated bus, its update paced on the runtime's loop,
// and the loop pacer's rules on their own.
#include "session/MeterAgent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/TJvHidDeviceController.h"
#include "session/LoopPacer.h"
#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"
#include "sim/meter/SimMeter.h"
#include "tests/device/MeterFixture.h"
#include "update/UpdateParameters.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;

// Shows nothing: the test reads the agent's outcome values.
struct QuietViews : LinkObserver, SilentStatusView, UpdateView {
  void LinkEventHappened(const LinkEvent&) override {}
  void WriteNotConfirmed(std::uint8_t) override {}
  void UpdateStarted() override {}
  void PhaseStarted(UpdatePhase) override {}
  void ProgressMade(const UpdateProgress&) override {}
  void BackupEnded(const BackupOutcome&) override {}
  void FaultFound(UpdateFault) override {}
  void UpdateEnded(const UpdateOutcome&) override { ++ended; }
  int ended = 0;
};

struct LoopFrontEnd : ::testing::Test {
  LoopFrontEnd() {
    sim::SimRuntime::Setup setup;
    setup.environment[std::string(kAllowPlaceholderVariable)] = "1";
    runtime.emplace(setup);
    bus.emplace(*runtime);
    meter->SetClock([this] { return runtime->Elapsed(); });
    bus->Attach(MeterSpec(meter, 7));
    pacer.emplace(*runtime);
    agent.emplace(*runtime, views, views, views, *pacer, PollReads::Confirmed);
    pacer->Drive([this] { agent->Update.ChunkTick(); }, [this] { agent->Update.FinishTick(); });
    controller.emplace(*bus, [](const std::function<void()>& work) { work(); });
    controller->OnEnumerate = [this](TJvHidDevice& device, std::int32_t) {
      if (MeterAgent::IsMeter(device) && std::find(found.begin(), found.end(), &device) == found.end()) {
        found.push_back(&device);
      }
      return true;
    };
    controller->OnDeviceChange = [this] { controller->Enumerate(); };
    controller->OnRemoval = [this](TJvHidDevice& device) { removedOurs = agent->Removed(device); };
    runtime->RunFor(100ms);  // the start-up scan
  }

  bool StartUpdate() {
    if (found.empty()) return false;
    agent->Bind(*found.front());
    // As a front end does: the update goes to a meter whose status it read.
    const MeterStatus status = agent->Poll.Tick();
    if (!status.complete) return false;
    const UpdateRules rules{.placeholderAllowed = true};
    return agent->Update.Start(status.identity + *status.versionText, rules) == StartResult::Started;
  }
  // When the meter saw each chunk.
  std::vector<std::chrono::microseconds> ChunkTimes() const {
    std::vector<std::chrono::microseconds> times;
    for (const auto& transfer : meter->Trace()) {
      if (transfer.direction == sim::TransferDirection::kSetFeature && transfer.bytes.size() > 18 &&
          transfer.bytes[18] == sim::SimMeter::kWriteChunk) {
        times.push_back(transfer.at);
      }
    }
    return times;
  }

  QuietViews views;
  std::optional<sim::SimRuntime> runtime;
  std::optional<sim::SimHidBus> bus;
  std::shared_ptr<sim::SimMeter> meter = std::make_shared<sim::SimMeter>();
  std::optional<LoopPacer> pacer;
  std::optional<MeterAgent> agent;
  std::optional<TJvHidDeviceController> controller;
  std::vector<TJvHidDevice*> found;
  std::optional<bool> removedOurs;
};

TEST_F(LoopFrontEnd, AnUpdatePacedOnTheLoopWritesTheWholeImageAChunkAPeriod) {
  ASSERT_TRUE(StartUpdate());
  ASSERT_TRUE(runtime->RunUntil([&] { return !agent->Update.Running(); }, 60s));
  ASSERT_TRUE(agent->LastUpdate());
  EXPECT_EQ(agent->LastUpdate()->result, UpdateResult::Completed);
  EXPECT_EQ(agent->LastUpdate()->bytesConfirmed, kStreamedLength);
  EXPECT_EQ(views.ended, 1);
  EXPECT_TRUE(std::equal(CarriedStreamImage().begin(), CarriedStreamImage().begin() + kStreamedLength,
                         meter->Flash().begin()));
  // One chunk a tick, each tick a full period after the one before was handled.
  const std::vector<std::chrono::microseconds> chunks = ChunkTimes();
  ASSERT_EQ(chunks.size(), kStreamedLength / kChunkSize);
  for (std::size_t i = 1; i < chunks.size(); ++i) {
    ASSERT_GE(chunks[i] - chunks[i - 1], std::chrono::microseconds(kChunkTickPeriod)) << "chunk " << i;
  }
  // Nothing of the update is left on the loop.
  const std::size_t transfers = meter->TransferCount();
  runtime->RunFor(1s);
  EXPECT_EQ(meter->TransferCount(), transfers);
}

TEST_F(LoopFrontEnd, TheMeterLeavingEndsItsUpdateAndOtherDevicesLeaveItAlone) {
  bus->Plug(MeterSpec(std::make_shared<sim::SimMeter>(), 8));
  runtime->RunFor(100ms);
  ASSERT_EQ(found.size(), 2u);
  ASSERT_TRUE(StartUpdate());
  runtime->RunFor(100ms);
  bus->Unplug(8);
  runtime->RunFor(10ms);
  EXPECT_EQ(removedOurs, false);
  EXPECT_TRUE(agent->Update.Running());
  bus->Unplug(7);
  ASSERT_TRUE(runtime->RunUntil([&] { return !agent->Update.Running(); }, 1s));
  EXPECT_EQ(removedOurs, true);
  EXPECT_EQ(agent->LastUpdate()->result, UpdateResult::Disconnected);
  EXPECT_EQ(agent->Link.CurrentDevice(), nullptr);
  EXPECT_FALSE(agent->Held());
}

// The pacer's rules, ticking a counter on the virtual clock.
struct PacerRules : ::testing::Test {
  PacerRules() { pacer->Drive([this] { chunkAt.push_back(runtime.Elapsed()); }, [this] { ++finishes; }); }
  sim::SimRuntime runtime;
  std::optional<LoopPacer> pacer{std::in_place, runtime};
  std::vector<sim::SimTime> chunkAt;
  int finishes = 0;
};

TEST_F(PacerRules, TicksComeAPeriodApartOnlyWhileArmed) {
  pacer->SetChunkTicks(true);
  runtime.RunFor(1ms);
  pacer->SetChunkTicks(true);  // already on: the period is not restarted
  runtime.RunFor(6ms);
  pacer->SetChunkTicks(false);
  runtime.RunFor(10ms);
  EXPECT_EQ(chunkAt, (std::vector<sim::SimTime>{2ms, 4ms, 6ms}));
  // Off and on again before a tick was due: one full period from then.
  pacer->SetChunkTicks(true);
  runtime.RunFor(1ms);
  pacer->SetChunkTicks(false);
  pacer->SetChunkTicks(true);
  runtime.RunFor(2ms);
  EXPECT_EQ(chunkAt.back(), 20ms);
  EXPECT_EQ(chunkAt.size(), 4u);
  EXPECT_EQ(finishes, 0);
}

TEST_F(PacerRules, ATickOfAPacerThatIsGoneDoesNothing) {
  pacer->SetChunkTicks(true);
  pacer->SetFinishTick(true);
  pacer.reset();
  runtime.RunFor(1s);
  EXPECT_TRUE(chunkAt.empty());
  EXPECT_EQ(finishes, 0);
}

}  // namespace
}  // namespace lu14::testing
