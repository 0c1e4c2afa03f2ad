#include "sim/meter/SimMeter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <numeric>
#include <string>
#include <vector>

#include "tests/sim/meter/MeterRequests.h"

namespace lu14::sim {
namespace {

using namespace meter_test;

unsigned Sum16(const Report& reply) { return reply[1] + 256u * reply[2]; }

// --- reply layout ------------------------------------------------------------------

struct LayoutCase {
  std::string name;
  std::uint8_t code;
  Bytes leading;  // request bytes from 1 on; the rest up to 17 get a distinct fill
  Bytes result;   // expected reply bytes from 1 on; every other byte echoes the request
  std::uint8_t status = kDone;
};

TEST(SimMeterProtocol, EachCommandAnswersItsResultOverAnEchoOfTheRequest) {
  const Bytes sixteenFF(16, 0xFF);
  Bytes chunk{0x10};
  chunk.insert(chunk.end(), sixteenFF.begin(), sixteenFF.end());

  const std::vector<LayoutCase> cases = {
      {"read EEPROM 1023: the flag", 21, {0x03, 0xFF}, {0x01}},
      {"read EEPROM 832: 'D'", 21, {0x03, 0x40}, {'D'}},
      {"read EEPROM 976: first coefficient byte", 21, {0x03, 0xD0}, {0x00}},
      {"read EEPROM 979: last coefficient byte", 21, {0x03, 0xD3}, {0x3F}},
      {"read EEPROM past the end", 21, {0x08, 0x00}, {0xFF}},
      {"write EEPROM", 20, {0x03, 0x84, 0x5A}, {}},
      {"info 24 selector 0x0800", 24, {0x08, 0x00}, {0x4C}},
      {"info 24 selector 0x1500", 24, {0x15, 0x00}, {0xC8}},
      {"info 28 selector 0x0400", 28, {0x04, 0x00}, {0xA7}},
      {"info 29 selector 0x0093", 29, {0x00, 0x93}, {0x01}},
      {"info 29 selector 0x01D0", 29, {0x01, 0xD0}, {0x86}},
      {"info 28 with a selector of command 24", 28, {0x08, 0x00}, {0xFF}},
      {"info with an unknown selector", 24, {0x11, 0x18}, {0xFF}},
      {"measure: 48000 high byte first", 27, {0x20, 0x01, 0x02}, {0xBB, 0x80}},
      {"query 30", 30, {0x11, 0x18}, {}},
      {"checksum of blank flash: 60160 x 0xFF, low byte first", 25, {}, {0x00, 0x15, 0xEA}},
      {"chunk at 0x10 of 0xFF: sum 0x1000, low byte first", 23, chunk, {0x00, 0x10}},
      {"commit page 0", 22, {0x00, 0x0E}, {}},
      {"unknown code 26", 26, {0x12, 0x34}, {}, SimMeter::kStatusUnknownCommand},
      {"unknown code 0", 0, {0x12, 0x34}, {}, SimMeter::kStatusUnknownCommand},
      {"unknown code 31", 31, {}, {}, SimMeter::kStatusUnknownCommand},
  };
  for (const LayoutCase& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    Report request{};
    for (std::size_t i = 1; i <= 17; ++i) {
      request[i] = i - 1 < test.leading.size() ? test.leading[i - 1] : static_cast<std::uint8_t>(0xA0 + i);
    }
    request[18] = test.code;

    Report expected = request;
    for (std::size_t i = 0; i < test.result.size(); ++i) expected[1 + i] = test.result[i];
    expected[18] = test.status;

    EXPECT_EQ(Transact(meter, request), expected);
  }
}

TEST(SimMeterProtocol, EveryReadAnswersTheLatestReplyUntilTheNextCommand) {
  SimMeter meter;
  EXPECT_EQ(Read(meter), Report{}) << "before any command: zeros, done";

  const Report first = Transact(meter, ReadEepromRequest(832));
  EXPECT_EQ(first[1], 'D');
  EXPECT_EQ(Read(meter), first);
  EXPECT_EQ(Read(meter), first);

  // Changing the EEPROM behind the meter's back does not change a reply already made.
  meter.SetEeprom(832, 'X');
  EXPECT_EQ(Read(meter), first);

  const Report second = Transact(meter, ReadEepromRequest(833));
  EXPECT_EQ(second[1], '1');
  EXPECT_EQ(Read(meter), second);
}

TEST(SimMeterProtocol, AnUnknownCommandNeverCompletesButDoesNotWedgeTheMeter) {
  SimMeter meter;
  ASSERT_TRUE(meter.SetFeature(Request(26, {0x03, 0xFF, 0x00})));
  for (int read = 0; read < 5; ++read) EXPECT_EQ(Read(meter)[18], SimMeter::kStatusUnknownCommand);
  EXPECT_EQ(meter.FirmwareFlag(), 1);

  EXPECT_EQ(Transact(meter, ReadEepromRequest(1023))[18], kDone);
}

TEST(SimMeterProtocol, EepromWritesLandWhereTheirAddressSays) {
  struct Case {
    std::uint16_t address;
    std::uint8_t value;
  };
  for (const Case test : {Case{0, 0x12}, Case{0x01FF, 0x34}, Case{1023, 0x88}, Case{2047, 0x56}}) {
    SCOPED_TRACE(test.address);
    SimMeter meter;
    const Bytes before(meter.EepromBytes().begin(), meter.EepromBytes().end());

    EXPECT_EQ(Transact(meter, WriteEepromRequest(test.address, test.value))[18], kDone);
    EXPECT_EQ(Transact(meter, ReadEepromRequest(test.address))[1], test.value);

    Bytes expected = before;
    expected[test.address] = test.value;
    EXPECT_EQ(Bytes(meter.EepromBytes().begin(), meter.EepromBytes().end()), expected) << "only that byte changed";
  }
}

TEST(SimMeterProtocol, EepromWritesPastTheEndAreDropped) {
  SimMeter meter;
  const Bytes before(meter.EepromBytes().begin(), meter.EepromBytes().end());
  for (std::uint16_t address : {std::uint16_t{2048}, std::uint16_t{0xFF03}, std::uint16_t{0xFFFF}}) {
    EXPECT_EQ(Transact(meter, WriteEepromRequest(address, 0x00))[18], kDone);
  }
  EXPECT_EQ(Bytes(meter.EepromBytes().begin(), meter.EepromBytes().end()), before);
}

TEST(SimMeterProtocol, ChunkSumCoversBytes1To17AndComesLowByteFirst) {
  struct Case {
    std::string name;
    std::uint8_t offset;
    Bytes data;
    unsigned sum;
  };
  const std::vector<Case> cases = {
      {"offset 0, bytes 1..16", 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 136},
      {"offset 0x10, sixteen 0xFF", 0x10, Bytes(16, 0xFF), 0x1000},
      {"offset 240, sixteen 0xFF: the largest sum", 240, Bytes(16, 0xFF), 4320},
      {"offset 0x30, a single 0x80 last", 0x30, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}, 0xB0},
      {"offset 0, sixteen zeros", 0, Bytes(16, 0x00), 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    const Report reply = Transact(meter, ChunkRequest(test.offset, test.data.data()));
    EXPECT_EQ(reply[1], test.sum & 0xFF) << "low byte";
    EXPECT_EQ(reply[2], test.sum >> 8) << "high byte";
    EXPECT_EQ(reply[18], kDone);
  }
}

TEST(SimMeterProtocol, ChunksFillThePageBufferAndACommitMovesItIntoFlash) {
  SimMeter meter;
  std::uint8_t data[16];
  for (std::size_t i = 0; i < 16; ++i) data[i] = static_cast<std::uint8_t>(0x30 + i);

  Transact(meter, ChunkRequest(0x20, data));
  EXPECT_EQ(meter.PageBuffer()[0x1F], 0xFF);
  EXPECT_EQ(meter.PageBuffer()[0x20], 0x30);
  EXPECT_EQ(meter.PageBuffer()[0x2F], 0x3F);
  EXPECT_EQ(meter.PageBuffer()[0x30], 0xFF);
  EXPECT_EQ(meter.Flash()[3 * 256 + 0x20], 0xFF) << "nothing reaches flash before the commit";

  Transact(meter, CommitRequest(3));
  EXPECT_EQ(meter.Flash()[3 * 256 + 0x1F], 0xFF);
  EXPECT_EQ(meter.Flash()[3 * 256 + 0x20], 0x30);
  EXPECT_EQ(meter.Flash()[3 * 256 + 0x2F], 0x3F);
  EXPECT_EQ(meter.Flash()[3 * 256 + 0x30], 0xFF);
  EXPECT_EQ(meter.CommittedPages(), Bytes{3});
  EXPECT_THAT(meter.PageBuffer(), testing::Each(kErased)) << "a commit erases the page buffer";
}

TEST(SimMeterProtocol, ACommitWithAWrongModelCodeOrPageIsRefusedAndRecorded) {
  struct Case {
    std::string name;
    std::uint8_t page;
    std::uint8_t modelCode;
  };
  const std::vector<Case> cases = {
      {"model code 0", 0, 0},
      {"model code 15", 10, 15},
      {"page 235, the boot loader's", 235, 14},
      {"page 255", 255, 14},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    std::uint8_t data[16] = {};
    Transact(meter, ChunkRequest(0, data));
    const Bytes flashBefore(meter.Flash().begin(), meter.Flash().end());

    EXPECT_EQ(Transact(meter, CommitRequest(test.page, test.modelCode))[18], kDone);

    EXPECT_EQ(Bytes(meter.Flash().begin(), meter.Flash().end()), flashBefore);
    EXPECT_EQ(meter.PageBuffer()[0], 0x00) << "the page buffer is kept";
    EXPECT_TRUE(meter.CommittedPages().empty());
    ASSERT_EQ(meter.Commits().size(), 1u);
    EXPECT_EQ(meter.Commits()[0].page, test.page);
    EXPECT_EQ(meter.Commits()[0].modelCode, test.modelCode);
    EXPECT_FALSE(meter.Commits()[0].accepted);
  }
}

// --- a whole firmware stream --------------------------------------------------------

// Streams the first 60160 bytes of `image` as the updater does: a chunk per 16
// bytes, a commit after each 256. Returns the positions whose reply carried a
// wrong sum or echo.
std::vector<std::size_t> StreamToMeter(SimMeter& meter, const Bytes& image) {
  std::vector<std::size_t> badReplies;
  for (std::size_t position = 0; position < SimMeter::kStreamedLength; position += 16) {
    const Report request = ChunkRequest(static_cast<std::uint8_t>(position % 256), &image[position]);
    const Report reply = Transact(meter, request);
    const unsigned sum = std::accumulate(request.begin() + 1, request.begin() + 18, 0u);
    if (reply[18] != kDone || Sum16(reply) != sum || !std::equal(reply.begin() + 3, reply.begin() + 18, request.begin() + 3)) {
      badReplies.push_back(position);
    }
    if ((position + 16) % 256 == 0) {
      Transact(meter, CommitRequest(static_cast<std::uint8_t>((position + 16) / 256 - 1)));
    }
  }
  return badReplies;
}

TEST(SimMeterFlash, AFullStreamWritesTheImageAndTheChecksumCoversExactlyIt) {
  struct Case {
    std::string name;
    std::function<std::uint8_t(std::size_t)> byteAt;
    std::uint32_t checksum;  // worked out by hand
  };
  const std::vector<Case> cases = {
      // Each page sums to 0 + 1 + ... + 255 = 32640; 235 of them.
      {"byte i is i mod 256", [](std::size_t i) { return static_cast<std::uint8_t>(i % 256); }, 235u * 32640u},
      // 60160 x 101 + 21599 = 6097759 = 0x5D0B5F, the checksum of the carried image.
      {"101 everywhere, 102 in the first 21599 bytes",
       [](std::size_t i) { return static_cast<std::uint8_t>(i < 21599 ? 102 : 101); }, 0x5D0B5F},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    Bytes image(SimMeter::kFlashSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = test.byteAt(i);

    EXPECT_THAT(StreamToMeter(meter, image), testing::IsEmpty());

    std::vector<std::uint8_t> allPages(SimMeter::kWritablePages);
    std::iota(allPages.begin(), allPages.end(), std::uint8_t{0});
    EXPECT_EQ(meter.CommittedPages(), allPages);
    EXPECT_EQ(meter.Requests(SimMeter::kWriteChunk).size(), 3760u);

    const Bytes flash(meter.Flash().begin(), meter.Flash().end());
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 60160, image.begin())) << "streamed part";
    EXPECT_TRUE(std::all_of(flash.begin() + 60160, flash.end(), [](std::uint8_t b) { return b == 0xFF; }))
        << "the tail is never written";

    EXPECT_EQ(meter.Checksum(), test.checksum);
    const Report reply = Transact(meter, Request(SimMeter::kReadChecksum));
    EXPECT_EQ(reply[1] + (reply[2] << 8) + (reply[3] << 16), static_cast<int>(test.checksum));
  }
}

TEST(SimMeterFlash, APageMissingAChunkShowsInFlashAndChecksum) {
  SimMeter meter;
  Bytes image(SimMeter::kFlashSize, 0x00);
  // Page 0 without its third chunk: those 16 bytes stay erased.
  for (std::size_t position = 0; position < 256; position += 16) {
    if (position == 32) continue;
    Transact(meter, ChunkRequest(static_cast<std::uint8_t>(position), &image[position]));
  }
  Transact(meter, CommitRequest(0));
  EXPECT_EQ(meter.Flash()[31], 0x00);
  EXPECT_EQ(meter.Flash()[32], 0xFF);
  EXPECT_EQ(meter.Flash()[47], 0xFF);
  EXPECT_EQ(meter.Flash()[48], 0x00);
  // Page 0 contributes 16 x 0xFF, the 234 blank pages 234 x 256 x 0xFF.
  EXPECT_EQ(meter.Checksum(), 16u * 255u + 234u * 256u * 255u);
}

// --- state and defaults -------------------------------------------------------------

TEST(SimMeterState, AFreshMeterHoldsCompleteFirmwareAndAHealthyBattery) {
  SimMeter meter;
  EXPECT_EQ(meter.VersionText(), "D1.50");
  EXPECT_EQ(meter.FirmwareFlag(), 1);
  EXPECT_EQ(meter.BatteryCoefficient(), 1.0f);
  EXPECT_EQ(Bytes(meter.EepromBytes().begin() + 976, meter.EepromBytes().begin() + 980),
            (Bytes{0x00, 0x00, 0x80, 0x3F}));
  EXPECT_EQ(meter.BatteryRaw() * 1.0 / 16000, 3.0);
  EXPECT_THAT(meter.Flash(), testing::Each(kErased));
  EXPECT_THAT(meter.PageBuffer(), testing::Each(kErased));

  // Every option off: C2 and C4 are on at 0, C1 at 1, C3 at anything but 0.
  EXPECT_EQ(meter.Eeprom(856), 1);
  EXPECT_EQ(meter.Eeprom(947), 0);
  EXPECT_EQ(meter.Eeprom(957), 1);
  EXPECT_EQ(meter.Eeprom(1022), 0);

  // Elsewhere the pattern address mod 251, which differs between neighbours
  // and between addresses 256 apart.
  EXPECT_EQ(meter.Eeprom(0), 0);
  EXPECT_EQ(meter.Eeprom(250), 250);
  EXPECT_EQ(meter.Eeprom(251), 0);
  EXPECT_EQ(meter.Eeprom(958), 958 % 251);
  EXPECT_EQ(meter.Eeprom(2047), 2047 % 251);
}

TEST(SimMeterState, EverySelectorThePollReadsHasItsOwnByte) {
  struct Selector {
    std::uint8_t command;
    std::uint16_t selector;
  };
  const std::vector<Selector> polled = {
      {29, 0x0093}, {24, 0x0800}, {24, 0x0900}, {24, 0x0A00}, {24, 0x0B00}, {24, 0x0C00},
      {24, 0x0D00}, {24, 0x1000}, {24, 0x1200}, {24, 0x1300}, {24, 0x1400}, {24, 0x1500},
      {28, 0x0000}, {28, 0x0100}, {28, 0x0200}, {28, 0x0400}, {28, 0x0500}, {29, 0x01D0},
  };
  SimMeter meter;
  std::vector<std::uint8_t> bytes;
  for (const Selector& s : polled) {
    const Report reply = Transact(
        meter, Request(s.command, {static_cast<std::uint8_t>(s.selector >> 8), static_cast<std::uint8_t>(s.selector)}));
    EXPECT_EQ(reply[1], meter.Info(s.command, s.selector));
    EXPECT_NE(reply[1], SimMeter::kUnknownInfo) << int{s.command} << " " << s.selector;
    bytes.push_back(reply[1]);
  }
  std::sort(bytes.begin(), bytes.end());
  EXPECT_EQ(std::adjacent_find(bytes.begin(), bytes.end()), bytes.end()) << "no two selectors share a byte";

  meter.SetInfo(29, 0x0093, 2);
  EXPECT_EQ(Transact(meter, Request(29, {0x00, 0x93}))[1], 2);
}

TEST(SimMeterState, SettersWriteTheEepromEncodings) {
  SimMeter meter;
  meter.SetBatteryCoefficient(-1.0f);
  EXPECT_EQ(Bytes(meter.EepromBytes().begin() + 976, meter.EepromBytes().begin() + 980),
            (Bytes{0x00, 0x00, 0x80, 0xBF}));
  meter.SetEeprom(976, Bytes{0x00, 0x00, 0xC0, 0x3F});
  EXPECT_EQ(meter.BatteryCoefficient(), 1.5f);

  meter.SetVersionText("D1.4");
  EXPECT_EQ(meter.VersionText(), "D1.4\xFF");
  EXPECT_EQ(meter.Eeprom(836), 0xFF);

  meter.SetBatteryRaw(22400);
  EXPECT_EQ(Transact(meter, Request(SimMeter::kMeasure, {0x20, 0x01, 0x02}))[1], 0x57);
  EXPECT_EQ(Read(meter)[2], 0x80);

  EXPECT_THROW(meter.SetEeprom(2046, Bytes{1, 2, 3}), std::out_of_range);
}

// --- trace --------------------------------------------------------------------------

TEST(SimMeterTrace, RecordsEveryTransferInOrderWithItsBytes) {
  SimMeter meter;
  const Report write = WriteEepromRequest(1023, 0x88);
  const Report reply = Transact(meter, write);
  Transact(meter, ReadEepromRequest(1023));
  Read(meter);

  const auto& trace = meter.Trace();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(meter.TransferCount(), 5u);
  for (std::size_t i = 0; i < trace.size(); ++i) {
    EXPECT_EQ(trace[i].index, i);
    EXPECT_TRUE(trace[i].ok);
  }
  EXPECT_EQ(trace[0].direction, TransferDirection::kSetFeature);
  EXPECT_EQ(trace[0].bytes, Bytes(write.begin(), write.end()));
  EXPECT_EQ(trace[1].direction, TransferDirection::kGetFeature);
  EXPECT_EQ(trace[1].bytes, Bytes(reply.begin(), reply.end()));
  EXPECT_EQ(trace[4].direction, TransferDirection::kGetFeature);
  EXPECT_EQ(trace[4].bytes[1], 0x88);

  EXPECT_EQ(meter.CommandCodes(), (Bytes{20, 21}));
  EXPECT_EQ(meter.Requests(SimMeter::kReadEeprom), std::vector<Report>{ReadEepromRequest(1023)});

  meter.ClearTrace();
  Transact(meter, Request(SimMeter::kQuery30, {0x11, 0x18}));
  ASSERT_EQ(meter.Trace().size(), 2u);
  EXPECT_EQ(meter.Trace()[0].index, 5u) << "indexes carry on after a clear";
  EXPECT_EQ(meter.CommandCodes(), Bytes{30});

  meter.SetTracing(false);
  Transact(meter, Request(SimMeter::kQuery30, {0x11, 0x18}));
  EXPECT_EQ(meter.Trace().size(), 2u);
  EXPECT_EQ(meter.TransferCount(), 9u);
}

TEST(SimMeterTrace, EachTransferCarriesTheClockReadingOfItsMoment) {
  SimMeter meter;
  Transact(meter, ReadEepromRequest(832));
  EXPECT_EQ(meter.Trace().back().at, std::chrono::microseconds{0}) << "no clock: 0";

  std::chrono::microseconds now{1500};
  meter.SetClock([&now] { return now; });
  meter.Faults().FailNextReads(1);
  ASSERT_TRUE(meter.SetFeature(ReadEepromRequest(833)));
  now += std::chrono::milliseconds(10);
  Report buffer{};
  EXPECT_FALSE(meter.GetFeature(buffer));  // a failed transfer is stamped too
  now += std::chrono::microseconds(7);
  Read(meter);

  std::vector<std::chrono::microseconds> stamps;
  for (const auto& transfer : meter.Trace()) stamps.push_back(transfer.at);
  using std::chrono::microseconds;
  EXPECT_EQ(stamps, (std::vector<microseconds>{microseconds{0}, microseconds{0}, microseconds{1500},
                                               microseconds{11500}, microseconds{11507}}));
}

TEST(SimMeterTrace, AReportOfTheWrongSizeOrIdFailsAndChangesNothing) {
  struct Case {
    std::string name;
    std::size_t size;
    std::uint8_t reportId;
  };
  const std::vector<Case> cases = {
      {"empty", 0, 0}, {"18 bytes", 18, 0}, {"20 bytes", 20, 0}, {"65 bytes", 65, 0}, {"report ID 1", 19, 1},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    const Report previous = Transact(meter, ReadEepromRequest(832));

    // A write of 0x00 to 1023, padded or cut to the size.
    Bytes send(test.size, 0x00);
    if (!send.empty()) send[0] = test.reportId;
    if (send.size() > 18) send[18] = SimMeter::kWriteEeprom;
    if (send.size() > 2) {
      send[1] = 0x03;
      send[2] = 0xFF;
    }
    EXPECT_FALSE(meter.SetFeature(send));
    EXPECT_EQ(meter.FirmwareFlag(), 1);
    EXPECT_EQ(meter.Reply(), previous);

    Bytes receive(test.size, 0x5A);
    if (!receive.empty()) receive[0] = test.reportId;
    const Bytes untouched = receive;
    EXPECT_FALSE(meter.GetFeature(receive));
    EXPECT_EQ(receive, untouched);

    ASSERT_EQ(meter.Trace().size(), 4u);
    EXPECT_FALSE(meter.Trace()[2].ok);
    EXPECT_EQ(meter.Trace()[2].bytes, send);
    EXPECT_FALSE(meter.Trace()[3].ok);
    EXPECT_EQ(meter.Trace()[3].bytes, untouched);
    EXPECT_EQ(meter.CommandCodes(), Bytes{21});
  }
}

// --- faults -------------------------------------------------------------------------

TEST(SimMeterFaults, BusyRepliesComeFirstThenTheResult) {
  struct Case {
    std::string name;
    std::function<void(FaultPlan&)> plan;
    std::vector<std::uint8_t> statuses;  // of the first reads after a read of EEPROM 1023
  };
  const std::vector<Case> cases = {
      {"no fault", [](FaultPlan&) {}, {kDone, kDone, kDone}},
      {"the next command busy twice", [](FaultPlan& f) { f.Add({.which = Commands::Next(), .busyReads = 2}); },
       {kBusy, kBusy, kDone, kDone}},
      {"busy forever",
       [](FaultPlan& f) { f.Add({.which = Commands::Next(), .busyReads = CommandFault::kForever}); },
       {kBusy, kBusy, kBusy, kBusy, kBusy, kBusy}},
      {"the first read-EEPROM command busy once",
       [](FaultPlan& f) { f.Add({.which = Commands::IndexOf(SimMeter::kReadEeprom, 0), .busyReads = 1}); },
       {kBusy, kDone}},
      {"a rule for another code", [](FaultPlan& f) { f.Add({.which = Commands::AllOf(23), .busyReads = 3}); },
       {kDone, kDone}},
      {"two matching rules add up",
       [](FaultPlan& f) {
         f.Add({.which = Commands::Next(), .busyReads = 1});
         f.Add({.which = Commands::AllOf(SimMeter::kReadEeprom), .busyReads = 2});
       },
       {kBusy, kBusy, kBusy, kDone}},
      {"the next read busy, whatever the command", [](FaultPlan& f) { f.BusyNextReads(1); }, {kBusy, kDone}},
      {"command rule and pending reads queue up",
       [](FaultPlan& f) {
         f.BusyNextReads(1);
         f.Add({.which = Commands::Next(), .busyReads = 1});
       },
       {kBusy, kBusy, kDone}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    test.plan(meter.Faults());
    const Report request = ReadEepromRequest(1023);
    ASSERT_TRUE(meter.SetFeature(request));
    std::vector<std::uint8_t> statuses;
    for (std::size_t i = 0; i < test.statuses.size(); ++i) {
      const Report reply = Read(meter);
      statuses.push_back(reply[18]);
      if (reply[18] == kBusy) {
        Report expected = request;  // no result yet: the request shows through
        expected[18] = kBusy;
        EXPECT_EQ(reply, expected);
      } else {
        EXPECT_EQ(reply[1], 0x01);
      }
    }
    EXPECT_EQ(statuses, test.statuses);
  }
}

// Echo corruption doubles as the check of which commands a rule picks.
TEST(SimMeterFaults, CorruptEchoHitsTheCommandsTheRuleNames) {
  struct Case {
    std::string name;
    std::vector<std::uint8_t> before;  // commands sent before the rule is added
    Commands which;
    std::vector<std::uint8_t> after;   // commands sent after it
    std::vector<bool> corrupted;       // for each of `after`
  };
  const std::vector<Case> cases = {
      {"the next two", {}, Commands::Next(2), {20, 21, 20}, {true, true, false}},
      {"the next two, after traffic", {20, 21}, Commands::Next(2), {20, 21, 20}, {true, true, false}},
      {"the second write", {}, Commands::IndexOf(20, 1), {20, 21, 20, 20}, {false, false, true, false}},
      {"the second write, already past", {20, 20}, Commands::IndexOf(20, 1), {20, 20}, {false, false}},
      {"the third command, counted from the start", {20, 20}, Commands::Index(2), {21, 21}, {true, false}},
      {"from the second command on", {}, Commands::Index(1, Commands::kEvery), {20, 20, 21}, {false, true, true}},
      {"every chunk", {}, Commands::AllOf(23), {23, 20, 23}, {true, false, true}},
      {"the next read", {}, Commands::NextOf(21), {20, 21, 21}, {false, true, false}},
      {"the next read, after traffic", {21, 20}, Commands::NextOf(21), {20, 21, 21}, {false, true, false}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    std::uint8_t n = 0;
    // Distinct data in every request so that an echo from the wrong request shows.
    auto requestFor = [&](std::uint8_t code) {
      Report request = Request(code, {0x03, 0x84});
      for (std::size_t i = 3; i <= 17; ++i) request[i] = static_cast<std::uint8_t>(n * 17 + i);
      ++n;
      return request;
    };
    for (std::uint8_t code : test.before) Transact(meter, requestFor(code));
    meter.Faults().Add({.which = test.which, .corruptEcho = true});

    std::vector<bool> corrupted;
    for (std::uint8_t code : test.after) {
      const Report request = requestFor(code);
      const Report reply = Transact(meter, request);
      EXPECT_TRUE(std::equal(reply.begin() + 3, reply.begin() + 17, request.begin() + 3)) << "bytes 3-16 always echo";
      EXPECT_EQ(reply[18], kDone);
      corrupted.push_back(reply[17] != request[17]);
    }
    EXPECT_EQ(corrupted, test.corrupted);
  }
}

TEST(SimMeterFaults, CorruptEchoInvertsTheChosenBytesAndNoOther) {
  struct Case {
    std::string name;
    std::vector<std::size_t> echoBytes;  // one rule for the next command per entry
    std::vector<std::size_t> inverted;   // the reply bytes that differ from a clean reply
  };
  const std::vector<Case> cases = {
      {"byte 17 unless chosen", {}, {17}},
      {"byte 1", {1}, {1}},
      {"byte 2", {2}, {2}},
      {"byte 3, the first a host compares", {3}, {3}},
      {"byte 10", {10}, {10}},
      {"byte 17", {17}, {17}},
      {"two rules, two bytes", {3, 17}, {3, 17}},
      {"two rules, one byte: inverted once", {9, 9}, {9}},
  };
  for (const std::uint8_t code : {SimMeter::kWriteEeprom, SimMeter::kWriteChunk}) {
    for (const Case& test : cases) {
      SCOPED_TRACE(test.name + ", command " + std::to_string(code));
      Report request = Request(code, {0x03, 0x84});
      for (std::size_t i = 3; i <= 17; ++i) request[i] = static_cast<std::uint8_t>(0x40 + i);
      SimMeter clean;
      const Report expected = Transact(clean, request);

      SimMeter meter;
      if (test.echoBytes.empty()) {
        meter.Faults().Add({.which = Commands::Next(), .corruptEcho = true});
      }
      for (const std::size_t byte : test.echoBytes) {
        meter.Faults().Add({.which = Commands::Next(), .corruptEcho = true, .echoByte = byte});
      }
      const Report reply = Transact(meter, request);
      std::vector<std::size_t> inverted;
      for (std::size_t i = 0; i < reply.size(); ++i) {
        if (reply[i] == expected[i]) continue;
        inverted.push_back(i);
        EXPECT_EQ(reply[i], expected[i] ^ 0xFF) << "byte " << i;
      }
      EXPECT_EQ(inverted, test.inverted);
      EXPECT_EQ(Read(meter), reply) << "every read of the reply carries the corruption";
      EXPECT_EQ(Transact(meter, request), expected) << "the next command echoes cleanly";
    }
  }
}

TEST(SimMeterFaults, AnEchoByteOutsideTheRequestBytesIsRefused) {
  for (const std::size_t byte : {std::size_t{0}, std::size_t{18}, std::size_t{19}}) {
    FaultPlan plan;
    EXPECT_THROW(plan.Add({.which = Commands::Next(), .corruptEcho = true, .echoByte = byte}), std::out_of_range)
        << byte;
  }
}

TEST(SimMeterFaults, SumDeltaPutsTheChunkSumOffButWritesTheData) {
  // Four chunks at offsets 0x00, 0x10, 0x20, 0x30; the third one's sum is corrupted.
  struct Case {
    std::string name;
    int delta;
    std::uint8_t fill;
    unsigned reported;  // for the third chunk, whose true sum is 0x20 + 16 x fill
  };
  const std::vector<Case> cases = {
      {"one too many", 1, 0x01, 0x0031},
      {"one too few", -1, 0x01, 0x002F},
      {"low byte carries into the high byte", 1, 0x0F, 0x0111},
      {"high byte off", 0x100, 0x01, 0x0130},
      {"wraps past 0xFFFF", -0x21, 0x00, 0xFFFF},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    SimMeter meter;
    meter.Faults().Add({.which = Commands::IndexOf(SimMeter::kWriteChunk, 2), .sumDelta = test.delta});
    const Bytes data(16, test.fill);

    std::vector<unsigned> sums;
    for (const std::uint8_t offset : Bytes{0x00, 0x10, 0x20, 0x30}) {
      sums.push_back(Sum16(Transact(meter, ChunkRequest(offset, data.data()))));
    }
    const unsigned fills = 16u * test.fill;
    EXPECT_EQ(sums, (std::vector<unsigned>{fills, fills + 0x10, test.reported, fills + 0x30}));
    EXPECT_EQ(meter.PageBuffer()[0x20], test.fill) << "the corrupted chunk is still stored";
  }
}

TEST(SimMeterFaults, AWrongChecksumIsReportedOnlyForTheNamedRequest) {
  SimMeter meter;
  meter.Faults().Add({.which = Commands::NextOf(SimMeter::kReadChecksum), .checksum = 0x123456});

  const Report wrong = Transact(meter, Request(SimMeter::kReadChecksum));
  EXPECT_EQ((Bytes{wrong[1], wrong[2], wrong[3]}), (Bytes{0x56, 0x34, 0x12}));
  EXPECT_EQ(meter.Checksum(), 0xEA1500u) << "the flash is unchanged";

  const Report right = Transact(meter, Request(SimMeter::kReadChecksum));
  EXPECT_EQ((Bytes{right[1], right[2], right[3]}), (Bytes{0x00, 0x15, 0xEA}));
}

TEST(SimMeterFaults, AStaleReplyKeepsAnsweringThePreviousCommandWhileTheNewOneTakesEffect) {
  SimMeter meter;
  const Report previous = Transact(meter, ReadEepromRequest(832));
  meter.Faults().Add({.which = Commands::Next(), .staleReply = true});

  EXPECT_EQ(Transact(meter, WriteEepromRequest(900, 0x42)), previous);
  EXPECT_EQ(Read(meter), previous);
  EXPECT_EQ(meter.Eeprom(900), 0x42);

  EXPECT_EQ(Transact(meter, ReadEepromRequest(900))[1], 0x42) << "the next command answers normally";
}

TEST(SimMeterFaults, AStaleChunkReplyCarriesThePreviousSum) {
  SimMeter meter;
  std::uint8_t ones[16];
  std::fill(std::begin(ones), std::end(ones), std::uint8_t{1});
  EXPECT_EQ(Sum16(Transact(meter, ChunkRequest(0x00, ones))), 16u);
  meter.Faults().Add({.which = Commands::NextOf(SimMeter::kWriteChunk), .busyReads = 1, .staleReply = true});
  ASSERT_TRUE(meter.SetFeature(ChunkRequest(0x10, ones)));
  EXPECT_EQ(Read(meter)[18], kBusy);
  EXPECT_EQ(Sum16(Read(meter)), 16u) << "after the busy read, the stale reply";
  EXPECT_EQ(meter.PageBuffer()[0x10], 1) << "the chunk was still written";
}

TEST(SimMeterFaults, FailedTransfersAreTracedAndAFailedSendIsNotReceived) {
  SimMeter meter;
  meter.Faults().FailNextSends(1);
  meter.Faults().FailNextReads(2);
  meter.Faults().FailTransfer(6);
  // A rule for the next command must hit the command that arrives, not the lost one.
  meter.Faults().Add({.which = Commands::Next(), .corruptEcho = true});

  const Report write = WriteEepromRequest(900, 0x42);
  EXPECT_FALSE(meter.SetFeature(write));  // 0
  EXPECT_NE(meter.Eeprom(900), 0x42);
  EXPECT_TRUE(meter.SetFeature(write));   // 1
  EXPECT_EQ(meter.Eeprom(900), 0x42);

  Report buffer{};
  buffer[5] = 0x77;
  const Report untouched = buffer;
  EXPECT_FALSE(meter.GetFeature(buffer));  // 2
  EXPECT_FALSE(meter.GetFeature(buffer));  // 3
  EXPECT_EQ(buffer, untouched);
  EXPECT_TRUE(meter.GetFeature(buffer));   // 4
  EXPECT_NE(buffer[17], write[17]) << "the echo rule hit the command that arrived";
  EXPECT_TRUE(meter.GetFeature(buffer));   // 5
  EXPECT_FALSE(meter.GetFeature(buffer));  // 6
  EXPECT_TRUE(meter.GetFeature(buffer));   // 7

  std::vector<bool> ok;
  for (const auto& transfer : meter.Trace()) ok.push_back(transfer.ok);
  EXPECT_EQ(ok, (std::vector<bool>{false, true, false, false, true, true, false, true}));
  EXPECT_EQ(meter.CommandCodes(), Bytes{20});
}

TEST(SimMeterFaults, ClearForgetsRulesAndPendingFailures) {
  SimMeter meter;
  meter.Faults().Add({.which = Commands::AllOf(SimMeter::kReadEeprom), .busyReads = 5, .corruptEcho = true});
  meter.Faults().FailNextSends(3);
  meter.Faults().FailNextReads(3);
  meter.Faults().BusyNextReads(3);
  meter.Faults().Clear();

  const Report request = ReadEepromRequest(1023);
  Report expected = request;
  expected[1] = 0x01;
  expected[18] = kDone;
  EXPECT_EQ(Transact(meter, request), expected);
}

}  // namespace
}  // namespace lu14::sim
