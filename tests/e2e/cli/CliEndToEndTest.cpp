// The real lu14.exe under Wine against the stand-in meters: what it writes to
// its standard streams, how it exits, and what the meter and the Documents
// folder hold afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hid/record/Recording.h"
#include "tests/e2e/EndToEndSupport.h"
#include "tests/e2e/cli/CliChecks.h"
#include "tests/e2e/cli/ConsoleRun.h"
#include "tests/win32/ProgramCopy.h"

namespace lu14::e2e {
namespace {

using nlohmann::json;
using win32::Utf8;
using win32::Wide;

constexpr std::size_t kVersionAddress = 832;
constexpr std::size_t kAfterUpdateAddress = 958;
constexpr std::size_t kFlagAddress = 1023;
constexpr int kFlagUpdating = 0x88;

// --- reading meters ----------------------------------------------------------------------

TEST(LuExe, ListShowsEveryAttachedMeterWithItsFirmware) {
  ConsoleRun run(L"list", {"plug 1", "plug 2", "version 2 D1.42", "eeprom 2 1023 136"}, {"list", "--json"});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Describe(outcome);
  const std::vector<json> lines = JsonLines(outcome.out);
  ASSERT_EQ(lines.size(), 1u) << Describe(outcome);
  const json& meters = lines[0].at("meters");
  ASSERT_EQ(meters.size(), 2u) << Describe(outcome);
  EXPECT_EQ(meters[0]["firmware"], (json{{"version", "D1.50"}, {"complete", true}}));
  EXPECT_EQ(meters[1]["firmware"], (json{{"version", "D1.42"}, {"complete", false}}));
  EXPECT_NE(meters[0]["id"], meters[1]["id"]);
}

TEST(LuExe, StatusJsonGivesTheMetersFirmwareAndOptions) {
  ExitDump dump(L"status");
  ConsoleRun run(L"status", {"plug 1", "version 1 D1.42", "eeprom 1 856 0", "eeprom 1 1022 1", dump.Command()},
                 {"status", "--json"});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Describe(outcome);
  const std::vector<json> lines = JsonLines(outcome.out);
  ASSERT_EQ(lines.size(), 1u) << Describe(outcome);
  const json& status = lines[0];
  EXPECT_EQ(status["firmware"], (json{{"version", "D1.42"}, {"complete", true}, {"flag", 1}}));
  EXPECT_EQ(status["options"],
            (json{{"auto-save", false}, {"capacitance", true}, {"menu-swap", true}, {"modified-meter", false}}));
  EXPECT_FALSE(status["identity"].get<std::string>().empty());
  EXPECT_FALSE(status["battery"]["low"].get<bool>());
  const std::optional<MeterDump> meter = dump.Read();
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->Received(kWriteEeprom), 0u);  // reading writes nothing
  EXPECT_EQ(meter->setsOpen, 0);
  EXPECT_EQ(meter->preparsedLive, 0);
}

TEST(LuExe, LibrariesBesideTheProgramAreNeverLoaded) {
  // The planted library leaves a mark beside itself when it is loaded; the
  // meter is found only through the stand-ins in the system folder.
  const std::filesystem::path planted = win32::TestsFolder() / L"lu14-planted-library.dll";
  ConsoleRun run(L"planted", {"plug 1"}, {"list", "--json"},
                 {.besideTheProgram = {{L"hid.dll", planted}, {L"setupapi.dll", planted}}});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Describe(outcome);
  const std::vector<json> lines = JsonLines(outcome.out);
  ASSERT_EQ(lines.size(), 1u) << Describe(outcome);
  EXPECT_EQ(lines[0]["meters"].size(), 1u) << Describe(outcome);
  EXPECT_FALSE(std::filesystem::exists(run.Folder() / L"hid.dll.loaded"));
  EXPECT_FALSE(std::filesystem::exists(run.Folder() / L"setupapi.dll.loaded"));
}

// --- recording ---------------------------------------------------------------------------

std::optional<record::Recording> ReadRecordingFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  record::RecordingFault fault;
  std::optional<record::Recording> recording = record::ReadRecording(in, fault);
  if (!recording) {
    ADD_FAILURE() << Utf8(file.wstring()) << " is no recording: line " << fault.line << ", reason "
                  << static_cast<int>(fault.reason) << " " << fault.field;
  }
  return recording;
}

// lu14.exe --record and the stand-in hid.dll below it record the same run in
// one format: the same transfers, one for one; the stand-in's also carry its
// performance counter's readings, which lu14 above the HID API has not.
TEST(LuExe, ItsRecordingAndTheStandInsOfTheSameRunHoldTheSameTransfers) {
  const std::filesystem::path own = TempPath(L"lu14-recording.jsonl");
  const std::filesystem::path standIn = TempPath(L"stand-in-recording.jsonl");
  std::filesystem::remove(own);
  std::filesystem::remove(standIn);
  ConsoleRun run(L"recordings", {"record-transfers", "plug 1", "write-transfers-at-exit " + Utf8(standIn.wstring())},
                 {"--record", Utf8(own.wstring()), "status"});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Describe(outcome);
  const std::optional<record::Recording> lu14 = ReadRecordingFile(own);
  const std::optional<record::Recording> below = ReadRecordingFile(standIn);
  ASSERT_TRUE(lu14 && below);
  EXPECT_EQ(lu14->header.platform, "windows");
  EXPECT_EQ(below->header.platform, "stand-in");
  EXPECT_FALSE(lu14->header.counterFrequency);
  EXPECT_GT(below->header.counterFrequency.value_or(0), 0);
  ASSERT_FALSE(lu14->transfers.empty());
  ASSERT_EQ(below->transfers.size(), lu14->transfers.size());
  std::int64_t lastMicroseconds = 0;
  for (std::size_t i = 0; i < lu14->transfers.size(); ++i) {
    const record::RecordedTransfer& above = lu14->transfers[i];
    const record::RecordedTransfer& seen = below->transfers[i];
    SCOPED_TRACE("transfer " + std::to_string(i + 1));
    EXPECT_EQ(seen.set, above.set);
    EXPECT_EQ(seen.bytes, above.bytes);
    EXPECT_EQ(seen.result, above.result);
    EXPECT_EQ(seen.path, above.path);
    EXPECT_FALSE(above.counter);
    ASSERT_TRUE(seen.counter);
    EXPECT_GE(seen.microseconds, lastMicroseconds);
    lastMicroseconds = seen.microseconds;
  }
  std::filesystem::remove(own);
  std::filesystem::remove(standIn);
}

// --- options -----------------------------------------------------------------------------

struct OptionCase {
  const char* name;
  const char* value;
  std::vector<std::string> start;  // the meter's bytes before
  std::size_t address;
  int written;
};

class OptionCommand : public testing::TestWithParam<OptionCase> {};

TEST_P(OptionCommand, WritesTheMetersByteAndReadsItBack) {
  const OptionCase& option = GetParam();
  ExitDump dump(L"option");
  std::vector<std::string> meters{"plug 1", dump.Command()};
  meters.insert(meters.end(), option.start.begin(), option.start.end());
  ConsoleRun run(L"option", meters, {"option", option.name, option.value, "--json"});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Describe(outcome);
  const std::vector<json> lines = JsonLines(outcome.out);
  ASSERT_EQ(lines.size(), 1u) << Describe(outcome);
  const bool on = std::string(option.value) == "on";
  EXPECT_EQ(lines[0], (json{{"option", option.name}, {"requested", on}, {"value", on}, {"confirmed", true},
                            {"ok", true}}));
  const std::optional<MeterDump> meter = dump.Read();
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->eeprom.at(option.address), option.written);
  EXPECT_EQ(meter->Received(kWriteEeprom), 1u);
}

INSTANTIATE_TEST_SUITE_P(LuExe, OptionCommand,
                         testing::Values(OptionCase{"menu-swap", "on", {}, 1022, 1},
                                         OptionCase{"capacitance", "on", {}, 856, 0},
                                         OptionCase{"capacitance", "off", {"eeprom 1 856 0"}, 856, 1}));

// --- the update --------------------------------------------------------------------------

TEST(LuExe, AWholeUpdateWritesTheImageAndKeepsABackupOfTheSettings) {
  ExitDump dump(L"update");
  BackupWatch backups;
  std::vector<std::string> meters{"plug 1", "version 1 D1.42", "eeprom 1 958 7", "latency 50", dump.Command()};
  for (const std::string& command : IdentityCommands(1)) meters.push_back(command);
  const std::string dateAtStart = LocalDate();
  ConsoleRun run(L"update", meters, {"update", "--yes", "--json"});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  const std::string dateAtEnd = LocalDate();
  ASSERT_EQ(outcome.exitCode, kExitOk) << Describe(outcome);

  const std::vector<json> lines = JsonLines(outcome.out);
  ASSERT_FALSE(lines.empty());
  const json& result = lines.back();
  EXPECT_EQ(result["result"], "completed") << result.dump();
  EXPECT_EQ(result["bytes-confirmed"], kStreamed);

  const std::optional<MeterDump> meter = dump.Read();
  ASSERT_TRUE(meter);
  EXPECT_TRUE(meter->flash == StreamedImage()) << "the meter's flash differs from the carried image";
  EXPECT_EQ(meter->flag, kFlagComplete);
  EXPECT_EQ(meter->version, "D1.50");
  EXPECT_EQ(meter->commits.size(), static_cast<std::size_t>(kPages));
  EXPECT_EQ(meter->refusedCommits, 0u);
  EXPECT_EQ(meter->Received(kWriteChunk), kChunks);
  EXPECT_EQ(meter->Received(kReadChecksum), 1u);
  EXPECT_EQ(meter->refusedCalls, 0);

  // The backup holds the EEPROM from before: the version, byte 958 and the
  // flag as they were, everything else as it still is.
  const std::vector<std::filesystem::path> written = backups.Written();
  ASSERT_EQ(written.size(), 1u) << Describe(outcome);
  EXPECT_EQ(result["backup"], Utf8(written.front().wstring()));
  std::vector<std::uint8_t> before = meter->eeprom;
  const std::string oldVersion = "D1.42";
  std::copy(oldVersion.begin(), oldVersion.end(), before.begin() + kVersionAddress);
  before.at(kAfterUpdateAddress) = 7;
  before.at(kFlagAddress) = kFlagComplete;
  EXPECT_TRUE(IsBackup(written.front(), kIdentityText + oldVersion, {dateAtStart, dateAtEnd}, before));
}

TEST(LuExe, AMeterPulledOutDuringTheUpdateEndsItAsDisconnectedAndTheBackupStays) {
  ExitDump dump(L"unplug");
  BackupWatch backups;
  ConsoleRun run(L"unplug", {"plug 1", "version 1 D1.42", "latency 50", dump.Command()}, {"update", "--yes"});
  ASSERT_TRUE(run.Started());
  // Well into the stream, then pulled out between two of lu14's messages.
  ASSERT_TRUE(Eventually([&] {
    const std::optional<MeterDump> now = run.Meters().Dump(1);
    return now && now->Received(kWriteChunk) >= 100;
  })) << run.ErrorSoFar();
  ASSERT_TRUE(run.Meters().Send("queued unplug 1"));
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitFailed) << Describe(outcome);
  EXPECT_NE(outcome.err.find("lu14: error: update failed: the meter was disconnected after "), std::string::npos)
      << Describe(outcome);
  EXPECT_NE(outcome.out.find("settings saved to "), std::string::npos) << Describe(outcome);
  EXPECT_EQ(backups.Written().size(), 1u);

  const std::optional<MeterDump> meter = dump.Read();
  ASSERT_TRUE(meter);
  EXPECT_FALSE(meter->present);
  EXPECT_EQ(meter->flag, kFlagUpdating);
  EXPECT_LT(meter->Received(kWriteChunk), kChunks);
  EXPECT_EQ(meter->Received(kReadChecksum), 0u);
}

// update --all: each meter on a thread of its own, through the same HID
// libraries at once; the one pulled out stops alone, the other is finished.
TEST(LuExe, UpdateAllWritesEveryMeterAtOnceAndAPulledOneStopsAlone) {
  ExitDump dump(L"all");
  BackupWatch backups;
  // Meter 2 is pulled out in its stream: an update makes 14152 transfers,
  // about 4800 of them for the backup, and the two meters take turns.
  ConsoleRun run(L"all",
                 {"plug 1", "plug 2", "version 1 D1.42", "version 2 D1.41", "latency 50",
                  "unplug-at-transfer 24000 2", dump.Command()},
                 {"update", "--all", "--yes", "--json"});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitFailed) << Describe(outcome);

  // How each meter's update ended, by the version its backup was named after.
  std::map<std::string, std::string> results;
  for (const json& line : JsonLines(outcome.out)) {
    if (line.value("event", "") != "result") continue;
    const std::string backup = line["backup"].is_string() ? line["backup"].get<std::string>() : "";
    for (const std::string version : {"D1.42", "D1.41"}) {
      if (backup.find(version + "_") != std::string::npos) results[version] = line["result"];
    }
  }
  ASSERT_EQ(results.size(), 2u) << Describe(outcome);
  EXPECT_EQ(results["D1.42"], "completed") << Describe(outcome);
  // Pulled out as a transfer starts: that transfer fails, or the meter is
  // found gone between two; either way it stops, alone.
  EXPECT_TRUE(results["D1.41"] == "disconnected" || results["D1.41"] == "stopped") << Describe(outcome);
  EXPECT_EQ(backups.Written().size(), 2u) << Describe(outcome);

  const std::optional<MeterDump> meter = dump.Read();
  ASSERT_TRUE(meter);
  EXPECT_TRUE(meter->flash == StreamedImage()) << "the meter's flash differs from the carried image";
  EXPECT_EQ(meter->flag, kFlagComplete);
  EXPECT_EQ(meter->version, "D1.50");
}

TEST(LuExe, WithoutAMeterItSaysSoAndExitsWithThree) {
  ConsoleRun run(L"no-meter", {}, {"status", "--wait", "1", "--json"});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitNoMeter) << Describe(outcome);
  EXPECT_NE(outcome.err.find("lu14: error: no meter found within 1 s"), std::string::npos) << Describe(outcome);
  const std::vector<json> lines = JsonLines(outcome.out);
  ASSERT_EQ(lines.size(), 1u) << Describe(outcome);
  EXPECT_EQ(lines[0]["error"], "no-meter");
  EXPECT_EQ(lines[0]["exit"], 3);
}

TEST(LuExe, ThePlaceholderImageReachesNoMeterWithoutTheVariable) {
  ExitDump dump(L"placeholder");
  BackupWatch backups;
  ConsoleRun run(L"placeholder", {"plug 1", "version 1 D1.42", dump.Command()}, {"update", "--yes"},
                 {.environment = {{L"LU14_ALLOW_PLACEHOLDER_FIRMWARE", std::nullopt}}});
  ASSERT_TRUE(run.Started());
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitRefused) << Describe(outcome);
  EXPECT_NE(outcome.err.find("lu14: error: update refused: this build carries the placeholder image"),
            std::string::npos)
      << Describe(outcome);
  EXPECT_NE(outcome.err.find("LU14_ALLOW_PLACEHOLDER_FIRMWARE=1"), std::string::npos) << Describe(outcome);
  EXPECT_TRUE(backups.Written().empty());
  const std::optional<MeterDump> meter = dump.Read();
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->Received(kWriteEeprom), 0u);
  EXPECT_EQ(meter->Received(kWriteChunk), 0u);
  EXPECT_EQ(meter->flag, kFlagComplete);
  EXPECT_EQ(meter->version, "D1.42");
}

struct StopEvent {
  const char* name;
  DWORD event;
};

class StopRequests : public testing::TestWithParam<StopEvent> {};

TEST_P(StopRequests, TheFirstWarnsAndTheSecondStopsTheUpdateBetweenTwoChunks) {
  ASSERT_TRUE(GiveThisProcessAConsole());
  const DWORD event = GetParam().event;
  ExitDump dump(L"stop");
  // Its own process group: the events reach lu14.exe and not this test.
  ConsoleRun run(Wide(std::string("stop-") + GetParam().name),
                 {"plug 1", "version 1 D1.42", "latency 50", dump.Command()}, {"update", "--yes"},
                 {.newProcessGroup = true});
  ASSERT_TRUE(run.Started());
  const auto chunksPast = [&](std::size_t chunks) {
    return Eventually([&] {
      const std::optional<MeterDump> now = run.Meters().Dump(1);
      return now && now->Received(kWriteChunk) >= chunks;
    });
  };
  ASSERT_TRUE(chunksPast(100)) << run.ErrorSoFar();
  if (!GenerateConsoleCtrlEvent(event, run.ProcessId())) {
    // Wine 8 sends Ctrl-C to a process group but refuses Ctrl-Break
    // (ERROR_INVALID_HANDLE); Windows sends both.
    GTEST_SKIP() << "this system does not send " << GetParam().name << " to a process group (error "
                 << GetLastError() << ")";
  }
  ASSERT_TRUE(Eventually([&] { return run.ErrorSoFar().find("stopping now would leave the meter") != std::string::npos; }))
      << run.ErrorSoFar();
  // The update goes on after the warning.
  const std::optional<MeterDump> warned = run.Meters().Dump(1);
  ASSERT_TRUE(warned);
  ASSERT_TRUE(chunksPast(warned->Received(kWriteChunk) + 100)) << run.ErrorSoFar();
  ASSERT_TRUE(GenerateConsoleCtrlEvent(event, run.ProcessId())) << GetLastError();
  const ConsoleOutcome outcome = run.Finish();
  ASSERT_EQ(outcome.exitCode, kExitInterrupted) << Describe(outcome);
  EXPECT_NE(outcome.err.find("lu14: error: update failed: interrupted after "), std::string::npos) << Describe(outcome);
  const std::optional<MeterDump> meter = dump.Read();
  ASSERT_TRUE(meter);
  EXPECT_EQ(meter->flag, kFlagUpdating);
  EXPECT_LT(meter->Received(kWriteChunk), kChunks);
  EXPECT_EQ(meter->refusedCommits, 0u);
  EXPECT_EQ(meter->Received(kReadChecksum), 0u);
}

INSTANTIATE_TEST_SUITE_P(LuExe, StopRequests,
                         testing::Values(StopEvent{"CtrlC", CTRL_C_EVENT}, StopEvent{"CtrlBreak", CTRL_BREAK_EVENT}),
                         [](const testing::TestParamInfo<StopEvent>& param) { return param.param.name; });

}  // namespace
}  // namespace lu14::e2e
