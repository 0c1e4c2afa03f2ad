// The command transaction's limits, log lines and box, against a scripted meter.
#include <gtest/gtest.h>

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
        TransactionCase{"BothSendsFailedStillReads", {false, false}, {}, false, true, {"Повтор команды 20"}, 2, 1,
                        10ms, false},
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
