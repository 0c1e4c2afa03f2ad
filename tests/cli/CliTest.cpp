// The console tool end to end against the simulated meter, in virtual time;
// and the real binary for what only a process shows (exit codes, help).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/commands/Command.h"
#include "cli/output/ConsoleProgress.h"
#include "cli/output/TerminalText.h"
#include "cli/os/DocumentsFolderXdg.h"
#include "cli/output/JsonText.h"
#include "cli/output/Messages.h"
#include "cli/SimulatedMeter.h"
#include "device/MeterMemory.h"
#include "device/MeterProtocol.h"
#include "update/FirmwarePayload.h"
#include "sim/SimFileSystem.h"
#include "tests/cli/JsonLines.h"
#include "tests/cli/LuProcess.h"
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
  // Stop signals arrived by the time the meter has committed this many pages,
  // or has seen this many transfers.
  std::vector<std::size_t> stopsAtPage{};
  std::vector<std::size_t> stopsAtTransfer{};
  // Treat the simulated meter as a real one (no --simulate allowance).
  bool asHardware = false;
  std::function<void(sim::SimMeter&)> prepare{};
  Language language = Language::English;
  // The error stream is a terminal: the progress bar redraws.
  bool terminal = false;
  // A person at a terminal who types this (nothing: no terminal, no question).
  std::optional<std::string> answers{};
  // Device nodes of meters attached that this user may not open.
  std::vector<std::string> inaccessible{};
  // The user's disk before the run (full, a file where a folder should be).
  std::function<void(sim::SimFileSystem&)> disk{};
};

struct ToolRun : Outcome {
  std::uint8_t flagAfter = 0;            // the first simulated meter's
  std::vector<std::size_t> commitsOf{};  // pages committed, per simulated meter
  std::vector<sim::Path> backups{};
  std::vector<sim::Path> rootBackups{};  // in the root's lu14, where lu14 never puts one
  std::size_t transfers = 0;  // the first simulated meter's
};

ToolRun RunTool(const std::vector<std::string>& arguments, const Surroundings& surroundings = {}) {
  const ParseResult parsed = ParseCommandLine(arguments, surroundings.language);
  if (!parsed.options) return {{parsed.exitCode, parsed.exitCode == 0 ? parsed.message : "", parsed.message}};
  sim::SimFileSystem files(surroundings.documents);
  if (surroundings.disk) surroundings.disk(files);
  sim::SimRuntime::Setup setup;
  setup.files = &files;
  sim::SimRuntime runtime(setup);
  SimulatedMeter meter(runtime, parsed.options->simulatedFault, std::chrono::microseconds(0),
                       parsed.options->simulatedMeters);
  if (surroundings.prepare) surroundings.prepare(meter.Meter());
  CliOptions options = *parsed.options;
  if (surroundings.asHardware) options.simulate = false;
  std::ostringstream out, err;
  std::istringstream answers(surroundings.answers.value_or(""));
  CliSession session(options, runtime, runtime, meter.Platform(), out, err, surroundings.terminal,
                     [&] { meter.Step(); });
  session.SetClock([&] { return std::chrono::duration_cast<std::chrono::microseconds>(runtime.Elapsed()); });
  if (surroundings.answers) session.SetAnswers(answers);
  session.SetInaccessibleMeters([&] { return surroundings.inaccessible; });
  session.SetStopRequests([&] {
    const auto reached = [](const std::vector<std::size_t>& stops, std::size_t now) {
      return static_cast<int>(std::count_if(stops.begin(), stops.end(), [&](std::size_t at) { return now >= at; }));
    };
    return reached(surroundings.stopsAtPage, meter.Meter().Commits().size()) +
           reached(surroundings.stopsAtTransfer, meter.Meter().TransferCount());
  });
  ToolRun run;
  run.exitCode = session.Run();
  run.out = out.str();
  run.err = err.str();
  run.flagAfter = meter.Meter().FirmwareFlag();
  run.transfers = meter.Meter().TransferCount();
  for (int i = 0; i < options.simulatedMeters; ++i) {
    run.commitsOf.push_back(meter.Meter(static_cast<std::size_t>(i)).Commits().size());
  }
  if (surroundings.documents) run.backups = files.FilesIn(*surroundings.documents / "lu14");
  run.rootBackups = files.FilesIn("/lu14");
  return run;
}

TEST(LuTool, StatusAsTextAndAsJson) {
  const Outcome text = RunTool({"--simulate", "status"});
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("firmware   D1.40 (complete)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("battery    3.000 V\n"), std::string::npos);
  EXPECT_NE(text.out.find("option     capacitance off"), std::string::npos);

  const Outcome json = RunTool({"--simulate=low-battery", "status", "--json"});
  EXPECT_EQ(json.exitCode, 0);
  const auto parsed = nlohmann::json::parse(json.out);
  EXPECT_EQ(parsed["battery"], (nlohmann::json{{"volts", 1.2}, {"low", true}})) << json.out;
  EXPECT_EQ(parsed["firmware"], (nlohmann::json{{"version", "D1.40"}, {"complete", true}, {"flag", 1}}));
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
  EXPECT_NE(clean.err.find("writing firmware: 100%"), std::string::npos) << clean.err;

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
  // A disk with room for a tenth of the backup.
  const auto full = [](sim::SimFileSystem& disk) { disk.SetFreeSpace(400); };
  // A file where the Documents folder should be.
  const auto documentsAFile = [](sim::SimFileSystem& disk) {
    disk.MakeDirectory("/home");
    disk.MakeDirectory("/home/u");
    disk.CreateOutputFile("/home/u/Documents");
  };
  const Case cases[] = {
      {"low battery", {"--simulate=low-battery", "update"}, {}, kExitRefused, "the meter's battery is low (1.20 V)"},
      {"low battery, overridden", {"--simulate=low-battery", "update", "--ignore-battery"}, {}, kExitOk, ""},
      {"no Documents folder", {"--simulate", "update"}, {.documents = std::nullopt}, kExitRefused,
       "the settings backup cannot be saved: no usable Documents folder; run lu14 update --no-backup"},
      {"no Documents folder, overridden", {"--simulate", "update", "--no-backup"}, {.documents = std::nullopt},
       kExitOk, "lu14: no settings backup was saved (--no-backup)\n"},
      {"Documents is a file", {"--simulate", "update"}, {.disk = documentsAFile}, kExitRefused,
       "the settings backup cannot be saved: no usable Documents folder (/home/u/Documents: a file, not a "
       "folder); run lu14 update --no-backup to go on without one"},
      {"Documents is a file, overridden", {"--simulate", "update", "--no-backup"}, {.disk = documentsAFile}, kExitOk,
       "no settings backup was saved (--no-backup): /home/u/Documents: a file, not a folder"},
      {"a full disk", {"--simulate", "update"}, {.disk = full}, kExitRefused,
       "refused: the settings backup could not be written (/home/u/Documents/lu14/"},
      {"a full disk, said why", {"--simulate", "update"}, {.disk = full}, kExitRefused,
       ".part: No space left on device); nothing was written to the meter; make room for it, or run lu14 update "
       "--no-backup to go on without one"},
      {"a full disk, overridden", {"--simulate", "update", "--no-backup"}, {.disk = full}, kExitOk,
       ".part: No space left on device"},
      {"the placeholder image on a real meter", {"update"}, {.asHardware = true}, kExitRefused,
       "this build carries the placeholder image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolRun run = RunTool(c.arguments, c.surroundings);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    // A backup is whole in Documents/lu14 or nowhere: no part of one, none at the root.
    EXPECT_LE(run.backups.size(), 1u);
    for (const sim::Path& backup : run.backups) EXPECT_EQ(backup.extension(), ".hex");
    EXPECT_TRUE(run.rootBackups.empty());
    if (c.exitCode == kExitRefused) {
      // Refused before the meter was touched: no mark, no chunk.
      EXPECT_EQ(run.flagAfter, 1);
      EXPECT_EQ(run.err.find("writing firmware"), std::string::npos);
    }
  }
}

TEST(LuTool, StopSignalsNeverCutAChunk) {
  // One signal warns and the update goes on to the end.
  const ToolRun warned = RunTool({"--simulate", "update"}, {.stopsAtPage = {10}});
  EXPECT_EQ(warned.exitCode, kExitOk) << warned.err;
  EXPECT_NE(warned.err.find("Ask to stop again (Ctrl-C, or the same signal) to stop it after the current chunk"), std::string::npos);
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

// While the settings are being saved nothing has been written to the meter:
// a stop then cancels the update at once and says so; the backup, cut short,
// is not kept. (The backup's 4096 transfers follow about a hundred of the
// status read.)
TEST(LuTool, AStopWhileTheSettingsAreSavedCancelsWithNothingWritten) {
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    std::vector<std::size_t> stopsAtTransfer;
  };
  const Case cases[] = {
      {"one signal", {"--simulate", "update"}, {2000}},
      {"two signals", {"--simulate", "update"}, {2000, 2000}},
      {"one signal, JSON", {"--simulate", "update", "--json"}, {2000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolRun run = RunTool(c.arguments, {.stopsAtTransfer = c.stopsAtTransfer});
    EXPECT_EQ(run.exitCode, kExitInterrupted) << run.err;
    EXPECT_EQ(run.flagAfter, kFirmwareComplete);  // no "in progress" mark
    EXPECT_EQ(run.commitsOf[0], 0u);
    EXPECT_TRUE(run.backups.empty());
    EXPECT_EQ(run.err.find("stopping now would leave the meter"), std::string::npos) << run.err;
    const std::string said =
        "update failed: interrupted while the settings were being saved: nothing was written to the meter, which "
        "keeps its firmware";
    EXPECT_NE(run.err.find(said), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the settings backup was cut short and is not kept"), std::string::npos) << run.err;
    if (c.arguments.back() != "--json") continue;
    const std::vector<nlohmann::json> lines = JsonLines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["result"], "cancelled");
    EXPECT_EQ(lines.back()["exit"], kExitInterrupted);
    EXPECT_EQ(lines.back()["backup"], nullptr);
  }

  // A backup on its own stops the same way, and leaves nothing.
  const ToolRun backup = RunTool({"--simulate", "backup"}, {.stopsAtTransfer = {2000}});
  EXPECT_EQ(backup.exitCode, kExitInterrupted);
  EXPECT_NE(backup.err.find("lu14: error: interrupted: the settings backup was cut short and is not kept"),
            std::string::npos)
      << backup.err;
  EXPECT_TRUE(backup.backups.empty());

  // A stop during the last line: the backup is whole and kept, and the meter
  // is still not marked.
  const std::size_t wholeBackup = RunTool({"--simulate", "backup"}).transfers;
  const ToolRun last = RunTool({"--simulate", "update"}, {.stopsAtTransfer = {wholeBackup - 1}});
  EXPECT_EQ(last.exitCode, kExitInterrupted) << last.err;
  EXPECT_EQ(last.flagAfter, kFirmwareComplete);
  ASSERT_EQ(last.backups.size(), 1u);
  EXPECT_NE(last.out.find("settings saved to " + last.backups[0].string()), std::string::npos) << last.out;
  EXPECT_NE(last.err.find("nothing was written to the meter"), std::string::npos) << last.err;
  EXPECT_EQ(last.err.find("cut short"), std::string::npos) << last.err;
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
  // Nor through list, its JSON, or the question before an update.
  for (const auto& arguments : {std::vector<std::string>{"--simulate", "list"},
                                std::vector<std::string>{"--simulate", "list", "--json"},
                                std::vector<std::string>{"--simulate", "update", "--json"}}) {
    const ToolRun run = RunTool(arguments, {.prepare = prepare, .answers = "n\n"});
    const std::string shown = run.out + run.err;
    EXPECT_EQ(shown.find('\x1B'), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\xC2\x9B"), std::string::npos) << shown;
    EXPECT_NE(shown.find("[2J"), std::string::npos) << shown;
  }
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
    const Outcome unconfirmed = RunTool({"--simulate=write-refused", "-v", "option", option, "on"});
    EXPECT_EQ(unconfirmed.exitCode, kExitFailed) << option;
    EXPECT_EQ(unconfirmed.out, "") << option;
    EXPECT_NE(unconfirmed.err.find("command 20: the meter stayed busy"), std::string::npos) << unconfirmed.err;
    EXPECT_NE(unconfirmed.err.find("the write was not confirmed"), std::string::npos) << unconfirmed.err;
    // Without -v the retries stay out of sight; the failure does not.
    const Outcome plain = RunTool({"--simulate=write-refused", "option", option, "on"});
    EXPECT_EQ(plain.exitCode, kExitFailed);
    EXPECT_EQ(plain.err.find("command 20"), std::string::npos) << plain.err;
    EXPECT_NE(plain.err.find("the write was not confirmed"), std::string::npos) << plain.err;
  }
}

// checksum exits 1 when the meter does not hold the carried firmware; a
// meter up to date holds it, so that checksum and status agree.
TEST(LuTool, ChecksumSaysInItsExitCodeWhetherTheMeterHoldsTheCarriedFirmware) {
  struct Case {
    const char* fault;
    int exitCode;
    const char* says;
  };
  const Case cases[] = {
      {"up-to-date", kExitOk, "checksum   6097759 (0x5D0B5F): the carried firmware D1.50\n"},
      {"", kExitFailed,
       "checksum   15340800 (0xEA1500): not the carried firmware D1.50, whose checksum is 6097759 (0x5D0B5F)\n"},
      {"wrong-checksum", kExitFailed, "checksum   1193046 (0x123456): not the carried firmware D1.50"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const std::string simulate = std::string("--simulate") + (*c.fault ? "=" : "") + c.fault;
    const ToolRun text = RunTool({simulate, "checksum"});
    EXPECT_EQ(text.exitCode, c.exitCode) << text.err;
    EXPECT_NE(text.out.find(c.says), std::string::npos) << text.out;
    const ToolRun json = RunTool({simulate, "checksum", "--json"});
    EXPECT_EQ(json.exitCode, c.exitCode);
    const auto result = JsonLines(json.out).at(0);
    EXPECT_EQ(result["match"], c.exitCode == kExitOk) << json.out;
    EXPECT_EQ(result["exit"], c.exitCode);
  }
  const ToolRun status = RunTool({"--simulate=up-to-date", "status"});
  EXPECT_NE(status.out.find("firmware   D1.50 (complete)"), std::string::npos) << status.out;
}

// The checksum shown is one the meter confirmed: a stale reply (the poll's,
// whose first bytes are no checksum) is asked again, and a meter that never
// answers the request is said to, not shown a number it never gave.
TEST(LuTool, ChecksumShowsOnlyAValueTheMeterConfirmed) {
  const auto staleChecksums = [](std::size_t count) {
    return [count](sim::SimMeter& meter) {
      meter.Faults().Add({.which = {cmdReadChecksum, 0, count, false}, .staleReply = true});
    };
  };
  const ToolRun once = RunTool({"--simulate=up-to-date", "checksum"}, {.prepare = staleChecksums(1)});
  EXPECT_EQ(once.exitCode, kExitOk) << once.err;
  EXPECT_NE(once.out.find("checksum   6097759 (0x5D0B5F): the carried firmware D1.50"), std::string::npos)
      << once.out;

  const ToolRun never =
      RunTool({"--simulate=up-to-date", "checksum"}, {.prepare = staleChecksums(sim::Commands::kEvery)});
  EXPECT_EQ(never.exitCode, kExitFailed);
  EXPECT_EQ(never.out, "");
  EXPECT_NE(never.err.find("the meter did not answer the checksum request"), std::string::npos) << never.err;
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
      {{"status", "--no-backup"}, 2},
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
  EXPECT_EQ(JsonString("a\"b\\c\n\x01Ж"), "\"a\\\"b\\\\c\\n\\u0001Ж\"");
  // DEL and the C1 controls, which the library leaves raw, are escaped too.
  EXPECT_EQ(JsonString("\x7F\xC2\x9B\xC2\xA0"), "\"\\u007f\\u009b\xC2\xA0\"");
  EXPECT_EQ(JsonLine(nlohmann::json{{"k", "\x1B\xC2\x85"}}), "{\"k\":\"\\u001b\\u0085\"}\n");
  EXPECT_EQ(JsonLine(3.0), "3.0\n");
  EXPECT_EQ(JsonLine(1.4), "1.4\n");
}

// --- the command line ---

TEST(LuCommandLine, OptionsTakeTheirValueEitherWayBeforeOrAfterTheCommand) {
  struct Case {
    std::vector<std::string> arguments;
    Command command;
    int waitSeconds;
    std::string fault;
    std::string device;
  };
  const Case cases[] = {
      {{"--wait", "7", "status"}, Command::Status, 7, "", ""},
      {{"--wait=7", "status"}, Command::Status, 7, "", ""},
      {{"status", "--wait", "7"}, Command::Status, 7, "", ""},
      {{"status", "--wait=0"}, Command::Status, 0, "", ""},
      {{"--simulate", "low-battery", "update"}, Command::Update, 10, "low-battery", ""},
      {{"update", "--simulate=low-battery"}, Command::Update, 10, "low-battery", ""},
      {{"--device", "/dev/hidraw3", "checksum"}, Command::Checksum, 10, "", "/dev/hidraw3"},
      {{"checksum", "--device=/dev/hidraw3"}, Command::Checksum, 10, "", "/dev/hidraw3"},
      // list waits only when asked to.
      {{"list"}, Command::List, 0, "", ""},
      {{"list", "--wait", "3"}, Command::List, 3, "", ""},
      // -- ends the options: what follows is an argument even when it looks like one.
      {{"--", "status"}, Command::Status, 10, "", ""},
      {{"status", "--"}, Command::Status, 10, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    const ParseResult parsed = ParseCommandLine(c.arguments);
    ASSERT_TRUE(parsed.options) << parsed.message;
    EXPECT_EQ(parsed.options->command, c.command);
    EXPECT_EQ(parsed.options->waitSeconds, c.waitSeconds);
    EXPECT_EQ(parsed.options->simulatedFault, c.fault);
    EXPECT_EQ(parsed.options->device, c.device);
  }
  const ParseResult option = ParseCommandLine({"option", "--", "menu-swap", "off"});
  ASSERT_TRUE(option.options) << option.message;
  EXPECT_EQ(option.options->optionName, "menu-swap");
  // After --, what looks like an option is an argument.
  EXPECT_NE(ParseCommandLine({"option", "menu-swap", "--", "--device"}).message.find("on or off, not \"--device\""),
            std::string::npos);

  const ParseResult flags = ParseCommandLine({"-v", "--simulate", "--meters", "2", "--latency-us=250", "update", "-y",
                                              "--force", "--no-backup", "--ignore-battery", "--json"});
  ASSERT_TRUE(flags.options) << flags.message;
  EXPECT_EQ(flags.options->verbosity, Verbosity::Verbose);
  EXPECT_EQ(flags.options->simulatedMeters, 2);
  EXPECT_EQ(flags.options->latencyMicroseconds, 250);
  EXPECT_TRUE(flags.options->yes && flags.options->force && flags.options->noBackup && flags.options->ignoreBattery);
  EXPECT_TRUE(flags.options->json);
  EXPECT_EQ(ParseCommandLine({"-q", "status"}).options->verbosity, Verbosity::Quiet);

  // A command's own options may stand before it, as the help says.
  const ParseResult before = ParseCommandLine({"-y", "--force", "--simulate", "--no-backup", "update"});
  ASSERT_TRUE(before.options) << before.message;
  EXPECT_EQ(before.options->command, Command::Update);
  EXPECT_TRUE(before.options->yes && before.options->force && before.options->noBackup);
  const ParseResult dryRun = ParseCommandLine({"--dry-run", "--yes", "restore", "saved.hex"});
  ASSERT_TRUE(dryRun.options) << dryRun.message;
  EXPECT_TRUE(dryRun.options->dryRun && dryRun.options->yes);
  EXPECT_EQ(dryRun.options->restoreFile, "saved.hex");
  const ParseResult output = ParseCommandLine({"--output", "mine.hex", "backup"});
  ASSERT_TRUE(output.options) << output.message;
  EXPECT_EQ(output.options->outputFile, "mine.hex");
}

TEST(LuCommandLine, ErrorsExitTwoAndNameWhatIsValid) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--wait", "-5", "status"}, "--wait takes a whole number from 0 to 3600, not \"-5\""},
      {{"--wait", "1e1", "status"}, "not \"1e1\""},
      {{"--wait", "0x2", "status"}, "not \"0x2\""},
      {{"--wait", "1.9", "status"}, "not \"1.9\""},
      {{"--wait=5s", "status"}, "not \"5s\""},
      {{"--wait=", "status"}, "--wait needs a value"},
      {{"--wait", "3601", "status"}, "from 0 to 3600"},
      {{"--wait"}, "--wait needs a value"},
      {{"status", "--device"}, "--device needs a value"},
      {{"--simulate", "--meters", "33", "list"}, "--meters takes a whole number from 1 to 32, not \"33\""},
      {{"--simulate", "--latency-us", "-1", "status"}, "--latency-us takes a whole number from 0 to 1000000"},
      {{"--meters", "2", "list"}, "--meters works only with --simulate"},
      {{"--simulate=melted", "status"}, "unknown simulated fault \"melted\"; the faults: no-meter, low-battery"},
      {{"flash"}, "unknown command \"flash\"; the commands: status, list, update, option, checksum"},
      {{"lsit", "--device", "x"}, "did you mean list?"},
      {{""}, "unknown command \"\""},
      {{"\n"}, "unknown command \"\\x0A\""},
      {{}, "no command given; the commands: status, list"},
      {{"--"}, "no command given"},
      {{"status", "--bogus"}, "unknown option \"--bogus\"; lu14 status --help"},
      {{"status", "--no-backup"}, "unknown option \"--no-backup\""},
      {{"-y", "status"}, "unknown option \"-y\"; lu14 status --help"},
      {{"stauts"}, "unknown command \"stauts\"; the commands: status, list, update, option, checksum, backup, restore; did you mean status?"},
      {{"--json", "updaet"}, "did you mean update?"},
      {{"chekcsum"}, "did you mean checksum?"},
      {{"status", "extra"}, "unexpected argument \"extra\""},
      {{"option", "capacitance"}, "option needs a name (capacitance, menu-swap) and on or off"},
      {{"option", "colour", "on"}, "unknown option name \"colour\"; the options that can be changed: capacitance, menu-swap"},
      {{"option", "auto-save", "on"}, "auto-save is read-only"},
      {{"option", "modified-meter", "off"}, "modified-meter is read-only"},
      {{"option", "capacitance", "yes"}, "the value of an option is on or off, not \"yes\""},
      // An option a typo away is named, the command's own as well as the global ones.
      {{"status", "--jsno"}, "unknown option \"--jsno\"; did you mean --json?; lu14 status --help"},
      {{"update", "--forse"}, "did you mean --force?"},
      {{"--dry-rnu", "restore", "f.hex"}, "did you mean --dry-run?"},
      // What the parser itself cannot read is said in the catalogue's words too.
      {{"--json=x", "status"}, "--json takes no value, not \"x\""},
      {{"update", "--all=maybe"}, "--all takes no value, not \"maybe\""},
      {{"status", "list"}, "unexpected argument \"list\""},
      // Standard output carries the results: a recording cannot go there too
      // (nor become a file named "-").
      {{"--record", "-", "--simulate", "status"}, "--record needs a file"},
  };
  for (const auto& [arguments, says] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const ParseResult parsed = ParseCommandLine(arguments);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, kExitUsage);
    EXPECT_NE(parsed.message.find(says), std::string::npos) << parsed.message;
    EXPECT_TRUE(parsed.message.starts_with("lu14: error: ")) << parsed.message;
    EXPECT_NE(parsed.message.find("usage: lu14"), std::string::npos);
  }
  // A word far from every command or option gets no guess.
  EXPECT_EQ(ParseCommandLine({"flash"}).message.find("did you mean"), std::string::npos);
  EXPECT_EQ(ParseCommandLine({"status", "--colour"}).message.find("did you mean"), std::string::npos);
  // A Russian run hears no English from the parser.
  const std::pair<std::vector<std::string>, std::string> russian[] = {
      {{"--json=x", "status"}, "параметру --json не нужно значение, а дано \"x\""},
      {{"status", "list"}, "лишний аргумент \"list\""},
      {{"status", "--jsno"}, "может быть, --json?"},
      {{"--wait", "x", "status"}, "--wait принимает целое число от 0 до 3600"},
  };
  for (const auto& [arguments, says] : russian) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    EXPECT_NE(ParseCommandLine(arguments, Language::Russian).message.find(says), std::string::npos);
  }
  EXPECT_NE(ParseCommandLine({"stauts"}, Language::Russian).message.find("может быть, status?"), std::string::npos);
  // With --json the error goes out as JSON as well.
  EXPECT_TRUE(ParseCommandLine({"--json", "flash"}).json);
  EXPECT_FALSE(ParseCommandLine({"flash"}).json);
}

TEST(LuCommandLine, HelpNamesEveryCommandOptionAndExitCodeInBothLanguages) {
  for (const Language language : {Language::English, Language::Russian}) {
    SCOPED_TRACE(language == Language::Russian ? "ru" : "en");
    const ParseResult main = ParseCommandLine({"--help"}, language);
    EXPECT_EQ(main.exitCode, 0);
    for (const char* word : {"status", "list", "update", "option", "checksum", "--device", "--wait", "--json",
                             "--quiet", "--verbose", "--simulate", "--meters", "--fault-meter", "--latency-us", "--version", "--help",
                             "LC_ALL", "LC_MESSAGES", "LANG"}) {
      EXPECT_NE(main.message.find(word), std::string::npos) << word;
    }
    // Every command of the table, with its own help.
    for (const CommandSpec& command : Commands()) {
      EXPECT_NE(main.message.find(std::string("\n  ") + command.name + " "), std::string::npos) << command.name;
      EXPECT_NE(ParseCommandLine({command.name, "--help"}, language).message.find(std::string("lu14 ") + command.name),
                std::string::npos)
          << command.name;
    }
    for (int code = 0; code <= 5; ++code) {
      EXPECT_NE(main.message.find("\n  " + std::to_string(code) + "  "), std::string::npos) << code;
    }
    for (const auto& [fault, meaning] : SimulatedFaults()) EXPECT_NE(main.message.find(fault), std::string::npos);
    const std::string update = ParseCommandLine({"update", "--help"}, language).message;
    for (const char* word : {"--yes", "--force", "--no-backup", "--ignore-battery", "--json", "--device", "--all", "D1.50"}) {
      EXPECT_NE(update.find(word), std::string::npos) << word;
    }
    for (const OptionName& option : OptionNames()) {
      EXPECT_NE(ParseCommandLine({"status", "--help"}, language).message.find(option.name), std::string::npos);
      EXPECT_NE(ParseCommandLine({"option", "--help"}, language).message.find(option.name), std::string::npos);
    }
    EXPECT_NE(ParseCommandLine({"list", "-h"}, language).message.find("lu14 list"), std::string::npos);
    EXPECT_NE(ParseCommandLine({"checksum", "--help"}, language).message.find("lu14 checksum"), std::string::npos);
  }
  for (const char* asked : {"--version", "-V"}) {
    const ParseResult version = ParseCommandLine({asked});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.message, std::string("lu14 ") + ToolVersion() + "\n");
  }
  const ParseResult versionJson = ParseCommandLine({"--version", "--json"});
  EXPECT_EQ(versionJson.message, std::string("{\"firmware\":\"D1.50\",\"version\":\"") + ToolVersion() + "\"}\n");

  // "help" as the first word is --help, for the command it names or for all;
  // as the value of an option it is only that value.
  EXPECT_EQ(ParseCommandLine({"help"}).message, ParseCommandLine({"--help"}).message);
  EXPECT_EQ(ParseCommandLine({"help"}).exitCode, 0);
  EXPECT_EQ(ParseCommandLine({"help", "restore"}).message, ParseCommandLine({"restore", "--help"}).message);
  EXPECT_EQ(ParseCommandLine({"--wait", "3", "help", "list"}).message, ParseCommandLine({"list", "-h"}).message);
  const ParseResult named = ParseCommandLine({"--device", "help", "status"});
  ASSERT_TRUE(named.options.has_value()) << named.message;
  EXPECT_EQ(named.options->device, "help");
}

// --- one language per run ---

TEST(LuLanguage, TheLocaleChoosesAsPosixOrdersItsVariablesAndTheSystemWhenNoneIsSet) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    Language system;  // the system's language (Windows': its display language)
    Language expected;
  };
  constexpr Language en = Language::English;
  constexpr Language ru = Language::Russian;
  const Case cases[] = {
      {nullptr, nullptr, "ru_RU.UTF-8", en, ru},
      {nullptr, "ru_UA.UTF-8", "en_US.UTF-8", en, ru},
      {"C", "ru_RU.UTF-8", "ru_RU.UTF-8", en, en},
      {"", "", "ru_RU.UTF-8", en, ru},  // an empty variable does not count
      {"ru_RU.UTF-8", "en_US.UTF-8", nullptr, en, ru},
      {nullptr, nullptr, "de_DE.UTF-8", en, en},
      {nullptr, nullptr, nullptr, en, en},
      // The system speaks only when no variable does.
      {nullptr, nullptr, nullptr, ru, ru},
      {"", "", "", ru, ru},
      {nullptr, nullptr, "C", ru, en},
      {nullptr, "en_GB.UTF-8", nullptr, ru, en},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LanguageOf(c.lcAll, c.lcMessages, c.lang, c.system), c.expected)
        << (c.lcAll ? c.lcAll : "-") << ' ' << (c.lcMessages ? c.lcMessages : "-") << ' ' << (c.lang ? c.lang : "-")
        << " system " << (c.system == ru ? "ru" : "en");
  }
}

// English words that may show in a Russian run: names of commands, options
// and simulated meters, parts of paths, and what the user typed.
bool AllowedInRussian(const std::string& word) {
  static const std::set<std::string> allowed{
      "update", "status", "list", "option", "checksum", "capacitance", "menu", "swap", "auto", "save", "modified",
      "meter", "simulated", "device", "wait", "force", "backup", "ignore", "battery", "json", "home", "rules",
      "resources", "linux", "udev", "help", "meters", "hidraw", "readme", "documents", "nowhere", "flash", "restore"};
  std::string lower = word;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.size() < 4 || allowed.contains(lower);
}

TEST(LuLanguage, ARunSpeaksOneLanguageOnly) {
  const std::vector<std::string> scenarios[] = {
      {"--simulate", "status"},
      {"--simulate", "update"},
      {"--simulate=sum-mismatch", "update"},
      {"--simulate=wrong-checksum", "update"},
      {"--simulate=low-battery", "update"},
      {"--simulate=no-meter", "--wait", "2", "status"},
      {"--simulate", "--meters", "2", "update"},
      {"--simulate", "--meters", "2", "status"},
      {"--simulate", "--device", "nowhere", "list"},
      {"--simulate=write-refused", "-v", "option", "menu-swap", "on"},
      {"--simulate", "checksum"},
      {"--simulate=up-to-date", "update"},
      {"flash"},
      {"option", "auto-save", "on"},
  };
  for (const auto& arguments : scenarios) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const ToolRun russian = RunTool(arguments, {.language = Language::Russian});
    const std::string text = russian.out + russian.err;
    EXPECT_NE(text.find("\xD0"), std::string::npos) << "nothing in Russian: " << text;
    std::string word;
    for (const char c : text + " ") {
      if (std::isalpha(static_cast<unsigned char>(c))) {
        word += c;
      } else {
        EXPECT_TRUE(AllowedInRussian(word)) << "English \"" << word << "\" in: " << text;
        word.clear();
      }
    }
    const ToolRun english = RunTool(arguments);
    // No Cyrillic letter (their UTF-8 lead bytes are D0 and D1) in an English run.
    EXPECT_EQ((english.out + english.err).find_first_of("\xD0\xD1"), std::string::npos) << english.out << english.err;
  }
}

// --- the streams ---

TEST(LuStreams, ResultsGoToStdoutAndEverythingElseToStderr) {
  const ToolRun update = RunTool({"--simulate", "update"});
  ASSERT_EQ(update.exitCode, kExitOk) << update.err;
  ASSERT_EQ(update.backups.size(), 1u);
  EXPECT_EQ(update.out, "settings saved to " + update.backups[0].string() + "\nfirmware D1.50 written and verified\n");
  // Through a pipe: each phase named, a line every tenth, with the time left.
  for (const char* line : {"saving settings: 0%", "saving settings: 100%\n", "writing firmware: 0%\n",
                           "writing firmware: 50%, ", "writing firmware: 100%\n", "verifying...\n"}) {
    EXPECT_NE(update.err.find(line), std::string::npos) << line << " in:\n" << update.err;
  }
  EXPECT_NE(update.err.find(" s left\n"), std::string::npos);
  EXPECT_LT(std::count(update.err.begin(), update.err.end(), '\n'), 30);

  // -q: errors only.
  const ToolRun quiet = RunTool({"-q", "--simulate", "update"});
  EXPECT_EQ(quiet.exitCode, kExitOk);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, update.out.substr(0, update.out.find(" to ")) + quiet.out.substr(quiet.out.find(" to ")));
  const ToolRun quietFailure = RunTool({"-q", "--simulate=sum-mismatch", "update"});
  EXPECT_EQ(quietFailure.err.find('%'), std::string::npos);
  EXPECT_NE(quietFailure.err.find("update failed: the meter did not confirm the chunk"), std::string::npos);
}

TEST(LuStreams, OnATerminalTheBarRedrawsAndNothingIsGluedToIt) {
  const ToolRun failed = RunTool({"--simulate=sum-mismatch", "update"}, {.stopsAtPage = {5}, .terminal = true});
  EXPECT_EQ(failed.exitCode, kExitFailed);
  EXPECT_NE(failed.err.find("\rwriting firmware ["), std::string::npos);
  EXPECT_NE(failed.err.find("%, "), std::string::npos);
  // Every message starts a line of its own, after the bar it interrupts.
  for (std::size_t at = failed.err.find("lu14: "); at != std::string::npos; at = failed.err.find("lu14: ", at + 1)) {
    EXPECT_TRUE(at == 0 || failed.err[at - 1] == '\n') << failed.err.substr(at > 40 ? at - 40 : 0, 80);
  }
  EXPECT_NE(failed.err.find("lu14: error: update failed"), std::string::npos);
  EXPECT_EQ(failed.out.find('\r'), std::string::npos);
}

TEST(LuStreams, TimeLeftFollowsThePaceSoFar) {
  using std::chrono::milliseconds;
  EXPECT_EQ(ConsoleProgress::SecondsLeft(milliseconds(10000), 25, 100), 30);
  EXPECT_EQ(ConsoleProgress::SecondsLeft(milliseconds(1000), 2, 5), 2);  // 1.5 s, rounded up
  EXPECT_EQ(ConsoleProgress::SecondsLeft(milliseconds(9000), 100, 100), 0);
  EXPECT_EQ(ConsoleProgress::SecondsLeft(milliseconds(9000), 0, 100), std::nullopt);
}

// On a terminal the bar never wraps: each redraw fits in the width less one
// column, the bar narrowing first; without a known width it keeps 30 marks.
TEST(LuStreams, TheBarFitsTheTerminal) {
  const auto draw = [](std::size_t columns, Language language) {
    std::ostringstream err;
    std::chrono::microseconds now{0};
    ConsoleProgress progress(err, true, language, [&] { return now; });
    progress.SetColumns(columns);
    progress.PhaseStarted(UpdatePhase::Writing);
    now = std::chrono::seconds(3);
    progress.Show({UpdatePhase::Writing, 5, 15});
    const std::string text = err.str();
    return text.substr(text.find('\r') + 1, text.find("\x1b[K") - text.find('\r') - 1);
  };
  for (const Language language : {Language::English, Language::Russian}) {
    for (const std::size_t columns : {40u, 50u, 60u, 80u}) {
      SCOPED_TRACE(std::to_string(columns));
      const std::string line = draw(columns, language);
      EXPECT_LE(Columns(line), columns - 1) << line;
      EXPECT_NE(line.find('#'), std::string::npos) << line;
    }
  }
  const std::string wide = draw(0, Language::English);
  EXPECT_EQ(wide.substr(wide.find('[')), "[##########....................] 33%, 6 s left");
  EXPECT_EQ(draw(200, Language::English), wide);
}

// A name too long for its room loses a stretch where "…" stands: never the
// part to keep (the part that tells it from the others) if it fits, the cut
// as near the middle as that allows, a stretch of the middle only when
// neither end reaches the part.
TEST(LuStreams, AShortenedNameKeepsWhatTellsItApart) {
  const std::string identity = "B4C55313407E3129A005FC81E950FA73C86";
  const struct {
    std::string text;
    std::size_t columns, keepFrom, keepTo;
    std::string shortened;
  } cases[] = {
      {"simulated-meter-1", 17, 0, 17, "simulated-meter-1"},  // fits: as it is
      {identity, 12, 0, 35, "B4C55…A73C86"},                  // all of it to keep: both ends alike
      {identity, 6, 2, 3, "B4C…86"},                          // its third character
      {"simulated-meter-12", 8, 16, 18, "sim…r-12"},          // its end
      {"aaaa-XY-zzzz", 5, 5, 7, "…-XY…"},                     // its middle, out of both ends' reach
      {"abcdefgh", 4, 6, 99, "a…gh"},                         // a part past the end is the end
      {"прибор-номер-семь", 9, 0, 17, "приб…семь"},           // Cyrillic: a column per letter
      {identity, 1, 0, 35, "…"},
      {identity, 0, 0, 35, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Shorten(c.text, c.columns, c.keepFrom, c.keepTo), c.shortened) << c.text << " in " << c.columns;
  }

  // The part of one name that tells it from the others.
  using Part = std::pair<std::size_t, std::size_t>;
  const struct {
    std::vector<std::string> names;
    Part part;  // of the first name
  } parts[] = {
      {{identity}, {0, 35}},                                             // alone: all of it
      {{identity, "B4D55313407E3129A005FC81E950FA73C86"}, {2, 3}},      // identities: the third character
      {{"simulated-meter-1", "simulated-meter-2"}, {16, 17}},           // ids: the last
      {{"hid#7&1a2b&0#{c}", "hid#7&9f8e&0#{c}"}, {6, 10}},              // device paths: the middle
      {{"meter-1-a", "meter-2-a", "meter-1-b"}, {6, 9}},                // beginning shared with one, end with another
      {{"прибор-1", "прибор-2"}, {7, 8}},                               // counted in letters, not bytes
  };
  for (const auto& p : parts) {
    EXPECT_EQ(DistinguishingPart(p.names, 0), p.part) << p.names.front();
  }
}

// --- JSON ---

TEST(LuJson, EveryCommandWritesJsonAloneOnStdout) {
  const auto status = JsonLines(RunTool({"--simulate", "status", "--json"}).out);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0]["id"], "simulated-meter-1");
  for (const OptionName& option : OptionNames()) EXPECT_TRUE(status[0]["options"].contains(option.name));

  const auto list = JsonLines(RunTool({"--simulate", "--meters", "2", "--json", "list"}).out);
  ASSERT_EQ(list.size(), 1u);
  ASSERT_EQ(list[0]["meters"].size(), 2u);
  EXPECT_EQ(list[0]["meters"][1]["id"], "simulated-meter-2");
  EXPECT_EQ(list[0]["meters"][1]["firmware"], (nlohmann::json{{"version", "D1.40"}, {"complete", true}}));
  EXPECT_NE(list[0]["meters"][0]["identity"], list[0]["meters"][1]["identity"]);

  const auto option = JsonLines(RunTool({"--simulate", "option", "menu-swap", "on", "--json"}).out);
  ASSERT_EQ(option.size(), 1u);
  EXPECT_EQ(option[0], (nlohmann::json{{"option", "menu-swap"}, {"requested", true}, {"value", true},
                                       {"confirmed", true}, {"ok", true}}));
  // A failure carries error, message and exit, as every failure does.
  const auto notTaken = JsonLines(RunTool({"--simulate=write-refused", "option", "menu-swap", "on", "--json"}).out);
  ASSERT_EQ(notTaken.size(), 1u);
  EXPECT_EQ(notTaken[0]["ok"], false);
  EXPECT_EQ(notTaken[0]["error"], "failed");
  EXPECT_EQ(notTaken[0]["exit"], kExitFailed);
  EXPECT_NE(notTaken[0].value("message", "").find("the write was not confirmed"), std::string::npos) << notTaken[0];

  const auto checksum = JsonLines(RunTool({"--simulate", "checksum", "--json"}).out);
  ASSERT_EQ(checksum.size(), 1u);
  EXPECT_EQ(checksum[0]["expected"], kFirmwareChecksum);
  EXPECT_EQ(checksum[0]["match"], checksum[0]["checksum"] == kFirmwareChecksum);
  const auto wrong = JsonLines(RunTool({"--simulate=wrong-checksum", "checksum", "--json"}).out);
  EXPECT_EQ(wrong.at(0)["checksum"], 0x123456);
  EXPECT_EQ(wrong.at(0)["match"], false);

  // Errors too: an object that says which, with the exit code.
  const ToolRun none = RunTool({"--simulate=no-meter", "--wait", "1", "status", "--json"});
  EXPECT_EQ(none.exitCode, kExitNoMeter);
  const auto error = JsonLines(none.out);
  ASSERT_EQ(error.size(), 1u);
  EXPECT_EQ(error[0]["error"], "no-meter");
  EXPECT_EQ(error[0]["exit"], kExitNoMeter);
  EXPECT_NE(error[0]["message"].get<std::string>().find("no meter found within 1 s"), std::string::npos);
  const auto refused = JsonLines(RunTool({"--simulate", "--meters", "2", "update", "--json"}).out);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0]["error"], "refused");
}

TEST(LuJson, AnUpdateWritesItsEventsThenOneResult) {
  const ToolRun run = RunTool({"--simulate", "update", "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_GT(lines.size(), 3u);
  EXPECT_EQ(lines.front(), (nlohmann::json{{"event", "phase"}, {"phase", "saving-settings"}}));
  std::vector<std::string> phases;
  int lastPercent = -1;
  std::string lastPhase;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const auto& line = lines[i];
    if (line["event"] == "phase") {
      phases.push_back(line["phase"]);
      lastPercent = -1;
      continue;
    }
    ASSERT_EQ(line["event"], "progress") << line;
    EXPECT_EQ(line["phase"], phases.back());
    EXPECT_GT(line["percent"].get<int>(), lastPercent) << line;  // a line only when the percent moves
    lastPercent = line["percent"];
  }
  EXPECT_EQ(phases, (std::vector<std::string>{"saving-settings", "writing", "verifying"}));
  const auto& result = lines.back();
  EXPECT_EQ(result["event"], "result");
  EXPECT_EQ(result["ok"], true);
  EXPECT_EQ(result["result"], "completed");
  ASSERT_EQ(run.backups.size(), 1u);
  EXPECT_EQ(result["backup"], run.backups[0].string());
  EXPECT_EQ(result["bytes-confirmed"], 60160);
  EXPECT_EQ(run.err, "");  // JSON shows the progress: no bar beside it

  const ToolRun failed = RunTool({"--simulate=sum-mismatch", "update", "--json"});
  const auto failure = JsonLines(failed.out).back();
  EXPECT_EQ(failure["ok"], false);
  EXPECT_EQ(failure["exit"], kExitFailed);
  EXPECT_EQ(failure["result"], "stopped");
  EXPECT_NE(failure["message"].get<std::string>().find("chunk at byte 15984"), std::string::npos);
}

// --- choosing a meter ---

TEST(LuMeters, ListShowsEveryMeterAndDeviceChoosesOne) {
  const ToolRun list = RunTool({"--simulate", "--meters", "2", "list"});
  EXPECT_EQ(list.exitCode, kExitOk) << list.err;
  EXPECT_TRUE(list.out.starts_with("simulated-meter-1  B")) << list.out;
  EXPECT_NE(list.out.find("\nsimulated-meter-2  B"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("D1.40 complete\n"), std::string::npos);

  // A command that writes does not guess which meter is meant.
  for (const std::vector<std::string>& writes :
       {std::vector<std::string>{"--simulate", "--meters", "2", "update", "--yes"},
        std::vector<std::string>{"--simulate", "--meters", "2", "option", "menu-swap", "on"}}) {
    const ToolRun refused = RunTool(writes);
    EXPECT_EQ(refused.exitCode, kExitRefused);
    EXPECT_NE(refused.err.find("2 meters are attached: name the one to write to with --device ID"), std::string::npos);
    EXPECT_NE(refused.err.find("  simulated-meter-1\n  simulated-meter-2\n"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.commitsOf, (std::vector<std::size_t>{0, 0}));
  }
  const ToolRun second = RunTool({"--simulate", "--meters", "2", "--device", "simulated-meter-2", "update"});
  EXPECT_EQ(second.exitCode, kExitOk) << second.err;
  EXPECT_EQ(second.commitsOf, (std::vector<std::size_t>{0, 235}));

  // Reading: the first one, saying so, unless --device names another.
  const ToolRun first = RunTool({"--simulate", "--meters", "2", "status"});
  EXPECT_EQ(first.exitCode, kExitOk);
  EXPECT_NE(first.err.find("2 meters are attached; reading simulated-meter-1"), std::string::npos) << first.err;
  const ToolRun other = RunTool({"--simulate", "--meters", "2", "status", "--device=simulated-meter-2"});
  EXPECT_EQ(other.err, "");
  const auto identity = [](const std::string& out) { return out.substr(0, out.find('\n')); };
  EXPECT_NE(identity(first.out), identity(other.out));
  EXPECT_NE(list.out.find(identity(other.out).substr(11)), std::string::npos);

  const ToolRun missing = RunTool({"--simulate", "--meters", "2", "--device", "simulated-meter-3", "status"});
  EXPECT_EQ(missing.exitCode, kExitNoMeter);
  EXPECT_NE(missing.err.find("the meter simulated-meter-3 is not attached"), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find("  simulated-meter-1\n"), std::string::npos);
  // Said at once: no wait for a meter that another one stands in for, no cable advice.
  EXPECT_EQ(missing.err.find("waiting up to"), std::string::npos) << missing.err;
}

// No meter attached is an answer for list, the empty list with exit 0, so
// that a script can ask; a --device that is not there stays an error.
TEST(LuMeters, ListWithNoMeterIsTheEmptyList) {
  const ToolRun text = RunTool({"--simulate=no-meter", "list"});
  EXPECT_EQ(text.exitCode, kExitOk) << text.err;
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "lu14: no meter is attached\n");
  const ToolRun json = RunTool({"--simulate=no-meter", "list", "--json"});
  EXPECT_EQ(json.exitCode, kExitOk) << json.err;
  EXPECT_EQ(json.out, "{\"meters\":[]}\n");
  const ToolRun waited = RunTool({"--simulate=no-meter", "--wait", "2", "list", "--quiet"});
  EXPECT_EQ(waited.exitCode, kExitOk);
  EXPECT_EQ(waited.err, "");
  const ToolRun named = RunTool({"--simulate=no-meter", "--device", "simulated-meter-1", "list"});
  EXPECT_EQ(named.exitCode, kExitNoMeter);
}

// --- before flashing ---

TEST(LuConfirm, OnATerminalUpdateShowsTheMeterAndAsks) {
  struct Case {
    std::optional<std::string> answers;  // nothing: no terminal
    std::vector<std::string> extra;
    int exitCode;
    bool asked;
  };
  const Case cases[] = {
      {"y\n", {}, kExitOk, true},
      {"yes\n", {}, kExitOk, true},
      {"да\n", {}, kExitOk, true},
      {"n\n", {}, kExitFailed, true},
      {"\n", {}, kExitFailed, true},
      {"", {}, kExitFailed, true},  // end of input: no
      {std::nullopt, {}, kExitOk, false},
      {"n\n", {"--yes"}, kExitOk, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.value_or("(no terminal)") + ::testing::PrintToString(c.extra));
    std::vector<std::string> arguments{"--simulate", "update"};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const ToolRun run = RunTool(arguments, {.answers = c.answers});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.err.find("write firmware D1.50 to this meter? [y/N]") != std::string::npos, c.asked) << run.err;
    if (c.asked) {
      EXPECT_NE(run.err.find("firmware   D1.40 now, D1.50 to write\nbattery    3.00 V\n"), std::string::npos)
          << run.err;
      EXPECT_NE(run.err.find("meter      B"), std::string::npos);
    }
    EXPECT_EQ(run.commitsOf[0], c.exitCode == kExitOk ? 235u : 0u);
    if (c.exitCode != kExitOk) {
      EXPECT_NE(run.err.find("nothing was written"), std::string::npos);
      EXPECT_TRUE(run.backups.empty());
    }
  }
}

TEST(LuConfirm, AMeterThatHasTheFirmwareIsLeftAloneUnlessForced) {
  const ToolRun current = RunTool({"--simulate=up-to-date", "update"}, {.answers = "y\n"});
  EXPECT_EQ(current.exitCode, kExitOk);
  EXPECT_EQ(current.out, "the meter already has firmware D1.50, complete: nothing to do (--force writes it again)\n");
  EXPECT_EQ(current.err, "");  // not even asked
  EXPECT_EQ(current.commitsOf[0], 0u);
  EXPECT_TRUE(current.backups.empty());
  const auto json = JsonLines(RunTool({"--simulate=up-to-date", "update", "--json"}).out);
  EXPECT_EQ(json.at(0)["result"], "up-to-date");

  const ToolRun forced = RunTool({"--simulate=up-to-date", "update", "--force"});
  EXPECT_EQ(forced.exitCode, kExitOk) << forced.err;
  EXPECT_EQ(forced.commitsOf[0], 235u);
  // Incomplete firmware of the same version is not "already there".
  const ToolRun incomplete = RunTool({"--simulate=up-to-date", "update"}, {.prepare = [](sim::SimMeter& meter) {
                                        meter.SetFirmwareFlag(kFirmwareUpdating);
                                      }});
  EXPECT_EQ(incomplete.commitsOf[0], 235u);
}

// --- no meter ---

TEST(LuNoMeter, SaysAtOnceWhatItWaitsForAndWhatToTry) {
  const ToolRun none = RunTool({"--simulate=no-meter", "--wait", "5", "status"});
  EXPECT_EQ(none.exitCode, kExitNoMeter);
  const std::size_t waiting = none.err.find("waiting up to 5 s for a meter (USB ff4d:f538)");
  const std::size_t tryThis = none.err.find("plug the meter in");
  const std::size_t cable = none.err.find("another cable");
  const std::size_t gaveUp = none.err.find("no meter found within 5 s");
  EXPECT_NE(waiting, std::string::npos) << none.err;
  EXPECT_NE(cable, std::string::npos);
  EXPECT_LT(waiting, tryThis);
  EXPECT_LT(tryThis, gaveUp);
  EXPECT_NE(gaveUp, std::string::npos);
  EXPECT_NE(none.err.find("--wait N", gaveUp), std::string::npos);

  const ToolRun denied = RunTool({"--simulate=no-meter", "--wait", "2", "update"}, {.inaccessible = {"/dev/hidraw3"}});
  EXPECT_EQ(denied.exitCode, kExitNoMeter);
  EXPECT_NE(denied.err.find("no permission to open the meter /dev/hidraw3: install the udev rule 70-lu14-meter.rules"),
            std::string::npos)
      << denied.err;
  // A meter present is found at once, also with --wait 0.
  EXPECT_EQ(RunTool({"--simulate", "--wait", "0", "status"}).exitCode, kExitOk);
}

// --- one spelling ---

TEST(LuOptions, StatusJsonAndTheOptionCommandSpellEachOptionAlike) {
  const ToolRun text = RunTool({"--simulate", "status"});
  const auto json = JsonLines(RunTool({"--simulate", "status", "--json"}).out).at(0);
  std::vector<std::string> keys;
  for (const auto& [key, value] : json["options"].items()) keys.push_back(key);
  for (const OptionName& option : OptionNames()) {
    EXPECT_NE(text.out.find(std::string("option     ") + option.name + " off\n"), std::string::npos) << option.name;
    EXPECT_NE(std::find(keys.begin(), keys.end(), option.name), keys.end()) << option.name;
    const ParseResult parsed = ParseCommandLine({"option", option.name, "on"});
    EXPECT_EQ(parsed.options.has_value(), option.writable) << option.name;
    if (option.writable) {
      EXPECT_EQ(RunTool({"--simulate", "option", option.name, "on"}).out, std::string(option.name) + " on\n");
    }
  }
  EXPECT_EQ(keys.size(), OptionNames().size());
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

// --record writes its file as the process runs; --replay reads it back, and
// the process exits as the recorded one did, or with 1 when the file is refused.
TEST(LuBinary, RecordsAndReplaysAProcess) {
  const std::filesystem::path folder = FreshFolder("lu14-recordings");
  const std::string status = (folder / "status.jsonl").string();
  const Process recorded = RunBinary("--simulate --record '" + status + "' status");
  ASSERT_EQ(recorded.exitCode, 0) << recorded.err;
  const Process replayed = RunBinary("--replay '" + status + "' status");
  EXPECT_EQ(replayed.exitCode, 0) << replayed.err;
  EXPECT_EQ(replayed.out, recorded.out);

  const std::string failed = (folder / "failed.jsonl").string();
  const Process update = RunBinary("--simulate=sum-mismatch --record '" + failed + "' update");
  EXPECT_EQ(update.exitCode, 1);
  const Process again = RunBinary("update --replay='" + failed + "' --json");
  EXPECT_EQ(again.exitCode, 1) << again.err;
  EXPECT_NE(again.out.find("the meter did not confirm the chunk at byte 15984"), std::string::npos) << again.out;

  // An existing file is never replaced by a recording: it is left as it was.
  const auto sizeBefore = std::filesystem::file_size(status);
  const Process replaced = RunBinary("--simulate --record '" + status + "' list");
  EXPECT_EQ(replaced.exitCode, 4);
  EXPECT_NE(replaced.err.find("a recording never replaces a file"), std::string::npos) << replaced.err;
  EXPECT_EQ(std::filesystem::file_size(status), sizeBefore);

  const std::string garbage = (folder / "garbage.jsonl").string();
  std::ofstream(garbage) << "not json\n";
  const Process refused = RunBinary("--replay '" + garbage + "' status --json");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("is not a recording lu14 can replay: line 1: not a JSON line"), std::string::npos)
      << refused.err;
  EXPECT_EQ(nlohmann::json::parse(refused.out)["exit"], 1) << refused.out;
  EXPECT_EQ(RunBinary("--replay '" + (folder / "missing.jsonl").string() + "' status").exitCode, 1);
}

// update --all in a process: the meters' threads on the wall clock, their
// backups in the same minute on the real file system. (Each meter stops at
// chunk 1000, which keeps this short.)
TEST(LuBinary, UpdatesEveryMeterAtOnce) {
  const Process run = RunBinary("--simulate=sum-mismatch --meters 3 update --all --json");
  EXPECT_EQ(run.exitCode, kExitFailed) << run.err;
  const std::vector<nlohmann::json> lines = JsonLines(run.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back()["event"], "summary");
  std::set<std::string> meters, backups;
  for (const nlohmann::json& line : lines) {
    if (line["event"] != "result") continue;
    EXPECT_EQ(line["result"], "stopped") << line;
    meters.insert(line["meter"].get<std::string>());
    const std::string backup = line["backup"];
    EXPECT_EQ(std::filesystem::file_size(backup), 4352u) << backup;
    backups.insert(backup);
  }
  EXPECT_EQ(meters, (std::set<std::string>{"simulated-meter-1", "simulated-meter-2", "simulated-meter-3"}));
  EXPECT_EQ(backups.size(), 3u);
}

TEST(LuBinary, StreamsLanguageAndJsonOfAProcess) {
  const Process version = RunBinary("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, std::string("lu14 ") + ToolVersion() + "\n");

  // Without a terminal nothing is asked; results on stdout, progress and
  // errors on stderr. (An update that stops at chunk 1000 keeps this short.)
  const Process update = RunBinary("--simulate=sum-mismatch update");
  EXPECT_EQ(update.exitCode, kExitFailed) << update.err;
  EXPECT_TRUE(update.out.starts_with("settings saved to ")) << update.out;
  EXPECT_EQ(update.out.find('%'), std::string::npos);
  EXPECT_EQ(update.out.find("failed"), std::string::npos);
  EXPECT_NE(update.err.find("writing firmware: 20%"), std::string::npos) << update.err;
  EXPECT_NE(update.err.find("\nlu14: error: update failed: "), std::string::npos) << update.err;
  EXPECT_EQ(update.err.find("[y/N]"), std::string::npos);

  const Process none = RunBinary("--simulate=no-meter --wait 0 status --json");
  EXPECT_EQ(none.exitCode, kExitNoMeter);
  EXPECT_EQ(nlohmann::json::parse(none.out)["error"], "no-meter");
  const Process usage = RunBinary("--json --wait 1e1 status");
  EXPECT_EQ(usage.exitCode, kExitUsage);
  EXPECT_EQ(nlohmann::json::parse(usage.out)["error"], "usage");
  EXPECT_NE(usage.err.find("not \"1e1\""), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(usage.out)["message"], "--wait takes a whole number from 0 to 3600, not \"1e1\"");

  // The locale chooses the language, LC_ALL first.
  EXPECT_NE(RunBinary("flash", {.environment = "LANG=ru_RU.UTF-8"}).err.find("неизвестная команда \"flash\""),
            std::string::npos);
  EXPECT_NE(RunBinary("flash", {.environment = "LC_ALL=C LANG=ru_RU.UTF-8"}).err.find("unknown command \"flash\""),
            std::string::npos);
  EXPECT_NE(RunBinary("--help", {.environment = "LC_MESSAGES=ru_RU.UTF-8"}).out.find("Коды завершения"),
            std::string::npos);
}

}  // namespace
}  // namespace lu14::cli
