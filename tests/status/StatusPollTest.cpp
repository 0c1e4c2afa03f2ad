// The once-a-second status poll against the simulated meter.
#include <gtest/gtest.h>

#include <stdexcept>

#include <functional>

#include "ports/Utf.h"
#include "status/StatusParameters.h"
#include "status/StatusPoll.h"
#include "tests/status/PollFixture.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;
using sim::CommandFault;
using sim::Commands;

const std::string kCurrent = "Текущая версия прошивки D1.50";
const std::string kReload = "Перезагрузите прошивку D1.50";
const std::string kCharge = "Зарядите батарею";

struct NoMeter : PollFixture {
  NoMeter() : PollFixture(false) {}
};

TEST_F(NoMeter, EveryTickAsksForTheMeterAndLeavesTheUpdateTimersAlone) {
  EXPECT_EQ(form.Label1.Text(), "Пинцет ЛУ");  // until the first tick
  PretendUpdateTimersRun();
  for (int tick = 0; tick < 3; ++tick) {
    form.B1.SetEnabled(true);
    Tick();
    EXPECT_EQ(form.Label1.Text(), "Подключите устройство ");
    EXPECT_FALSE(form.B1.Enabled());
    EXPECT_FALSE(form.G6.Enabled());
    EXPECT_TRUE(form.Timer2.Enabled());
  }
}

struct FlagCase {
  std::uint8_t flag;
  std::string label;
};

class CompleteTick : public PollFixture, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(CompleteTick, ShowsVersionAndStateEnablesTheButtonsAndReadsEverythingIn34Transactions) {
  meter->SetFirmwareFlag(GetParam().flag);
  PretendUpdateTimersRun();  // a poll with a meter stops them
  Tick();
  EXPECT_EQ(form.Label1.Text(), GetParam().label);
  EXPECT_TRUE(form.B1.Enabled());
  EXPECT_TRUE(form.G6.Enabled());
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_FALSE(form.Timer3.Enabled());
  EXPECT_EQ(form.State().FirmwareVersionNumber, 150);
  EXPECT_EQ(form.State().DeviceIdentity.size(), 40u);
  EXPECT_TRUE(Identity().ends_with("D1.50"));
  EXPECT_TRUE(form.State().OptionsSyncEnabled);
  EXPECT_EQ(CommandsSent(), 34u);
  EXPECT_TRUE(form.LB.Lines().size() == 1);  // only the discovery line
  Tick();
  EXPECT_EQ(CommandsSent(), 68u);  // nothing is kept from one tick to the next
}

INSTANTIATE_TEST_SUITE_P(Flags, CompleteTick,
                         ::testing::Values(FlagCase{1, kCurrent}, FlagCase{0x88, kReload}, FlagCase{0, kReload}));

TEST_F(PollFixture, TheTickReadsInTheOrderOfTheProtocol) {
  Tick();
  std::vector<std::uint8_t> expected{cmdReadEeprom, cmdQuery30, cmdMeasure, cmdReadEeprom, cmdReadEeprom,
                                     cmdReadEeprom, cmdReadEeprom};
  for (const IdentityRead& read : kIdentityReads) expected.push_back(read.command);
  for (int i = 0; i < 5 + 4; ++i) expected.push_back(cmdReadEeprom);
  EXPECT_EQ(meter->CommandCodes(), expected);
  // The parameters of the identity reads, and the EEPROM addresses, high byte first.
  const auto info = meter->Requests();
  std::vector<std::uint16_t> parameters;
  for (const auto& request : info) parameters.push_back(static_cast<std::uint16_t>(request[1] << 8 | request[2]));
  const std::vector<std::uint16_t> head(parameters.begin(), parameters.begin() + 2);
  EXPECT_EQ(head, (std::vector<std::uint16_t>{1023, 0x1118}));
  for (std::size_t i = 0; i < kIdentityReads.size(); ++i) EXPECT_EQ(parameters[7 + i], kIdentityReads[i].parameter);
  const std::vector<std::uint16_t> tail(parameters.end() - 9, parameters.end());
  EXPECT_EQ(tail, (std::vector<std::uint16_t>{832, 833, 834, 835, 836, 947, 856, 1022, 957}));
}

TEST_F(PollFixture, IdentityIsALetterThenUpperCaseHex) {
  meter->SetInfo(cmdInfo29, 0x0093, 2);
  meter->SetInfo(cmdInfo24, 0x0800, 0xAB);
  meter->SetInfo(cmdInfo29, 0x01D0, 0x0F);
  Tick();
  const std::string identity = Identity();
  EXPECT_EQ(identity.substr(0, 3), "CAB");
  EXPECT_EQ(identity.substr(33, 2), "0F");
  EXPECT_EQ(identity.substr(35), "D1.50");
}

TEST_F(PollFixture, AVersionTextThatIsNotANumberUpdatesIdentityAndLogsEveryTick) {
  meter->SetEeprom(kEepromVersionText, std::array<std::uint8_t, 5>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  meter->SetEeprom(kEepromCapacitance, 0);  // would tick C2
  form.Label1.SetText("before");
  form.G6.SetEnabled(false);
  for (int tick = 1; tick <= 3; ++tick) {
    Tick();
    EXPECT_TRUE(form.B1.Enabled());
    EXPECT_EQ(form.State().DeviceIdentity.size(), 40u);
    EXPECT_EQ(form.State().DeviceIdentity.back(), U'\u00FF');
    EXPECT_EQ(std::count(form.LB.Lines().begin(), form.LB.Lines().end(), "облом2"), tick);
    EXPECT_EQ(form.Label1.Text(), "before");
    EXPECT_FALSE(form.G6.Enabled());
    EXPECT_FALSE(form.C2.Checked());
    EXPECT_EQ(CommandsSent(), 30u * static_cast<std::size_t>(tick));
  }
}

TEST_F(PollFixture, EveryByteValueInTheVersionAndIdentityLeavesThePollWorking) {
  for (int value = 0; value < 256; ++value) {
    const auto byte = static_cast<std::uint8_t>(value);
    meter->SetEeprom(kEepromVersionText, std::array<std::uint8_t, 5>{byte, byte, byte, byte, byte});
    meter->SetInfo(cmdInfo29, 0x0093, byte);
    meter->SetInfo(cmdInfo24, 0x0800, byte);
    Tick();
    ASSERT_EQ(form.State().DeviceIdentity.size(), 40u) << value;
    EXPECT_EQ(form.State().DeviceIdentity[0], static_cast<char32_t>(65 + value));
    EXPECT_TRUE(form.B1.Enabled());
  }
  meter->SetVersionText("D1.50");
  Tick();
  EXPECT_EQ(form.Label1.Text(), kCurrent);
}

TEST_F(PollFixture, LowBatteryShowsOnlyWhenTheTickEndsBeforeTheVersion) {
  meter->SetBatteryRaw(22400);  // 1.4 V with the coefficient 1.0: low
  Tick();
  EXPECT_EQ(form.Label1.Text(), kCurrent);
  // The identity read of 29/0x01D0 fails (busy for good) in the next tick.
  meter->Faults().Add({.which = Commands::NextOf(cmdInfo29, 2), .busyReads = CommandFault::kForever});
  Tick();
  EXPECT_EQ(form.Label1.Text(), kCharge);
}

TEST_F(PollFixture, AnIdentityReadFailingAfterEightReadsKeepsIdentityAndButton) {
  Tick();
  const std::u32string before = form.State().DeviceIdentity;
  meter->SetInfo(cmdInfo29, 0x0093, 5);  // would change the identity
  form.B1.SetEnabled(false);
  // The ninth identity read is the eighth command 24 of the tick.
  meter->Faults().Add({.which = Commands{cmdInfo24, 7, 1, true}, .busyReads = CommandFault::kForever});
  Tick();
  EXPECT_EQ(form.State().DeviceIdentity, before);
  EXPECT_FALSE(form.B1.Enabled());
  EXPECT_EQ(CommandsSent(), 34u + 3u + 4u + 9u);  // stopped at the failing read
}

TEST_F(PollFixture, AFailedFlagReadChangesNothingAndThePollItselfLogsNothing) {
  meter->Faults().Add({.which = Commands::Next(), .busyReads = CommandFault::kForever});
  Tick();
  EXPECT_EQ(form.Label1.Text(), "Пинцет ЛУ");
  EXPECT_FALSE(form.B1.Enabled());
  EXPECT_EQ(form.LB.Lines(), (std::vector<std::string>{"Пинцет ЛУ-14 подключен", "команда 21"}));
}

TEST_F(PollFixture, AFailedSecondReadOfTheFlagEndsTheTickLikeAFailedTransaction) {
  meter->SetFirmwareFlag(kFirmwareUpdating);
  // The flag read's transaction succeeds; the second read of its reply fails.
  meter->Faults().FailTransfer(meter->TransferCount() + 2);
  Tick();
  EXPECT_EQ(form.Label1.Text(), "Пинцет ЛУ");
  EXPECT_FALSE(form.B1.Enabled());
  EXPECT_EQ(CommandsSent(), 1u);
  Tick();
  EXPECT_EQ(form.Label1.Text(), kReload);
}


TEST_F(PollFixture, ConfirmedReadsTakeNoOlderReplyAndEndTheTickOnAByteNeverConfirmed) {
  struct Case {
    const char* what;
    std::function<void(sim::SimMeter&)> inject;
    bool complete;
  };
  const Case cases[] = {
      // The reply before the flag read held a 1 in byte 1: taken as the flag
      // it would show an incomplete meter as complete.
      {"the flag read answered with the reply before it",
       [](sim::SimMeter& m) { m.Faults().Add({.which = Commands::NextOf(cmdReadEeprom), .staleReply = true}); },
       true},
      {"the second read of the battery measurement failed once",
       [](sim::SimMeter& m) { m.Faults().FailTransfer(m.TransferCount() + 3 * 2 + 2); }, true},
      {"a version byte never confirmed",
       [](sim::SimMeter& m) {
         m.Faults().Add({.which = Commands{cmdReadEeprom, 1 + 4 + 1, kConfirmedReadAttempts, true},
                         .busyReads = CommandFault::kForever});
       },
       false},
  };
  runtime.RunFor(1ms);  // the start-up scan finds the meter
  SilentStatusView view;
  StatusPoll poll(form.Meter.Link, form.Meter.Memory, form.Meter.Payload, view, PollReads::Confirmed);
  meter->SetFirmwareFlag(kFirmwareUpdating);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    meter->Faults().Clear();
    meter->SetEeprom(0, 1);
    ASSERT_EQ(form.Meter.Memory.ReadEepromConfirmed(0), 1);  // the reply before the tick holds a 1
    c.inject(*meter);
    const MeterStatus status = poll.Tick();
    EXPECT_EQ(status.complete, c.complete);
    if (c.complete) {
      EXPECT_EQ(status.firmwareFlag, kFirmwareUpdating);
      EXPECT_EQ(status.batteryVolts, 3.0);
      EXPECT_EQ(status.versionText, U"D1.50");
    } else {
      EXPECT_EQ(status.versionText, std::nullopt);  // the tick ended at the byte
    }
  }
}

TEST_F(PollFixture, AMeterPulledDuringTheTickEndsItAndItsRemovalFollows) {
  bus.UnplugAtTransfer(bus.Transfers() + 7, 7);  // the battery measurement's send
  Tick();
  EXPECT_FALSE(form.B1.Enabled());
  EXPECT_TRUE(runtime.Boxes().empty());
  runtime.RunFor(1ms);
  EXPECT_EQ(form.LB.Lines().back(), "Пинцет ЛУ-14 отключен");
  Tick();
  EXPECT_EQ(form.Label1.Text(), "Подключите устройство ");
}

// A view whose list refuses every line, so that logging raises an error.
struct RefusingView : FormView {
  void CaptionChanged() override {}
  void ControlChanged(ControlId) override {}
  bool LineAppended(const std::string&) override { return false; }
  void LinesCleared() override {}
};

TEST_F(PollFixture, AnErrorInsideTheReadsEndsTheTickWithoutABox) {
  runtime.RunFor(1ms);  // the meter is found first
  RefusingView view;
  form.AttachView(&view);
  meter->Faults().FailTransfer(6);  // the battery's first send: its retry line cannot be logged
  Tick();
  EXPECT_FALSE(form.B1.Enabled());
  EXPECT_EQ(form.Label1.Text(), "Пинцет ЛУ");
  EXPECT_TRUE(runtime.Boxes().empty());
  EXPECT_EQ(meter->Requests().back()[kCommandByte], cmdMeasure);  // nothing after it
  form.AttachView(nullptr);
}

// A view with a fault of its own: it throws what no refusal is when B1 is enabled.
struct FaultyView : FormView {
  void CaptionChanged() override {}
  void ControlChanged(ControlId id) override {
    if (id == ControlId::B1) throw std::logic_error("view fault");
  }
  bool LineAppended(const std::string&) override { return true; }
  void LinesCleared() override {}
};

// Only a refusal ends a tick quietly: a fault of the program is not swallowed
// by the poll but reaches the failure report.
TEST_F(PollFixture, AFaultOfTheProgramInsideTheReadsReachesTheFailureReport) {
  runtime.RunFor(1ms);
  FaultyView view;
  form.AttachView(&view);
  Tick();
  ASSERT_EQ(runtime.Boxes().size(), 1u);
  EXPECT_EQ(runtime.Boxes()[0].box.text, "view fault.");
  EXPECT_TRUE(runtime.Boxes()[0].box.ownedByActiveWindow);
  form.AttachView(nullptr);
}

TEST_F(PollFixture, OptionBytesSetTheBoxesWithoutWritingBack) {
  meter->SetEeprom(kEepromAutoSave, 1);
  meter->SetEeprom(kEepromCapacitance, 0);
  meter->SetEeprom(kEepromMenuSwap, 5);
  meter->SetEeprom(kEepromModifiedMeter, 7);
  Tick();
  EXPECT_TRUE(form.C1.Checked());
  EXPECT_TRUE(form.C2.Checked());
  EXPECT_TRUE(form.C3.Checked());
  EXPECT_FALSE(form.C4.Checked());
  EXPECT_TRUE(meter->Requests(cmdWriteEeprom).empty());
  meter->SetEeprom(kEepromCapacitance, 1);  // changed on the meter: the box follows, still no write
  Tick();
  EXPECT_FALSE(form.C2.Checked());
  EXPECT_TRUE(meter->Requests(cmdWriteEeprom).empty());
}

TEST_F(PollFixture, ThePollBuildsTheInnerImageSegments) {
  Tick();
  const auto& image = form.Meter.Payload.StreamImage();
  EXPECT_EQ(image[kSegment2.first], FirmwareBlob[kSegment2.end - 1]);
  EXPECT_EQ(image[kSegment3.end - 1], FirmwareBlob[kSegment3.first]);
  EXPECT_EQ(image[kSegment1.first], 0);  // the outer ones wait for an update
}

}  // namespace
}  // namespace lu14::testing
