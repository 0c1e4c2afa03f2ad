// The simulated meter's power loss: what it keeps, what it loses, and how it
// cuts short the command under way.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/meter/SimMeter.h"
#include "tests/sim/meter/MeterRequests.h"

namespace lu14::sim {
namespace {

using namespace meter_test;
using EepromWrite = PowerLoss::EepromWrite;

constexpr std::uint8_t kPage = 3;
constexpr std::uint16_t kAddress = 900;
constexpr std::uint8_t kNewValue = 0x42;
constexpr std::uint8_t kOldValue = kAddress % 251;  // the fresh meter's pattern

// 256 bytes that differ from their neighbours and are never 0xFF, so that an
// erased byte, a shifted byte or a byte of another image all show.
Bytes PageImage(std::uint8_t seed) {
  Bytes page(SimMeter::kPageSize);
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  return page;
}

void FillPageBuffer(SimMeter& meter, const Bytes& page) {
  for (std::size_t offset = 0; offset < SimMeter::kPageSize; offset += SimMeter::kChunkSize) {
    Transact(meter, ChunkRequest(static_cast<std::uint8_t>(offset), &page[offset]));
  }
}

void CommitWhole(SimMeter& meter, std::uint8_t page, const Bytes& image) {
  FillPageBuffer(meter, image);
  EXPECT_EQ(Transact(meter, CommitRequest(page))[18], kDone);
}

Bytes FlashPage(const SimMeter& meter, std::uint8_t page) {
  const auto first = meter.Flash().begin() + page * SimMeter::kPageSize;
  return Bytes(first, first + SimMeter::kPageSize);
}

// The first `programmed` bytes of `image`, the rest of the page erased.
Bytes Torn(const Bytes& image, std::size_t programmed) {
  Bytes page(SimMeter::kPageSize, kErased);
  std::copy(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(programmed), page.begin());
  return page;
}

Report CleanReadOfTheFlag() {
  Report reply = ReadEepromRequest(SimMeter::kFirmwareFlagAddress);
  reply[1] = 1;
  reply[18] = kDone;
  return reply;
}

// --- what is kept and what is lost ---------------------------------------------------

TEST(SimMeterPowerLoss, TheEepromAndTheCommittedFlashAreKept) {
  SimMeter meter;
  Transact(meter, WriteEepromRequest(kAddress, kNewValue));
  CommitWhole(meter, kPage, PageImage(1));
  CommitWhole(meter, kPage + 1, PageImage(2));
  const Bytes eeprom(meter.EepromBytes().begin(), meter.EepromBytes().end());
  const Bytes flash(meter.Flash().begin(), meter.Flash().end());
  const std::uint32_t checksum = meter.Checksum();
  const std::size_t transfers = meter.TransferCount();

  meter.LosePower({.pageBytesProgrammed = 0, .eepromWrite = EepromWrite::kLost});

  EXPECT_EQ(Bytes(meter.EepromBytes().begin(), meter.EepromBytes().end()), eeprom);
  EXPECT_EQ(Bytes(meter.Flash().begin(), meter.Flash().end()), flash);
  EXPECT_EQ(meter.TransferCount(), transfers) << "a power loss is no transfer";
  EXPECT_EQ(Transact(meter, ReadEepromRequest(kAddress))[1], kNewValue);
  const Report reply = Transact(meter, Request(SimMeter::kReadChecksum));
  EXPECT_EQ(reply[1] | reply[2] << 8 | reply[3] << 16, static_cast<int>(checksum));
}

TEST(SimMeterPowerLoss, ThePageBufferIsLostSoTheNextCommitProgramsABlankPage) {
  SimMeter meter;
  CommitWhole(meter, kPage, PageImage(1));
  FillPageBuffer(meter, PageImage(2));  // a new image for the same page, its commit still to come

  meter.LosePower({});
  EXPECT_THAT(meter.PageBuffer(), testing::Each(kErased));

  EXPECT_EQ(Transact(meter, CommitRequest(kPage))[18], kDone);
  EXPECT_THAT(FlashPage(meter, kPage), testing::Each(kErased));
}

TEST(SimMeterPowerLoss, ReadsAnswerAsAFreshMeterWhateverReplyWasPending) {
  struct Case {
    std::string name;
    std::function<void(SimMeter&)> before;  // up to the power loss
  };
  const std::uint8_t data[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::vector<Case> cases = {
      {"a reply already read", [](SimMeter& m) { Transact(m, ReadEepromRequest(832)); }},
      {"a reply not read yet", [](SimMeter& m) { ASSERT_TRUE(m.SetFeature(ReadEepromRequest(832))); }},
      {"a command busy twice, once answered",
       [](SimMeter& m) {
         m.Faults().Add({.which = Commands::Next(), .busyReads = 2});
         ASSERT_TRUE(m.SetFeature(ReadEepromRequest(832)));
         EXPECT_EQ(Read(m)[18], kBusy);
       }},
      {"a command that never completes",
       [](SimMeter& m) {
         m.Faults().Add({.which = Commands::Next(), .busyReads = CommandFault::kForever});
         ASSERT_TRUE(m.SetFeature(ReadEepromRequest(832)));
         EXPECT_EQ(Read(m)[18], kBusy);
       }},
      {"a stale reply",
       [](SimMeter& m) {
         Transact(m, ReadEepromRequest(832));
         m.Faults().Add({.which = Commands::Next(), .staleReply = true});
         Transact(m, ReadEepromRequest(833));
       }},
      {"the refusal of an unknown code", [](SimMeter& m) { Transact(m, Request(26, {0x03, 0xFF})); }},
      {"a corrupted echo",
       [](SimMeter& m) {
         m.Faults().Add({.which = Commands::Next(), .corruptEcho = true});
         Transact(m, WriteEepromRequest(kAddress, kNewValue));
       }},
      {"a chunk's wrong sum",
       [&data](SimMeter& m) {
         m.Faults().Add({.which = Commands::Next(), .sumDelta = 1});
         Transact(m, ChunkRequest(0, data));
       }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    test.before(meter);

    meter.LosePower({});
    for (int read = 0; read < 3; ++read) EXPECT_EQ(Read(meter), Report{}) << "read " << read;
    EXPECT_EQ(meter.Reply(), Report{});

    EXPECT_EQ(Transact(meter, ReadEepromRequest(SimMeter::kFirmwareFlagAddress)), CleanReadOfTheFlag())
        << "nothing of the lost command reaches the next one";
  }
}

// --- the command under way -----------------------------------------------------------

TEST(SimMeterPowerLoss, ACommandIsCutShortWhileUnderWayAndWholeOnceARead) {
  // What happens between the command's SetFeature and the power loss.
  struct When {
    std::string name;
    std::function<void(SimMeter&)> rule;   // added before the command
    std::function<void(SimMeter&)> after;  // after its SetFeature
    bool underWay;
  };
  const auto reads = [](int n) {
    return [n](SimMeter& m) {
      Report reply{};
      for (int i = 0; i < n; ++i) m.GetFeature(reply);
    };
  };
  const auto none = [](SimMeter&) {};
  const std::vector<When> whens = {
      {"no read yet", none, none, true},
      {"busy reads only", [](SimMeter& m) { m.Faults().Add({.which = Commands::Next(), .busyReads = 3}); }, reads(2),
       true},
      {"failed reads only", [](SimMeter& m) { m.Faults().FailNextReads(2); }, reads(2), true},
      {"never completing",
       [](SimMeter& m) { m.Faults().Add({.which = Commands::Next(), .busyReads = CommandFault::kForever}); },
       reads(4), true},
      {"a read done", none, reads(1), false},
      {"a busy read, then a read done",
       [](SimMeter& m) { m.Faults().Add({.which = Commands::Next(), .busyReads = 1}); }, reads(2), false},
      {"a read of a stale reply", [](SimMeter& m) { m.Faults().Add({.which = Commands::Next(), .staleReply = true}); },
       reads(1), false},
      {"the next command arrived", none,
       [](SimMeter& m) { ASSERT_TRUE(m.SetFeature(Request(SimMeter::kQuery30, {0x11, 0x18}))); }, false},
  };

  // The command under test, the power loss, and the state it leaves.
  struct What {
    std::string name;
    Report command;
    PowerLoss how;
    std::function<void(const SimMeter&, bool underWay)> check;
  };
  const Bytes oldImage = PageImage(1);
  const Bytes newImage = PageImage(2);
  const std::vector<What> whats = {
      {"a commit, 100 bytes programmed", CommitRequest(kPage), {.pageBytesProgrammed = 100},
       [&](const SimMeter& m, bool underWay) {
         EXPECT_EQ(FlashPage(m, kPage), underWay ? Torn(newImage, 100) : newImage);
       }},
      {"an EEPROM write, lost", WriteEepromRequest(kAddress, kNewValue), {.eepromWrite = EepromWrite::kLost},
       [](const SimMeter& m, bool underWay) { EXPECT_EQ(m.Eeprom(kAddress), underWay ? kOldValue : kNewValue); }},
      {"an EEPROM write, kept", WriteEepromRequest(kAddress, kNewValue), {.eepromWrite = EepromWrite::kKept},
       [](const SimMeter& m, bool) { EXPECT_EQ(m.Eeprom(kAddress), kNewValue); }},
  };

  for (const What& what : whats) {
    for (const When& when : whens) {
      SCOPED_TRACE(what.name + ", " + when.name);
      SimMeter meter;
      CommitWhole(meter, kPage, oldImage);
      FillPageBuffer(meter, newImage);
      when.rule(meter);
      ASSERT_TRUE(meter.SetFeature(what.command));
      when.after(meter);

      meter.LosePower(what.how);
      what.check(meter, when.underWay);
    }
  }
}

TEST(SimMeterPowerLoss, ATornPageHoldsItsFirstBytesAndIsErasedBeyond) {
  struct Case {
    std::string name;
    std::uint8_t modelCode;
    std::size_t programmed;
  };
  const std::vector<Case> cases = {
      {"nothing programmed: the page erased", SimMeter::kModelCode, 0},
      {"one byte", SimMeter::kModelCode, 1},
      {"the first chunk", SimMeter::kModelCode, 16},
      {"half", SimMeter::kModelCode, 128},
      {"all but the last byte", SimMeter::kModelCode, 255},
      {"the whole page", SimMeter::kModelCode, 256},
      {"a refused commit: nothing erased", 15, 0},
  };
  const Bytes oldImage = PageImage(1);
  const Bytes newImage = PageImage(2);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    for (const std::uint8_t page : Bytes{kPage - 1, kPage, kPage + 1}) CommitWhole(meter, page, oldImage);
    FillPageBuffer(meter, newImage);
    ASSERT_TRUE(meter.SetFeature(CommitRequest(kPage, test.modelCode)));

    meter.LosePower({.pageBytesProgrammed = test.programmed});

    const bool accepted = test.modelCode == SimMeter::kModelCode;
    EXPECT_EQ(FlashPage(meter, kPage), accepted ? Torn(newImage, test.programmed) : oldImage);
    if (accepted && test.programmed < SimMeter::kPageSize) {
      EXPECT_NE(FlashPage(meter, kPage), newImage) << "a torn page is not the image";
    }
    EXPECT_EQ(FlashPage(meter, kPage - 1), oldImage) << "the neighbours are untouched";
    EXPECT_EQ(FlashPage(meter, kPage + 1), oldImage);
    ASSERT_FALSE(meter.Commits().empty());
    EXPECT_EQ(meter.Commits().back().accepted, accepted) << "the commit stays recorded as received";
  }
}

TEST(SimMeterPowerLoss, AnEepromWriteUnderWayChangesOnlyItsOwnByteAndOnlyWhenKept) {
  struct Case {
    std::string name;
    std::uint16_t address;
    std::uint8_t before;
    std::uint8_t written;
    EepromWrite eepromWrite;
    std::uint8_t after;
  };
  constexpr std::uint16_t kFlag = SimMeter::kFirmwareFlagAddress;
  const std::vector<Case> cases = {
      {"kept", kAddress, kOldValue, kNewValue, EepromWrite::kKept, kNewValue},
      {"lost", kAddress, kOldValue, kNewValue, EepromWrite::kLost, kOldValue},
      {"the flag 0x88, kept: the meter comes back incomplete", kFlag, 1, 0x88, EepromWrite::kKept, 0x88},
      {"the flag 0x88, lost: the meter comes back complete", kFlag, 1, 0x88, EepromWrite::kLost, 1},
      {"the flag 1, lost: the meter stays incomplete", kFlag, 0x88, 1, EepromWrite::kLost, 0x88},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    meter.SetEeprom(test.address, test.before);
    Bytes expected(meter.EepromBytes().begin(), meter.EepromBytes().end());
    expected[test.address] = test.after;
    ASSERT_TRUE(meter.SetFeature(WriteEepromRequest(test.address, test.written)));

    meter.LosePower({.eepromWrite = test.eepromWrite});
    EXPECT_EQ(Bytes(meter.EepromBytes().begin(), meter.EepromBytes().end()), expected);
  }
}

TEST(SimMeterPowerLoss, AWritePastTheEndOfTheEepromLosesNothing) {
  SimMeter meter;
  const Bytes before(meter.EepromBytes().begin(), meter.EepromBytes().end());
  ASSERT_TRUE(meter.SetFeature(WriteEepromRequest(SimMeter::kEepromSize, kNewValue)));
  meter.LosePower({.eepromWrite = EepromWrite::kLost});
  EXPECT_EQ(Bytes(meter.EepromBytes().begin(), meter.EepromBytes().end()), before);
}

// --- the fault plan --------------------------------------------------------------------

TEST(SimMeterPowerLoss, TheFaultPlanStaysAndItsCommandCountsCarryOn) {
  SimMeter meter;
  // The third EEPROM read, counted over the meter's life: the first one after
  // the power loss, as the second one was under way when it struck.
  meter.Faults().Add({.which = Commands::IndexOf(SimMeter::kReadEeprom, 2), .corruptEcho = true});
  Transact(meter, ReadEepromRequest(832));
  ASSERT_TRUE(meter.SetFeature(ReadEepromRequest(833)));
  meter.Faults().FailNextReads(1);
  meter.Faults().BusyNextReads(1);

  meter.LosePower({});

  Report buffer{};
  EXPECT_FALSE(meter.GetFeature(buffer)) << "a pending failed read";
  Report busy{};
  busy[18] = kBusy;
  EXPECT_EQ(Read(meter), busy) << "a pending busy read, over the fresh meter's blank request";
  const Report request = ReadEepromRequest(SimMeter::kFirmwareFlagAddress);
  EXPECT_NE(Transact(meter, request)[17], request[17]) << "the rule hits the third read";
  EXPECT_EQ(Transact(meter, request), CleanReadOfTheFlag());
}

TEST(SimMeterPowerLoss, TheBusCutsThePowerAsTheFaultPlanSays) {
  struct Case {
    std::string name;
    std::function<void(FaultPlan&)> plan;
    std::size_t programmed;
    std::uint8_t eepromByte;
  };
  const std::vector<Case> cases = {
      {"not set: half the page, the write lost", [](FaultPlan&) {}, 128, kOldValue},
      {"set", [](FaultPlan& f) { f.SetPowerLoss({.pageBytesProgrammed = 7, .eepromWrite = EepromWrite::kKept}); }, 7,
       kNewValue},
      {"set, then cleared",
       [](FaultPlan& f) {
         f.SetPowerLoss({.pageBytesProgrammed = 7, .eepromWrite = EepromWrite::kKept});
         f.Clear();
       },
       128, kOldValue},
  };
  const Bytes image = PageImage(2);
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter committing;
    test.plan(committing.Faults());
    FillPageBuffer(committing, image);
    ASSERT_TRUE(committing.SetFeature(CommitRequest(kPage)));
    committing.PowerLost();
    EXPECT_EQ(FlashPage(committing, kPage), Torn(image, test.programmed));

    SimMeter writing;
    test.plan(writing.Faults());
    ASSERT_TRUE(writing.SetFeature(WriteEepromRequest(kAddress, kNewValue)));
    writing.PowerLost();
    EXPECT_EQ(writing.Eeprom(kAddress), test.eepromByte);
  }
}

TEST(SimMeterPowerLoss, MoreBytesProgrammedThanAPageHoldsAreRefused) {
  SimMeter meter;
  const Report reply = Transact(meter, ReadEepromRequest(832));
  EXPECT_THROW(meter.LosePower({.pageBytesProgrammed = SimMeter::kPageSize + 1}), std::out_of_range);
  EXPECT_EQ(meter.Reply(), reply) << "refused before anything is lost";
  EXPECT_THROW(meter.Faults().SetPowerLoss({.pageBytesProgrammed = SimMeter::kPageSize + 1}), std::out_of_range);
  EXPECT_NO_THROW(meter.Faults().SetPowerLoss({.pageBytesProgrammed = SimMeter::kPageSize}));
}

}  // namespace
}  // namespace lu14::sim
