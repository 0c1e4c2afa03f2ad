// The console tool end to end against the simulated meter, in virtual time;
// and the real binary for what only a process shows (exit codes, help).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "app/cli/CliOptions.h"
#include "app/cli/CliSession.h"
#include "app/cli/DocumentsFolder.h"
#include "app/cli/JsonText.h"
#include "app/cli/SimulatedMeter.h"
#include "device/MeterMemory.h"
#include "sim/SimFileSystem.h"
#include "sim/SimRuntime.h"
#include "sim/meter/SimMeter.h"

namespace lu14::cli {
namespace {

struct Outcome {
  int exitCode;
  std::string out;
  std::string err;
};

// What a run may be given beyond its arguments.
struct Surroundings {
  // The user's Documents folder; nothing: the user has none.
  std::optional<sim::Path> documents = sim::Path("/home/u/Documents");
  // Stop signals arrived by the time the meter has committed this many pages.
  std::vector<std::size_t> stopsAtPage;
  // Treat the simulated meter as a real one (no --simulate allowance).
  bool asHardware = false;
  std::function<void(sim::SimMeter&)> prepare;
};

struct ToolRun : Outcome {
  std::uint8_t flagAfter = 0;
  std::vector<sim::Path> backups;
};

ToolRun RunTool(const std::vector<std::string>& arguments, const Surroundings& surroundings = {}) {
  const ParseResult parsed = ParseCommandLine(arguments);
  if (!parsed.options) return {{parsed.exitCode, parsed.exitCode == 0 ? parsed.message : "", parsed.message}};
  sim::SimFileSystem files(surroundings.documents);
  sim::SimRuntime::Setup setup;
  setup.files = &files;
  sim::SimRuntime runtime(setup);
  SimulatedMeter meter(runtime, parsed.options->simulatedFault, std::chrono::microseconds(0));
  if (surroundings.prepare) surroundings.prepare(meter.Meter());
  CliOptions options = *parsed.options;
  if (surroundings.asHardware) options.simulate = false;
  std::ostringstream out, err;
  CliSession session(options, runtime, runtime, meter.Platform(), out, err, false, [&] { meter.Step(); });
  session.SetStopRequests([&] {
    const std::size_t pages = meter.Meter().Commits().size();
    return static_cast<int>(std::count_if(surroundings.stopsAtPage.begin(), surroundings.stopsAtPage.end(),
                                          [&](std::size_t at) { return pages >= at; }));
  });
  ToolRun run;
  run.exitCode = session.Run();
  run.out = out.str();
  run.err = err.str();
  run.flagAfter = meter.Meter().FirmwareFlag();
  if (surroundings.documents) run.backups = files.FilesIn(*surroundings.documents / "lu14");
  return run;
}

TEST(LuTool, StatusAsTextAndAsJson) {
  const Outcome text = RunTool({"--simulate", "status"});
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("firmware   D1.50 (complete)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("battery    3.000 V\n"), std::string::npos);
  EXPECT_NE(text.out.find("option     capacitance off"), std::string::npos);

  const Outcome json = RunTool({"--simulate=low-battery", "status", "--json"});
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_NE(json.out.find("\"battery\":{\"volts\":1.2,\"low\":true}"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"firmware\":{\"version\":\"D1.50\",\"complete\":true,\"flag\":1}"), std::string::npos);
  EXPECT_EQ(json.out.front(), '{');
  EXPECT_EQ(json.out.back(), '\n');

  const Outcome incomplete = RunTool({"--simulate=incomplete-firmware", "status"});
  EXPECT_NE(incomplete.out.find("(incomplete: run lu14 update)"), std::string::npos);
}

TEST(LuTool, ACleanUpdateExitsZeroAndEveryFaultExitsWithItsReason) {
  const Outcome clean = RunTool({"--simulate", "update"});
  EXPECT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_NE(clean.out.find("firmware D1.50 written and verified"), std::string::npos);
  EXPECT_NE(clean.out.find("settings saved to "), std::string::npos);
  EXPECT_NE(clean.out.find("progress 235/235"), std::string::npos);

  const std::pair<std::string, std::string> faults[] = {
      {"sum-mismatch", "the meter did not confirm the chunk at byte 15984"},
      {"unplug-during-update", "the meter was disconnected after"},
      {"wrong-checksum",
       "the meter's checksum does not match the firmware; the meter asks for an update until one completes"},
      {"write-refused", "cancelled before any firmware was written"},
  };
  for (const auto& [fault, reason] : faults) {
    const Outcome failed = RunTool({"--simulate=" + fault, "update"});
    EXPECT_EQ(failed.exitCode, kExitFailed) << fault;
    EXPECT_NE(failed.err.find("update failed: " + reason), std::string::npos) << fault << ": " << failed.err;
    EXPECT_EQ(failed.out.find("written and verified"), std::string::npos) << fault;
  }
  EXPECT_EQ(RunTool({"--simulate=no-meter", "--wait", "1", "update"}).exitCode, kExitNoMeter);
}

TEST(LuTool, AnUpdateIsRefusedWhenItCouldHarmTheMeterOrLoseItsSettings) {
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    Surroundings surroundings;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {"low battery", {"--simulate=low-battery", "update"}, {}, kExitRefused, "the meter's battery is low (1.20 V)"},
      {"low battery, overridden", {"--simulate=low-battery", "update", "--ignore-battery"}, {}, kExitOk, ""},
      {"no Documents folder", {"--simulate", "update"}, {.documents = std::nullopt}, kExitRefused,
       "the settings backup cannot be saved (no Documents folder is known)"},
      {"no Documents folder, overridden", {"--simulate", "update", "--no-backup"}, {.documents = std::nullopt},
       kExitOk, ""},
      {"the placeholder image on a real meter", {"update"}, {.asHardware = true}, kExitRefused,
       "this build carries the placeholder image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolRun run = RunTool(c.arguments, c.surroundings);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    if (c.exitCode == kExitRefused) {
      // Refused before the meter was touched: no mark, no chunk.
      EXPECT_EQ(run.flagAfter, 1);
      EXPECT_EQ(run.out.find("progress"), std::string::npos);
    }
  }
}

TEST(LuTool, StopSignalsNeverCutAChunk) {
  // One signal warns and the update goes on to the end.
  const ToolRun warned = RunTool({"--simulate", "update"}, {.stopsAtPage = {10}});
  EXPECT_EQ(warned.exitCode, kExitOk) << warned.err;
  EXPECT_NE(warned.err.find("Press Ctrl-C again to stop it after the current chunk"), std::string::npos);
  EXPECT_EQ(warned.flagAfter, 1);

  // A second stops between two chunks: the meter stays marked incomplete and
  // the user is told where the settings are and what to run.
  const ToolRun stopped = RunTool({"--simulate", "update"}, {.stopsAtPage = {10, 20}});
  EXPECT_EQ(stopped.exitCode, kExitInterrupted);
  EXPECT_EQ(stopped.flagAfter, kFirmwareUpdating);
  EXPECT_NE(stopped.err.find("interrupted after 5120 of 60160 bytes"), std::string::npos) << stopped.err;
  EXPECT_NE(stopped.err.find("update failed: interrupted after "), std::string::npos) << stopped.err;
  EXPECT_NE(stopped.err.find("run lu14 update again"), std::string::npos);
  ASSERT_EQ(stopped.backups.size(), 1u);
  EXPECT_NE(stopped.out.find("settings saved to " + stopped.backups[0].string()), std::string::npos);

  // Waiting for a meter, a signal ends the run at once.
  const ToolRun waiting = RunTool({"--simulate=no-meter", "status"}, {.stopsAtPage = {0}});
  EXPECT_EQ(waiting.exitCode, kExitInterrupted);
}

TEST(LuTool, MeterBytesNeverReachTheTerminalRaw) {
  const auto prepare = [](sim::SimMeter& meter) {
    meter.SetEeprom(kEepromVersionText, std::array<std::uint8_t, 5>{0x1B, '[', '2', 'J', 0x9B});
  };
  const ToolRun text = RunTool({"--simulate", "status"}, {.prepare = prepare});
  EXPECT_NE(text.out.find("firmware   \\x1B[2J\\x9B"), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find('\x1B'), std::string::npos);
  const ToolRun json = RunTool({"--simulate", "status", "--json"}, {.prepare = prepare});
  EXPECT_NE(json.out.find("\"version\":\"\\u001b[2J\\u009b\""), std::string::npos) << json.out;
}

TEST(LuTool, OptionsAndChecksum) {
  const Outcome on = RunTool({"--simulate", "option", "capacitance", "on"});
  EXPECT_EQ(on.exitCode, 0) << on.err;
  EXPECT_EQ(on.out, "capacitance on\n");
  EXPECT_EQ(RunTool({"--simulate", "option", "menu-swap", "off"}).out, "menu-swap off\n");
  // The simulated meter stores the byte but never reports the write done: the
  // retries show, and a write the meter did not confirm is a failure even
  // though the byte reads back as asked.
  for (const char* option : {"capacitance", "menu-swap"}) {
    const Outcome unconfirmed = RunTool({"--simulate=write-refused", "option", option, "on"});
    EXPECT_EQ(unconfirmed.exitCode, kExitFailed) << option;
    EXPECT_EQ(unconfirmed.out, "") << option;
    EXPECT_NE(unconfirmed.err.find("command 20: the meter stayed busy"), std::string::npos) << unconfirmed.err;
    EXPECT_NE(unconfirmed.err.find("the write was not confirmed"), std::string::npos) << unconfirmed.err;
  }

  const Outcome checksum = RunTool({"--simulate", "checksum"});
  EXPECT_EQ(checksum.exitCode, 0);
  EXPECT_NE(checksum.out.find("(0x"), std::string::npos) << checksum.out;
}

TEST(LuTool, CommandLineErrorsAndHelp) {
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--help"}, 0},
      {{"update", "--help"}, 0},
      {{}, 2},
      {{"flash"}, 2},
      {{"option", "capacitance"}, 2},
      {{"option", "auto-save", "on"}, 2},
      {{"--simulate=melted", "status"}, 2},
      {{"update", "--json"}, 2},
  };
  for (const auto& [arguments, exitCode] : cases) {
    const ParseResult parsed = ParseCommandLine(arguments);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, exitCode);
    EXPECT_NE(parsed.message.find("usage: lu14"), std::string::npos);
  }
}

TEST(DocumentsFolder, FromTheEnvironmentTheUserDirsFileOrTheHome) {
  EXPECT_EQ(DocumentsFolder("/home/u", "/data/Документы", ""), std::filesystem::path("/data/Документы"));
  EXPECT_EQ(DocumentsFolder("/home/u", "", "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n"),
            std::filesystem::path("/home/u/Документы"));
  EXPECT_EQ(DocumentsFolder("/home/u", "", "XDG_DOCUMENTS_DIR=\"$HOME\"\n"), std::filesystem::path("/home/u/Documents"));
  EXPECT_EQ(DocumentsFolder("/home/u", "", ""), std::filesystem::path("/home/u/Documents"));
  EXPECT_EQ(DocumentsFolder("", "", ""), std::nullopt);
}

TEST(JsonText, StringsAndNumbers) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01Ж"), "\"a\\\"b\\\\c\\u000a\\u0001Ж\"");
  EXPECT_EQ(JsonNumber(3.0), "3");
  EXPECT_EQ(JsonNumber(1.4), "1.4");
}

// The binary itself: what only a process shows.
TEST(LuBinary, ExitCodesOfAProcess) {
  const std::pair<std::string, int> cases[] = {
      {" --help >/dev/null", 0},
      {" nonsense 2>/dev/null", 2},
      {" --simulate=no-meter --wait 0 status 2>/dev/null", 3},
  };
  for (const auto& [arguments, exitCode] : cases) {
    const int status = std::system((std::string(LU14_BINARY) + arguments).c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), exitCode) << arguments;
  }
}

}  // namespace
}  // namespace lu14::cli
