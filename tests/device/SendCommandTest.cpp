// The command transaction's limits, log lines, pauses and box, against a scripted meter
// and against the simulated one.
#include <gtest/gtest.h>

#include <functional>

#include "sim/meter/SimMeter.h"
#include "tests/device/MeterFixture.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;

struct TransactionCase {
  const char* name;
  std::deque<bool> sends;
  std::deque<Reply> replies;
  bool verify;
  bool result;
  std::vector<std::string> log;
  int setCalls;
  int getCalls;
  std::chrono::milliseconds waited;  // the 10 ms pauses
  bool box;
};

class SendCommandCases : public MeterFixture, public ::testing::WithParamInterface<TransactionCase> {};

TEST_P(SendCommandCases, FollowsTheRetryRules) {
  const TransactionCase& c = GetParam();
  meter->sends = c.sends;
  meter->replies = c.replies;
  const std::array<std::uint8_t, 17> request{0x03, 0xFF, 0x42, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  form.Meter.Link.SetRequestBytes(1, request);
  const auto before = runtime.Elapsed();
  const bool result = form.Meter.Link.SendCommand(cmdWriteEeprom, c.verify);
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(Log(), c.log);
  EXPECT_EQ(meter->setCalls, c.setCalls);
  EXPECT_EQ(meter->getCalls, c.getCalls);
  const auto boxTime = c.box ? std::chrono::microseconds(500ms) : std::chrono::microseconds(0);
  EXPECT_EQ(runtime.Elapsed() - before, std::chrono::microseconds(c.waited) + boxTime);
  ASSERT_EQ(runtime.Boxes().size(), c.box ? 1u : 0u);
  if (c.box) {
    EXPECT_EQ(runtime.Boxes()[0].box, (MessageBoxRequest{"Ошибка записи", "", false, false}));
  }
  // The caller's bytes 1..17 go out unchanged in every send; 0 and 18 are set.
  EXPECT_EQ(meter->lastRequest[0], 0);
  EXPECT_EQ(meter->lastRequest[kCommandByte], cmdWriteEeprom);
  EXPECT_EQ(meter->lastRequest[3], 0x42);
}

const std::string kMismatch = "Сбой записи";
const std::string kRewrite = "Повтор записи";

INSTANTIATE_TEST_SUITE_P(
    Transaction, SendCommandCases,
    ::testing::Values(
        TransactionCase{"AnsweredAtOnce", {}, {}, true, true, {}, 1, 1, 0ms, false},
        TransactionCase{"BusyTwiceThenDone", {}, {Reply::Busy, Reply::Busy}, false, true, {}, 1, 3, 20ms, false},
        TransactionCase{"ThreeBusy", {}, {Reply::Busy, Reply::Busy, Reply::Busy}, false, false,
                        {"команда 20"}, 1, 3, 30ms, false},
        TransactionCase{"FirstSendFailed", {false}, {}, false, true, {"Повтор команды 20"}, 2, 1, 10ms, false},
        // The meter never had the command: what it would answer is an older reply.
        TransactionCase{"BothSendsFailedGivesUpWithoutReading", {false, false}, {}, false, false,
                        {"Повтор команды 20", "Ошибка протокола 20"}, 2, 0, 10ms, false},
        TransactionCase{"BothSendsOfASecondPassFailed", {true, false, false}, {Reply::Mismatch}, true, false,
                        {kMismatch, kRewrite, "Повтор команды 20", "Ошибка протокола 20"}, 3, 1, 10ms, false},
        TransactionCase{"TwoReadsFailedThirdGood", {}, {Reply::Fail, Reply::Fail}, false, true, {"Сбой чтения"}, 1,
                        3, 20ms, false},
        TransactionCase{"ThreeReadsFailed", {}, {Reply::Fail, Reply::Fail, Reply::Fail}, false, false,
                        {"Сбой чтения", "Ошибка протокола 20"}, 1, 3, 20ms, false},
        TransactionCase{"EchoNeverMatches",
                        {},
                        {Reply::Mismatch, Reply::Mismatch, Reply::Mismatch, Reply::Mismatch},
                        true,
                        false,
                        {kMismatch, kRewrite, kMismatch, kRewrite, kMismatch, kRewrite, kMismatch, kRewrite},
                        4,
                        4,
                        0ms,
                        true},
        TransactionCase{"OneBusyThenThreeMismatches",
                        {},
                        {Reply::Busy, Reply::Mismatch, Reply::Mismatch, Reply::Mismatch},
                        true,
                        false,
                        {kMismatch, kRewrite, kMismatch, kRewrite, kMismatch, kRewrite},
                        3,
                        4,
                        10ms,
                        true},
        TransactionCase{"ThreeMismatchesThenBusy",
                        {},
                        {Reply::Mismatch, Reply::Mismatch, Reply::Mismatch, Reply::Busy},
                        true,
                        false,
                        {kMismatch, kRewrite, kMismatch, kRewrite, kMismatch, kRewrite, "команда 20"},
                        4,
                        4,
                        10ms,
                        false},
        TransactionCase{"MismatchThenMatch", {}, {Reply::Mismatch}, true, true, {kMismatch, kRewrite}, 2, 2, 0ms,
                        false},
        TransactionCase{"VerifyOffIgnoresTheEcho", {}, {Reply::Mismatch}, false, true, {}, 1, 1, 0ms, false}),
    [](const ::testing::TestParamInfo<TransactionCase>& test) { return std::string(test.param.name); });

TEST_F(MeterFixture, VerificationComparesBytes3To17Only) {
  meter->result1 = 0xAA;  // reply bytes 1 and 2 differ from the request's
  meter->result2 = 0xBB;
  form.Meter.Link.SetParameter(0x0102);
  EXPECT_TRUE(form.Meter.Link.SendCommand(cmdWriteChunk, true));
  EXPECT_EQ(form.Meter.Link.Reply()[1], 0xAA);
}

TEST_F(MeterFixture, NoMeterMeansAnErrorBeforeAnyTransfer) {
  form.Meter.Link.SetCurrentDevice(nullptr);
  EXPECT_THROW(form.Meter.Link.SendCommand(cmdReadEeprom, false), NoDeviceError);
  EXPECT_EQ(meter->setCalls + meter->getCalls, 0);
  EXPECT_TRUE(Log().empty());
}

TEST_F(MeterFixture, NoSecondTransactionStartsWhileTheWriteErrorBoxIsOpen) {
  meter->replies = {Reply::Mismatch, Reply::Mismatch, Reply::Mismatch, Reply::Mismatch};
  bool refused = false;
  int transfersDuringBox = 0;
  Report outDuringBox{};
  runtime.SetBoxHook([&](const MessageBoxRequest&) {
    // A timer tick, a click or a device notice handled by the box's loop.
    runtime.Post([&] {
      const int before = meter->setCalls + meter->getCalls;
      outDuringBox = form.Meter.Link.Request();
      try {
        form.Meter.Link.SendCommand(cmdReadEeprom, false);
      } catch (const DeviceBusyError&) {
        refused = true;
      }
      transfersDuringBox = meter->setCalls + meter->getCalls - before;
    });
  });
  EXPECT_TRUE(form.Meter.Link.InTransaction() == false);
  EXPECT_FALSE(form.Meter.Link.SendCommand(cmdWriteEeprom, true));
  EXPECT_TRUE(refused);
  EXPECT_EQ(transfersDuringBox, 0);
  EXPECT_EQ(form.Meter.Link.Request(), outDuringBox);  // the shared buffers untouched
  EXPECT_FALSE(form.Meter.Link.InTransaction());
  EXPECT_TRUE(form.Meter.Link.SendCommand(cmdReadEeprom, false));  // free again afterwards
}

// The transaction against the simulated meter, every transfer stamped with
// the virtual time it happened at.
struct SimMeterLink : ::testing::Test {
  SimMeterLink() {
    meter->SetClock([this] { return runtime.Elapsed(); });
    bus.Attach(MeterSpec(meter));
    runtime.SetEventSink(&form);
    runtime.SetBoxAnswerDelay(kBoxAnswer);
    runtime.RunFor(1ms);  // the start-up scan finds the meter
    form.LB.Clear();
    meter->ClearTrace();
  }
  // A verified EEPROM write whose request bytes 3..17 all differ.
  bool WriteEeprom() {
    std::array<std::uint8_t, 17> request{0x03, 0x84};
    for (std::size_t i = 2; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(0x60 + i);
    form.Meter.Link.SetRequestBytes(1, request);
    return form.Meter.Link.SendCommand(cmdWriteEeprom, true);
  }
  std::vector<std::string> Log() const { return form.LB.Lines(); }

  static constexpr std::chrono::milliseconds kBoxAnswer{100};
  sim::SimRuntime runtime;
  sim::SimHidBus bus{runtime};
  std::shared_ptr<sim::SimMeter> meter = std::make_shared<sim::SimMeter>();
  TMForm form{runtime, bus, "Lu14-updater"};
};

// The meter's trace from `start` on: "set@10" is a send 10 ms in, "get@20
// busy" a read answered busy, "failed" a transfer that failed.
std::vector<std::string> Timeline(const sim::SimMeter& meter, sim::SimTime start) {
  std::vector<std::string> lines;
  for (const auto& transfer : meter.Trace()) {
    const auto offset = transfer.at - start;
    std::string line = transfer.direction == sim::TransferDirection::kSetFeature ? "set@" : "get@";
    line += offset % 1ms == 0us ? std::to_string(offset / 1ms) : std::to_string(offset.count()) + "us";
    if (!transfer.ok) {
      line += " failed";
    } else if (transfer.direction == sim::TransferDirection::kGetFeature && transfer.bytes[kStatusByte] != kStatusDone) {
      line += " busy";
    }
    lines.push_back(line);
  }
  return lines;
}

struct TimedCase {
  const char* name;
  std::function<void(sim::FaultPlan&)> faults;
  bool result;
  std::vector<std::string> timeline;
  std::chrono::milliseconds ended;  // when SendCommand returned
};

void PrintTo(const TimedCase& c, std::ostream* os) { *os << c.name; }

class TransactionPauses : public SimMeterLink, public ::testing::WithParamInterface<TimedCase> {};

// 10 ms between attempts of the same transfer and between reads of a busy
// meter; a new pass after an echo mismatch goes out at once.
TEST_P(TransactionPauses, TenMillisecondsBetweenAttempts) {
  const TimedCase& c = GetParam();
  c.faults(meter->Faults());
  const sim::SimTime start = runtime.Elapsed();
  EXPECT_EQ(WriteEeprom(), c.result);
  EXPECT_EQ(Timeline(*meter, start), c.timeline);
  EXPECT_EQ(runtime.Elapsed() - start, sim::SimTime(c.ended));
}

INSTANTIATE_TEST_SUITE_P(
    Transaction, TransactionPauses,
    ::testing::Values(
        TimedCase{"AnsweredAtOnce", [](sim::FaultPlan&) {}, true, {"set@0", "get@0"}, 0ms},
        TimedCase{"BusyTwiceThenDone", [](sim::FaultPlan& f) { f.Add({.which = sim::Commands::Next(), .busyReads = 2}); },
                  true, {"set@0", "get@0 busy", "get@10 busy", "get@20"}, 20ms},
        TimedCase{"BusyThreeTimes", [](sim::FaultPlan& f) { f.Add({.which = sim::Commands::Next(), .busyReads = 3}); },
                  false, {"set@0", "get@0 busy", "get@10 busy", "get@20 busy"}, 30ms},
        TimedCase{"FirstSendFailed", [](sim::FaultPlan& f) { f.FailNextSends(1); }, true,
                  {"set@0 failed", "set@10", "get@10"}, 10ms},
        TimedCase{"TwoReadsFailed", [](sim::FaultPlan& f) { f.FailNextReads(2); }, true,
                  {"set@0", "get@0 failed", "get@10 failed", "get@20"}, 20ms},
        TimedCase{"ThreeReadsFailed", [](sim::FaultPlan& f) { f.FailNextReads(3); }, false,
                  {"set@0", "get@0 failed", "get@10 failed", "get@20 failed"}, 20ms},
        TimedCase{"EchoMismatchThenMatch",
                  [](sim::FaultPlan& f) { f.Add({.which = sim::Commands::Next(), .corruptEcho = true}); }, true,
                  {"set@0", "get@0", "set@0", "get@0"}, 0ms},
        TimedCase{"BusyThenEchoMismatchThenMatch",
                  [](sim::FaultPlan& f) { f.Add({.which = sim::Commands::Next(), .busyReads = 1, .corruptEcho = true}); },
                  true, {"set@0", "get@0 busy", "get@10", "set@10", "get@10"}, 10ms},
        TimedCase{"EchoNeverMatches",
                  [](sim::FaultPlan& f) { f.Add({.which = sim::Commands::Next(4), .corruptEcho = true}); }, false,
                  {"set@0", "get@0", "set@0", "get@0", "set@0", "get@0", "set@0", "get@0"},
                  SimMeterLink::kBoxAnswer}),
    [](const ::testing::TestParamInfo<TimedCase>& test) { return std::string(test.param.name); });

// Bytes 3..17 of the reply must echo the request; 1 and 2 carry results and
// are not compared. The meter inverts one byte of the echo in the passes the
// fault names.
TEST_F(SimMeterLink, TheEchoCheckComparesBytes3To17) {
  struct Case {
    std::size_t byte;
    std::size_t corruptedPasses;
    bool result;
    std::size_t passes;
    bool box;
  };
  const Case cases[] = {
      {1, 4, true, 1, false},   {2, 4, true, 1, false},                            // never compared
      {3, 1, true, 2, false},   {10, 1, true, 2, false}, {17, 1, true, 2, false},  // one new pass
      {3, 4, false, 4, true},   {17, 4, false, 4, true},                           // the box after the fourth
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("byte " + std::to_string(c.byte) + ", corrupted " + std::to_string(c.corruptedPasses) + " times");
    meter->Faults().Clear();
    meter->ClearTrace();
    form.LB.Clear();
    const std::size_t boxesBefore = runtime.Boxes().size();
    meter->Faults().Add(
        {.which = sim::Commands::Next(c.corruptedPasses), .corruptEcho = true, .echoByte = c.byte});

    EXPECT_EQ(WriteEeprom(), c.result);
    EXPECT_EQ(meter->Requests(cmdWriteEeprom).size(), c.passes);
    std::vector<std::string> log;
    for (std::size_t pass = 1; pass < c.passes + (c.box ? 1 : 0); ++pass) {
      log.insert(log.end(), {kMismatch, kRewrite});
    }
    EXPECT_EQ(Log(), log);
    EXPECT_EQ(runtime.Boxes().size() - boxesBefore, c.box ? 1u : 0u);
  }
}

TEST(ReportLength, ADeviceWithAnotherLengthGetsNoTransferAndOneClearLine) {
  for (const std::uint16_t length : {std::uint16_t{9}, std::uint16_t{64}}) {
    sim::SimRuntime runtime;
    sim::SimHidBus bus(runtime);
    auto meter = std::make_shared<ScriptedMeter>();
    sim::SimHidSpec spec = MeterSpec(meter);
    spec.featureReportLength = length;
    bus.Attach(spec);
    TMForm form(runtime, bus, "Lu14-updater");
    runtime.RunFor(1ms);
    form.LB.Clear();
    EXPECT_FALSE(form.Meter.Link.SendCommand(cmdReadEeprom, false));
    EXPECT_FALSE(form.Meter.Link.SendCommand(cmdReadEeprom, false));
    EXPECT_EQ(meter->setCalls + meter->getCalls, 0);
    const auto& lines = form.LB.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Неверная длина отчёта устройства: " + std::to_string(length)),
              1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Ошибка протокола 21"), 2);
  }
}

}  // namespace
}  // namespace lu14::testing
