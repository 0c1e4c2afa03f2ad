// lu14 --record and --replay: runs recorded against the simulated meter in
// virtual time, replayed from the recording, and recordings that are altered,
// cut short or not recordings at all.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/output/Messages.h"
#include "cli/output/RecordingTexts.h"
#include "cli/SimulatedMeter.h"
#include "hid/record/Recording.h"
#include "hid/record/RecordingHidPlatform.h"
#include "hid/record/ReplayHidPlatform.h"
#include "sim/SimFileSystem.h"
#include "sim/SimRuntime.h"

namespace lu14::cli {
namespace {

using record::ReadRecording;
using record::Recording;
using record::RecordingFault;
using record::RecordingHidPlatform;
using record::ReplayHidPlatform;

struct ToolRun {
  int exitCode = 0;
  std::string out;
  std::string err;
  std::string recording;  // what --record wrote
};

// A session over a platform in a fresh virtual-time runtime.
template <typename MakePlatform>
ToolRun RunSession(CliOptions options, MakePlatform makePlatform) {
  sim::SimFileSystem files(sim::Path("/home/u/Documents"));
  sim::SimRuntime::Setup setup;
  setup.files = &files;
  sim::SimRuntime runtime(setup);
  const auto clock = [&] { return std::chrono::duration_cast<std::chrono::microseconds>(runtime.Elapsed()); };
  std::ostringstream out, err;
  ToolRun run;
  run.exitCode = makePlatform(runtime, clock, [&](HidPlatform& platform, std::function<void()> step) {
    CliSession session(options, runtime, runtime, platform, out, err, false, std::move(step));
    session.SetClock(clock);
    return session.Run();
  }, run);
  run.out = out.str();
  run.err += err.str();
  return run;
}

CliOptions Parsed(const std::vector<std::string>& arguments) {
  const ParseResult parsed = ParseCommandLine(arguments);
  EXPECT_TRUE(parsed.options) << parsed.message;
  return parsed.options.value_or(CliOptions{});
}

// lu14 --simulate[=fault] --record ARGS, the recording kept in memory.
ToolRun Record(const std::vector<std::string>& arguments) {
  const CliOptions options = Parsed(arguments);
  return RunSession(options, [&](sim::SimRuntime& runtime, auto clock, auto session, ToolRun& run) {
    SimulatedMeter meter(runtime, options.simulatedFault, std::chrono::microseconds(0), options.simulatedMeters);
    std::ostringstream recording;
    RecordingHidPlatform recorder(meter.Platform(), recording,
                                  {ToolVersion(), CommandLineText(options.arguments), "simulated"}, clock);
    const int exitCode = session(recorder, [&] { meter.Step(); });
    run.recording = recording.str();
    return exitCode;
  });
}

// lu14 --replay ARGS against a recording's text, as lu14 does it: a file that
// is no recording is refused, a replay that leaves it ends in exit 1.
ToolRun Replay(const std::vector<std::string>& arguments, const std::string& text) {
  CliOptions options = Parsed(arguments);
  std::istringstream in(text);
  RecordingFault fault;
  std::optional<Recording> recording = ReadRecording(in, fault);
  if (!recording) return {1, "", RecordingFaultText(Language::English, "report.jsonl", fault), ""};
  options.simulate = recording->header.platform == "simulated";
  return RunSession(options, [&](sim::SimRuntime& runtime, auto, auto session, ToolRun& run) {
    ReplayHidPlatform replay(runtime, std::move(*recording));
    const int exitCode = session(replay, [] {});
    if (!replay.Divergence()) return exitCode;
    run.err = DivergenceText(Language::English, *replay.Divergence(), replay.Source(), ToolVersion()) + "\n";
    return 1;
  });
}

std::vector<nlohmann::json> Lines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

std::string Joined(const std::vector<nlohmann::json>& lines) {
  std::string text;
  for (const auto& line : lines) text += line.dump() + "\n";
  return text;
}

TEST(RecordReplay, TheRecordingHoldsTheHeaderTheDevicesAndEveryTransfer) {
  const ToolRun recorded = Record({"--simulate", "--record", "report.jsonl", "update", "--yes"});
  ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
  const auto lines = Lines(recorded.recording);
  ASSERT_GT(lines.size(), 4u);
  EXPECT_EQ(lines[0], (nlohmann::json{{"lu14-recording", 1},
                                      {"version", ToolVersion()},
                                      {"commandLine", "lu14 --simulate --record report.jsonl update --yes"},
                                      {"platform", "simulated"}}));
  std::size_t transfers = 0, present = 0, attributes = 0, caps = 0;
  std::int64_t lastTime = 0;
  for (const auto& line : lines) {
    if (line.contains("present")) ++present;
    if (line.contains("attributes")) {
      ++attributes;
      EXPECT_EQ(line["attributes"]["vendorId"], 0xFF4D);
    }
    if (line.contains("caps")) {
      ++caps;
      EXPECT_EQ(line["caps"]["featureReportByteLength"], 19);
    }
    if (!line.contains("dir")) continue;
    ++transfers;
    EXPECT_EQ(line["n"], transfers);
    EXPECT_EQ(line["bytes"].get<std::string>().size(), 19u * 3 - 1) << line;
    EXPECT_EQ(line["path"], "simulated-meter-1");
    EXPECT_TRUE(line["result"].is_boolean());
    // Virtual time: the clock moves with the run, never backwards.
    EXPECT_GE(line["us"].get<std::int64_t>(), lastTime);
    lastTime = line["us"].get<std::int64_t>();
  }
  EXPECT_GT(transfers, 0u);
  EXPECT_GT(lastTime, 0);
  // The devices are written once, not before every transfer.
  EXPECT_EQ(present, 1u);
  EXPECT_EQ(attributes, 1u);
  EXPECT_EQ(caps, 1u);
  // The same run records the same file: the time comes from the clock given.
  EXPECT_EQ(Record({"--simulate", "--record", "report.jsonl", "update", "--yes"}).recording, recorded.recording);
}

TEST(RecordReplay, AReplayGivesTheRecordedRunsOutputAndExitCode) {
  const std::vector<std::vector<std::string>> commands{
      {"status"},
      {"status", "--json"},
      {"list"},
      {"checksum"},
      {"--simulate=low-battery", "status"},
      {"update", "--yes"},
      {"update", "--yes", "--json"},
      {"--simulate=sum-mismatch", "update", "--yes"},
      {"--simulate=write-refused", "update", "--yes"},
      {"--simulate=wrong-checksum", "update", "--yes"},
      {"--simulate=unplug-during-update", "update", "--yes"},
      {"--simulate=no-meter", "--wait", "1", "status"},
  };
  for (const auto& command : commands) {
    std::vector<std::string> recordArguments{"--simulate", "--record", "r.jsonl"};
    std::vector<std::string> replayArguments{"--replay", "r.jsonl"};
    for (const std::string& word : command) {
      if (word.starts_with("--simulate")) {
        recordArguments[0] = word;
      } else {
        recordArguments.push_back(word);
        replayArguments.push_back(word);
      }
    }
    SCOPED_TRACE(CommandLineText(recordArguments));
    const ToolRun recorded = Record(recordArguments);
    const ToolRun replayed = Replay(replayArguments, recorded.recording);
    EXPECT_EQ(replayed.exitCode, recorded.exitCode) << replayed.err;
    EXPECT_EQ(replayed.out, recorded.out);
    EXPECT_EQ(replayed.err, recorded.err);
  }
}

TEST(RecordReplay, AFailedUpdateReplaysToTheSameFailure) {
  const ToolRun recorded = Record({"--simulate=sum-mismatch", "--record", "r.jsonl", "update", "--yes"});
  EXPECT_EQ(recorded.exitCode, 1);
  EXPECT_NE(recorded.err.find("the meter did not confirm the chunk at byte 15984"), std::string::npos);
  const ToolRun replayed = Replay({"--replay", "r.jsonl", "update", "--yes"}, recorded.recording);
  EXPECT_EQ(replayed.exitCode, 1);
  EXPECT_NE(replayed.err.find("the meter did not confirm the chunk at byte 15984"), std::string::npos)
      << replayed.err;
  EXPECT_EQ(replayed.err.find("replay left the recording"), std::string::npos);
}

TEST(RecordReplay, LeavingTheRecordingIsReportedWithTheTransferAndBothReports) {
  const ToolRun recorded = Record({"--simulate", "--record", "r.jsonl", "status"});
  auto lines = Lines(recorded.recording);
  const auto transfer = [&](int n) -> nlohmann::json& {
    for (auto& line : lines) {
      if (line.contains("n") && line["n"] == n) return line;
    }
    throw std::runtime_error("no transfer " + std::to_string(n));
  };
  const std::string asked = transfer(4)["bytes"];
  const std::string thirdByteAltered = asked.substr(0, 6) + "5A" + asked.substr(8);

  struct Case {
    const char* what;
    std::function<void()> alter;
    std::vector<std::string> expected;
  };
  const std::size_t total = static_cast<std::size_t>(std::count_if(
      lines.begin(), lines.end(), [](const nlohmann::json& line) { return line.contains("dir"); }));
  const Case cases[] = {
      {"a sent report altered",
       [&] { transfer(4)["bytes"] = thirdByteAltered; },
       {"transfer 4:", "recorded: set " + thirdByteAltered, "asked:    set " + asked}},
      {"a get where a set was asked",
       [&] { transfer(1)["dir"] = "get"; },
       {"transfer 1:", "recorded: get ", "asked:    set "}},
      {"another device",
       [&] { transfer(2)["path"] = "other-meter"; },
       {"transfer 2:", "on other-meter", "on simulated-meter-1"}},
      {"the recording ends early",
       [&] {
         while (lines.back().contains("dir") && lines.back()["n"] > 3) lines.pop_back();
       },
       {"transfer 4: the recording ends after 3 transfers", "asked:    set " + asked}},
      {"another version that diverges",
       [&] {
         lines[0]["version"] = "0.9.0";
         transfer(4)["bytes"] = thirdByteAltered;
       },
       {"transfer 4:", std::string("made by lu14 0.9.0, this is lu14 ") + ToolVersion()}},
  };
  ASSERT_GT(total, 4u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto original = lines;
    c.alter();
    const ToolRun replayed = Replay({"--replay", "r.jsonl", "status"}, Joined(lines));
    lines = original;
    EXPECT_EQ(replayed.exitCode, 1);
    for (const std::string& part : c.expected) EXPECT_NE(replayed.err.find(part), std::string::npos) << replayed.err;
  }
  // Another version whose transfers match is replayed, not refused.
  lines[0]["version"] = "0.9.0";
  const ToolRun older = Replay({"--replay", "r.jsonl", "status"}, Joined(lines));
  EXPECT_EQ(older.exitCode, 0) << older.err;
  EXPECT_EQ(older.out, recorded.out);
}

TEST(RecordReplay, AFileThatIsNoRecordingIsRefusedWithItsLine) {
  const ToolRun recorded = Record({"--simulate", "--record", "r.jsonl", "status"});
  const std::string header = recorded.recording.substr(0, recorded.recording.find('\n') + 1);
  const std::string transfer =
      R"({"n":1,"dir":"set","bytes":"00 03 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 15","result":true,"us":5,"path":"m"})";
  const std::pair<std::string, std::string> cases[] = {
      {"", "report.jsonl is not a recording lu14 can replay: the file is empty"},
      {"hello\n", "line 1: not a JSON line"},
      {"[1,2]\n", "line 1: not a JSON object"},
      {transfer + "\n", "line 1: the first line is not the header of an lu14 recording"},
      {R"({"lu14-recording":2,"version":"9","commandLine":"","platform":"linux"})" "\n",
       "line 1: a recording in format 2; this lu14 reads format 1"},
      {R"({"lu14-recording":1,"version":"1.1.0","platform":"linux"})" "\n", "line 1: the field \"commandLine\" is missing"},
      {header + transfer.substr(0, 40), "line 2: the file ends in the middle of this line (cut short)"},
      {header + transfer + "\n{\"n\":\n" + transfer + "\n", "line 3: not a JSON line"},
      {header + "{\"something\":1}\n", "line 2: a line of no known kind"},
      {header + R"({"n":1,"dir":"put","bytes":"00","result":true,"us":5,"path":"m"})" "\n",
       "line 2: the field \"dir\" has a wrong value"},
      {header + R"({"n":1,"dir":"set","bytes":"0G","result":true,"us":5,"path":"m"})" "\n",
       "line 2: the field \"bytes\" has a wrong value"},
      {header + R"({"n":1,"dir":"set","bytes":"00","result":"yes","us":5,"path":"m"})" "\n",
       "line 2: the field \"result\" has a wrong value"},
      {header + transfer + "\n" + transfer + "\n", "line 3: transfer 1 is out of order"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    const ToolRun replayed = Replay({"--replay", "report.jsonl", "status"}, text);
    EXPECT_EQ(replayed.exitCode, 1);
    EXPECT_NE(replayed.err.find(expected), std::string::npos) << replayed.err;
    EXPECT_TRUE(replayed.out.empty());
  }
  // The same faults in Russian.
  std::istringstream in("hello\n");
  RecordingFault fault;
  ASSERT_FALSE(ReadRecording(in, fault));
  EXPECT_EQ(RecordingFaultText(Language::Russian, "r.jsonl", fault),
            "r.jsonl - не запись, которую lu14 может воспроизвести: строка 1: строка не в формате JSON");
}

TEST(RecordReplay, TheCommandLineTakesRecordAndReplay) {
  const CliOptions both = Parsed({"--record", "out.jsonl", "status", "--replay=in.jsonl"});
  EXPECT_EQ(both.recordFile, "out.jsonl");
  EXPECT_EQ(both.replayFile, "in.jsonl");
  EXPECT_EQ(both.arguments, (std::vector<std::string>{"--record", "out.jsonl", "status", "--replay=in.jsonl"}));
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"status", "--record"}, "--record needs a value"},
      {{"--replay=", "status"}, "--replay needs a value"},
      {{"--simulate", "--replay", "r.jsonl", "status"}, "--replay and --simulate cannot go together"},
  };
  for (const auto& [arguments, expected] : refused) {
    const ParseResult parsed = ParseCommandLine(arguments);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, 2);
    EXPECT_NE(parsed.message.find(expected), std::string::npos) << parsed.message;
  }
}

}  // namespace
}  // namespace lu14::cli
