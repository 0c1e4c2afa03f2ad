// The recording's lines as the writers spell them and the reader takes them:
// a whole recording read back, and the performance counter's readings that a
// recording made below the HID API adds.
#include "hid/record/Recording.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace lu14::record {
namespace {

std::optional<Recording> Read(const std::string& text, RecordingFault& fault) {
  std::istringstream in(text);
  return ReadRecording(in, fault);
}

RecordedTransfer Transfer(bool set, std::vector<std::uint8_t> bytes, bool result, std::int64_t microseconds,
                          std::optional<CounterSpan> counter) {
  RecordedTransfer transfer;
  transfer.set = set;
  transfer.bytes = std::move(bytes);
  transfer.result = result;
  transfer.path = u"\\\\?\\C:\\meter-1";
  transfer.microseconds = microseconds;
  transfer.counter = counter;
  return transfer;
}

TEST(Recording, WhatTheWritersWriteIsReadBackWhole) {
  RecordingHeader header{"1.1.0", "lu14-wine-floor.exe in.jsonl out.jsonl", "stand-in", 10'000'000};
  const RecordedTransfer set = Transfer(true, {0x00, 0x03, 0xFF, 0x15}, true, 1'250, CounterSpan{40, 12'540});
  const RecordedTransfer get = Transfer(false, {0x00, 0xA5}, false, 2'000, std::nullopt);
  const std::vector<HidInterface> present{{u"\\\\?\\C:\\meter-1", 0x1401}};
  const std::string text = HeaderLine(header) + "\n" + PresentLine(present, 7) + "\n" +
                           AttributesLine(present[0].path, HidAttributes{0xFF4D, 0xF538, 0x0150}) + "\n" +
                           CapsLine(present[0].path, HidCaps{19}) + "\n" + TransferLine(1, set) + "\n" +
                           TransferLine(2, get) + "\n";
  RecordingFault fault;
  const std::optional<Recording> recording = Read(text, fault);
  ASSERT_TRUE(recording) << "line " << fault.line << ", reason " << static_cast<int>(fault.reason) << " " << fault.field;
  EXPECT_EQ(recording->header.version, header.version);
  EXPECT_EQ(recording->header.commandLine, header.commandLine);
  EXPECT_EQ(recording->header.platform, header.platform);
  EXPECT_EQ(recording->header.counterFrequency, header.counterFrequency);
  ASSERT_EQ(recording->present.size(), 1u);
  EXPECT_EQ(recording->present[0].second, present);
  EXPECT_EQ(recording->attributes.at(present[0].path)->productId, 0xF538);
  EXPECT_EQ(recording->caps.at(present[0].path)->featureReportByteLength, 19);
  ASSERT_EQ(recording->transfers.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const RecordedTransfer& written = i == 0 ? set : get;
    const RecordedTransfer& read = recording->transfers[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(read.set, written.set);
    EXPECT_EQ(read.bytes, written.bytes);
    EXPECT_EQ(read.result, written.result);
    EXPECT_EQ(read.path, written.path);
    EXPECT_EQ(read.microseconds, written.microseconds);
    EXPECT_EQ(read.counter, written.counter);
  }

  // Without the counter, neither the header nor a transfer names it.
  header.counterFrequency.reset();
  EXPECT_EQ(HeaderLine(header).find("counter"), std::string::npos);
  EXPECT_EQ(TransferLine(2, get).find("counter"), std::string::npos);
  EXPECT_FALSE(Read(HeaderLine(header) + "\n", fault)->header.counterFrequency);
}

TEST(Recording, AFileThatIsNoRecordingIsRefusedWithAReasonAndWhatItNames) {
  const std::string header = R"({"lu14-recording":1,"version":"1.1.0","commandLine":"","platform":"stand-in"})";
  const std::string fields = R"("n":1,"dir":"get","bytes":"00 A5","result":true,"us":5,"path":"m")";
  struct Case {
    std::string text;
    RecordingFaultReason reason;
    std::size_t line;
    std::string field = "";
    int format = 0;
    std::size_t transfer = 0;
  };
  using R = RecordingFaultReason;
  const Case cases[] = {
      {"", R::Empty, 0},
      {R"({"lu14-recording":2})" "\n", R::OtherFormat, 1, "", 2},
      {header + "\n" + R"({"n":3,"dir":"get","bytes":"00","result":true,"us":5,"path":"m"})" "\n", R::OutOfOrder,
       2, "", 0, 3},
      {header + "\n{" + fields + R"(,"counterBegin":10})" "\n", R::FieldMissing, 2, "counterEnd"},
      {header + "\n{" + fields + R"(,"counterEnd":10})" "\n", R::FieldMissing, 2, "counterBegin"},
      {header + "\n{" + fields + R"(,"counterBegin":10,"counterEnd":"late"})" "\n", R::FieldWrongType, 2,
       "counterEnd"},
      {header + "\n{" + fields + R"(,"counterBegin":10,"counterEnd":9})" "\n", R::FieldWrongType, 2, "counterEnd"},
      {header.substr(0, header.size() - 1) + R"(,"counterFrequency":0})" "\n", R::FieldWrongType, 1,
       "counterFrequency"},
      {header.substr(0, header.size() - 1) + R"(,"counterFrequency":"fast"})" "\n", R::FieldWrongType, 1,
       "counterFrequency"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RecordingFault fault;
    EXPECT_FALSE(Read(c.text, fault));
    EXPECT_EQ(fault.reason, c.reason);
    EXPECT_EQ(fault.line, c.line);
    EXPECT_EQ(fault.field, c.field);
    EXPECT_EQ(fault.format, c.format);
    EXPECT_EQ(fault.transfer, c.transfer);
  }
}

}  // namespace
}  // namespace lu14::record
