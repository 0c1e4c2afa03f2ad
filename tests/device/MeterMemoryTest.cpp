// EEPROM and information access, the float decoding and the battery test.
#include "device/MeterMemory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

#include "sim/meter/SimMeter.h"
#include "tests/device/MeterFixture.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;

struct MemoryFixture : MeterFixture {
  MeterMemory memory{form.Meter.Link};
};

TEST_F(MemoryFixture, ReadSendsTheAddressHighFirstAndTakesByte1OfASecondRead) {
  meter->result1 = 0x5A;
  std::uint8_t value = 0;
  EXPECT_TRUE(memory.ReadEeprom(kEepromFirmwareValidFlag, value));
  EXPECT_EQ(value, 0x5A);
  ASSERT_EQ(meter->requests.size(), 1u);
  EXPECT_EQ(meter->requests[0][1], 0x03);
  EXPECT_EQ(meter->requests[0][2], 0xFF);
  EXPECT_EQ(meter->requests[0][kCommandByte], cmdReadEeprom);
  EXPECT_EQ(meter->getCalls, 2);  // the reply, then the second read into OutReport
  EXPECT_EQ(form.Meter.Link.Request()[kStatusByte], kStatusDone);  // OutReport now holds the reply

  EXPECT_TRUE(memory.ReadDeviceParam(cmdInfo29, 0x01D0, value));
  EXPECT_EQ(meter->requests[1][1], 0x01);
  EXPECT_EQ(meter->requests[1][2], 0xD0);
  EXPECT_EQ(meter->requests[1][kCommandByte], cmdInfo29);
}

TEST_F(MemoryFixture, AFailedReadStillGivesTheByteLeftInTheBuffer) {
  meter->replies = {Reply::Fail, Reply::Fail, Reply::Fail, Reply::Fail};
  std::uint8_t value = 0x77;
  EXPECT_FALSE(memory.ReadEeprom(kEepromFirmwareValidFlag, value));
  EXPECT_EQ(value, 0x03);  // the address's high byte, never overwritten
}

TEST_F(MemoryFixture, AConfirmedReadWhoseSecondReadAnswersOtherwiseIsAskedAgain) {
  meter->result1 = 0x5A;
  meter->replies = {Reply::Done, Reply::Mismatch};  // the second read's echo differs from the request
  EXPECT_EQ(form.Meter.Memory.ReadEepromConfirmed(kEepromFirmwareValidFlag), 0x5A);
  ASSERT_EQ(meter->requests.size(), 2u);
  EXPECT_EQ(meter->requests[1][kParamHigh], 0x03);  // the same address again, with a tag of its own
  EXPECT_EQ(meter->requests[1][kParamLow], 0xFF);
  EXPECT_NE(meter->requests[1][kReadTagLow], meter->requests[0][kReadTagLow]);
}

TEST_F(MemoryFixture, ErrorsBecomeFalseAndLeaveTheValueAlone) {
  form.Meter.Link.SetCurrentDevice(nullptr);
  std::uint8_t value = 0x77;
  EXPECT_FALSE(memory.ReadEeprom(0, value));
  EXPECT_FALSE(memory.ReadDeviceParam(cmdInfo24, 0x0800, value));
  EXPECT_EQ(value, 0x77);
  const auto before = runtime.Elapsed();
  EXPECT_FALSE(memory.WriteEeprom(856, 1));
  EXPECT_EQ(runtime.Elapsed(), before);  // no pause after an error
  EXPECT_TRUE(Log().empty());
}

TEST_F(MemoryFixture, WriteSendsAddressAndValueVerifiedThenPauses) {
  const auto before = runtime.Elapsed();
  EXPECT_TRUE(memory.WriteEeprom(kEepromCapacitance, 0));
  EXPECT_EQ(runtime.Elapsed() - before, 5ms);
  const Report& sent = meter->requests.back();
  EXPECT_EQ(sent[1], 0x03);
  EXPECT_EQ(sent[2], 0x58);
  EXPECT_EQ(sent[3], 0);
  EXPECT_EQ(sent[kCommandByte], cmdWriteEeprom);
}

TEST_F(MemoryFixture, AWriteWhoseEchoNeverMatchesReportsFailureAfterTheBoxAndThePause) {
  meter->replies = {Reply::Mismatch, Reply::Mismatch, Reply::Mismatch, Reply::Mismatch};
  const auto before = runtime.Elapsed();
  EXPECT_FALSE(memory.WriteEeprom(kEepromFirmwareValidFlag, kFirmwareUpdating));
  EXPECT_EQ(runtime.Boxes().size(), 1u);
  EXPECT_EQ(runtime.Elapsed() - before, 500ms + 5ms);  // the user's answer, then the pause
}

TEST_F(MemoryFixture, FloatReadsFourBytesUpwards) {
  memory.ReadEepromFloat(kEepromBatteryCoefficient);
  ASSERT_EQ(meter->requests.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(meter->requests[i][1] * 256 + meter->requests[i][2], 976 + static_cast<int>(i));
  }
}

// The same operations against the simulated meter's EEPROM and battery.
struct SimMeterMemory : ::testing::Test {
  SimMeterMemory() {
    bus.Attach(MeterSpec(meter));
    runtime.RunFor(1ms);
  }
  sim::SimRuntime runtime;
  sim::SimHidBus bus{runtime};
  std::shared_ptr<sim::SimMeter> meter = std::make_shared<sim::SimMeter>();
  TMForm form{runtime, bus, "Lu14-updater"};
  MeterMemory memory{form.Meter.Link};
};

TEST_F(SimMeterMemory, WrittenBytesReadBack) {
  for (const std::uint16_t address : {std::uint16_t{0}, kEepromCapacitance, kEepromFirmwareValidFlag, std::uint16_t{2047}}) {
    ASSERT_TRUE(memory.WriteEeprom(address, 0xA5));
    std::uint8_t value = 0;
    EXPECT_TRUE(memory.ReadEeprom(address, value));
    EXPECT_EQ(value, 0xA5) << address;
    EXPECT_EQ(meter->Eeprom(address), 0xA5);
  }
}

TEST_F(SimMeterMemory, FloatDecodedFromTheEepromBytes) {
  const std::pair<std::array<std::uint8_t, 4>, double> cases[] = {
      {{0x00, 0x00, 0x80, 0x3F}, 1.0},
      {{0x00, 0x00, 0x00, 0x00}, std::ldexp(1.0, -127)},
      {{0x00, 0x00, 0xC0, 0x7F}, 1.5 * std::ldexp(1.0, 128)},
  };
  for (const auto& [bytes, value] : cases) {
    meter->SetEeprom(kEepromBatteryCoefficient, bytes);
    EXPECT_EQ(memory.ReadEepromFloat(kEepromBatteryCoefficient), value);
  }
}

TEST_F(SimMeterMemory, BatteryVoltageFromTheRawMeasurementHighByteFirst) {
  struct Case {
    std::uint16_t raw;
    float coefficient;
    double voltage;
    bool low;
  };
  const Case cases[] = {
      {22400, 1.0f, 1.4, true},
      {22401, 1.0f, 22401 / 16000.0, false},
      {0x9876, 1.0f, 0x9876 / 16000.0, false},  // 2.44 V; bytes swapped it would be 1.90
      {0, 2.0f, 0.0, true},
      {48000, -1.0f, -3.0, true},
  };
  for (const Case& c : cases) {
    meter->SetBatteryRaw(c.raw);
    meter->SetBatteryCoefficient(c.coefficient);
    const double voltage = memory.MeasureBattery();
    EXPECT_EQ(voltage, c.voltage) << c.raw;
    EXPECT_EQ(IsBatteryLow(voltage), c.low) << c.raw;
  }
  meter->SetEeprom(kEepromBatteryCoefficient, std::array<std::uint8_t, 4>{0, 0, 0, 0});
  meter->SetBatteryRaw(65535);
  EXPECT_TRUE(IsBatteryLow(memory.MeasureBattery()));  // 2^-127 makes any reading tiny
  const Report measure = meter->Requests(cmdMeasure).back();
  EXPECT_EQ(measure[1], 0x20);
  EXPECT_EQ(measure[2], 0x01);
  EXPECT_EQ(measure[3], 0x02);
}

// Address 300 holds 300 mod 251 = 0x31 in a fresh simulated meter; 299 holds 0x30.
constexpr std::uint16_t kAddress = 300;
constexpr std::uint8_t kByteThere = 0x31;

TEST_F(SimMeterMemory, AFailedSecondReadIsNoReadingOfTheAddress) {
  // The transaction succeeds; the second read of its reply (its third transfer) fails.
  meter->Faults().FailTransfer(meter->TransferCount() + 2);
  std::uint8_t value = 0;
  EXPECT_FALSE(memory.ReadEeprom(kAddress, value));
  EXPECT_EQ(value, 0x01);  // what the buffer still held: the address's high byte, not the meter's 0x31
}

TEST_F(SimMeterMemory, AConfirmedReadTakesOnlyTheMetersAnswerToThisVeryRequest) {
  struct Case {
    const char* what;
    std::function<void(sim::SimMeter&)> inject;  // after a read of 299, before the read of 300
    std::optional<std::uint8_t> value;
    std::size_t commands;  // commands the read of 300 sent
  };
  using sim::CommandFault;
  using sim::Commands;
  const auto secondReads = [](std::vector<std::size_t> attempts) {
    return [attempts](sim::SimMeter& m) {
      // An attempt is a send, a read and the second read: three transfers.
      for (const std::size_t attempt : attempts) m.Faults().FailTransfer(m.TransferCount() + 3 * attempt + 2);
    };
  };
  const Case cases[] = {
      {"a clean read", {}, kByteThere, 1},
      {"the second read fails once", secondReads({0}), kByteThere, 2},
      {"the second read fails twice", secondReads({0, 1}), kByteThere, 3},
      {"the second read fails every time", secondReads({0, 1, 2}), std::nullopt, 3},
      {"the reply to the read before it, once",
       [](sim::SimMeter& m) { m.Faults().Add({.which = Commands::NextOf(cmdReadEeprom), .staleReply = true}); },
       kByteThere, 2},
      {"the reply to the read before it, every time",
       [](sim::SimMeter& m) {
         m.Faults().Add({.which = Commands::NextOf(cmdReadEeprom, 3), .staleReply = true});
       },
       std::nullopt, 3},
      {"busy for good, every time",
       [](sim::SimMeter& m) {
         m.Faults().Add({.which = Commands::NextOf(cmdReadEeprom, 3), .busyReads = CommandFault::kForever});
       },
       std::nullopt, 3},
      {"an echo that differs once",
       [](sim::SimMeter& m) {
         m.Faults().Add({.which = Commands::NextOf(cmdReadEeprom), .corruptEcho = true, .echoByte = 9});
       },
       kByteThere, 2},
      {"both sends of the first attempt fail",
       [](sim::SimMeter& m) { m.Faults().FailNextSends(2); }, kByteThere, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    meter->Faults().Clear();
    ASSERT_EQ(memory.ReadEepromConfirmed(kAddress - 1), 0x30);
    if (c.inject) c.inject(*meter);
    const std::size_t before = meter->Requests(cmdReadEeprom).size();
    EXPECT_EQ(memory.ReadEepromConfirmed(kAddress), c.value);
    const std::vector<Report> sent = meter->Requests(cmdReadEeprom);
    ASSERT_EQ(sent.size() - before, c.commands);
    for (std::size_t i = before; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i][kParamHigh] * 256 + sent[i][kParamLow], kAddress) << "attempt " << i - before;
    }
  }
}

TEST_F(SimMeterMemory, TheFirstConfirmedReadAfterPlainOnesIsNotAnsweredByTheirReply) {
  // A plain read leaves zeros in the bytes where a confirmed read puts its
  // tag, and the first tag a fresh link counts from is zero too.
  std::uint8_t value = 0;
  ASSERT_TRUE(memory.ReadEeprom(kAddress - 1, value));
  meter->Faults().Add({.which = sim::Commands::NextOf(cmdReadEeprom), .staleReply = true});
  EXPECT_EQ(memory.ReadEepromConfirmed(kAddress), kByteThere);
}

TEST_F(SimMeterMemory, EveryConfirmedRequestCarriesATagTheOneBeforeItDidNot) {
  for (std::uint16_t address = 0; address < 4; ++address) ASSERT_TRUE(memory.ReadEepromConfirmed(address));
  ASSERT_TRUE(memory.ReadDeviceParamConfirmed(cmdInfo24, 0x0800));
  ASSERT_TRUE(memory.MeasureBatteryConfirmed());
  const std::vector<Report> sent = meter->Requests();
  for (std::size_t i = 1; i < sent.size(); ++i) {
    EXPECT_FALSE(std::equal(sent[i].begin() + kEchoFirst, sent[i].begin() + kEchoLast + 1,
                            sent[i - 1].begin() + kEchoFirst))
        << "request " << i;
  }
  const Report measure = meter->Requests(cmdMeasure).back();
  EXPECT_EQ(measure[1], 0x20);  // the measurement's own request bytes stay as they are
  EXPECT_EQ(measure[2], 0x01);
  EXPECT_EQ(measure[3], 0x02);
}

TEST_F(SimMeterMemory, ConfirmedBatteryAndInformationReadsGiveWhatTheMeterHolds) {
  meter->SetBatteryRaw(0x9876);
  meter->SetBatteryCoefficient(2.0f);
  EXPECT_EQ(memory.MeasureBatteryConfirmed(), 0x9876 * 2.0 / 16000.0);
  EXPECT_EQ(memory.ReadDeviceParamConfirmed(cmdInfo29, 0x01D0), meter->Info(cmdInfo29, 0x01D0));
  // The checksum's three result bytes lie over the echo's first byte.
  meter->Faults().Add({.which = sim::Commands::NextOf(cmdReadChecksum), .staleReply = true});
  meter->Faults().Add({.which = sim::Commands::AllOf(cmdReadChecksum), .checksum = 0x5D0B5F});
  EXPECT_EQ(memory.ReadChecksumConfirmed(), 0x5D0B5Fu);
  EXPECT_EQ(meter->Requests(cmdReadChecksum).size(), 2u);  // the stale reply was asked again
  meter->Faults().Clear();
  // A coefficient byte that cannot be confirmed leaves no voltage at all.
  meter->Faults().Add({.which = sim::Commands{cmdReadEeprom, 2, kConfirmedReadAttempts, true},
                       .busyReads = sim::CommandFault::kForever});
  EXPECT_EQ(memory.MeasureBatteryConfirmed(), std::nullopt);
  form.Meter.Link.SetCurrentDevice(nullptr);
  EXPECT_EQ(memory.ReadEepromConfirmed(0), std::nullopt);  // no meter: nothing, and no error escapes
}

TEST(EepromFloat, DecodesWithoutSpecialCases) {
  const std::pair<std::array<std::uint8_t, 4>, double> cases[] = {
      {{0x00, 0x00, 0x80, 0x3F}, 1.0},
      {{0x00, 0x00, 0x80, 0xBF}, -1.0},
      {{0x00, 0x00, 0x00, 0x00}, std::ldexp(1.0, -127)},
      {{0x00, 0x00, 0x00, 0x80}, -std::ldexp(1.0, -127)},
      {{0x00, 0x00, 0x80, 0x7F}, std::ldexp(1.0, 128)},
      {{0x00, 0x00, 0xC0, 0x7F}, 1.5 * std::ldexp(1.0, 128)},
      {{0xDB, 0x0F, 0x49, 0x40}, static_cast<double>(3.14159274101257324f)},
      {{0x01, 0x00, 0x00, 0x00}, std::ldexp(1.0 + std::ldexp(1.0, -23), -127)},
  };
  for (const auto& [bytes, value] : cases) {
    EXPECT_EQ(DecodeEepromFloat(bytes), value) << int(bytes[0]) << " " << int(bytes[3]);
  }
}

TEST(BatteryLimit, ExactlyOnePointFourIsLow) {
  const std::pair<double, bool> cases[] = {
      {22400 * 1.0 / 16000.0, true},
      {22401 * 1.0 / 16000.0, false},
      {0.0, true},
      {48000 * -1.0 / 16000.0, true},
      {65535 * std::ldexp(1.0, -127) / 16000.0, true},
      {std::nextafter(1.4, 2.0), false},
  };
  for (const auto& [voltage, low] : cases) EXPECT_EQ(IsBatteryLow(voltage), low) << voltage;
}

}  // namespace
}  // namespace lu14::testing
