// lu14 backup and lu14 restore against the simulated meter, in virtual time.
// A bench carries the meter's EEPROM and the user's files from one run to
// the next, so that a backup can be restored, and a restore that failed
// part-way run again.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/SimulatedMeter.h"
#include "device/MeterMemory.h"
#include "device/MeterProtocol.h"
#include "sim/SimFileSystem.h"
#include "sim/SimHidBus.h"
#include "sim/SimRuntime.h"
#include "sim/meter/SimMeter.h"
#include "update/SettingsBackup.h"

namespace lu14::cli {
namespace {

const sim::Path kDocuments = "/home/u/Documents";
const sim::Path kBackups = kDocuments / "lu14";

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::size_t eepromWrites = 0;  // write commands the first meter received
  std::size_t eepromReads = 0;
};

struct RunSetup {
  // Changes to the meters before the run (faults, other settings).
  std::function<void(SimulatedMeter&)> prepare{};
  // Called before every byte a restore writes (as the stop check): may pull
  // the meter out; returns how many stop signals have arrived.
  std::function<int(SimulatedMeter&, sim::SimHidBus&)> beforeByte{};
  // A person at a terminal who types this.
  std::optional<std::string> answers{};
  Language language = Language::English;
  bool documents = true;
  // The user's disk before the run (full, ...).
  std::function<void(sim::SimFileSystem&)> disk{};
};

// The meters' EEPROMs and the user's files, carried from run to run.
struct Bench {
  std::vector<std::vector<std::uint8_t>> eeproms;
  std::map<sim::Path, std::string> files;

  ToolRun operator()(const std::vector<std::string>& arguments, const RunSetup& setup = {}) {
    ToolRun run;
    const ParseResult parsed = ParseCommandLine(arguments, setup.language);
    if (!parsed.options) {
      run.exitCode = parsed.exitCode;
      run.err = parsed.message;
      return run;
    }
    sim::SimFileSystem disk(setup.documents ? std::optional(kDocuments) : std::nullopt);
    if (setup.documents) Plant(disk);
    if (setup.disk) setup.disk(disk);
    sim::SimRuntime::Setup runtimeSetup;
    runtimeSetup.files = &disk;
    runtimeSetup.startTime = {2026, 12, 10, 9, 30, 0};
    sim::SimRuntime runtime(runtimeSetup);
    SimulatedMeter meter(runtime, parsed.options->simulatedFault, std::chrono::microseconds(0),
                         parsed.options->simulatedMeters);
    for (std::size_t i = 0; i < eeproms.size(); ++i) meter.Meter(i).SetEeprom(0, eeproms[i]);
    meter.Meter().SetTracing(true);
    if (setup.prepare) setup.prepare(meter);
    std::ostringstream out, err;
    std::istringstream answers(setup.answers.value_or(""));
    CliSession session(*parsed.options, runtime, runtime, meter.Platform(), out, err, false, [&] { meter.Step(); });
    if (setup.answers) session.SetAnswers(answers);
    session.SetUserFiles({.read = [&](const std::filesystem::path& path, std::size_t limit) -> InputText {
                            const auto bytes = disk.FileContents(path);
                            if (!bytes) return {{}, InputFault::Missing};
                            if (bytes->size() > limit) return {{}, InputFault::TooLarge};
                            return {std::string(bytes->begin(), bytes->end()), InputFault::None};
                          },
                          .exists = [&](const std::filesystem::path& path) { return disk.FileContents(path).has_value(); }});
    auto& bus = static_cast<sim::SimHidBus&>(meter.Platform());
    session.SetStopRequests([&] { return setup.beforeByte ? setup.beforeByte(meter, bus) : 0; });
    run.exitCode = session.Run();
    run.out = out.str();
    run.err = err.str();
    run.eepromWrites = meter.Meter().Requests(cmdWriteEeprom).size();
    run.eepromReads = meter.Meter().Requests(cmdReadEeprom).size();
    eeproms.clear();
    for (int i = 0; i < parsed.options->simulatedMeters; ++i) {
      const auto bytes = meter.Meter(static_cast<std::size_t>(i)).EepromBytes();
      eeproms.emplace_back(bytes.begin(), bytes.end());
    }
    if (setup.documents) {
      for (const sim::Path& folder : {kDocuments, kBackups}) {
        for (const sim::Path& file : disk.FilesIn(folder)) {
          const auto bytes = disk.FileContents(file);
          files[file] = std::string(bytes->begin(), bytes->end());
        }
      }
    }
    return run;
  }

  void Plant(sim::SimFileSystem& disk) const {
    disk.DocumentsFolder();
    disk.MakeDirectory(kBackups);
    for (const auto& [path, text] : files) {
      auto file = disk.CreateOutputFile(path);
      ASSERT_TRUE(file) << path;
      file->Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
      file->Close();
    }
  }

  std::vector<sim::Path> Backups() const {
    std::vector<sim::Path> backups;
    for (const auto& [path, text] : files) {
      if (path.parent_path() == kBackups) backups.push_back(path);
    }
    return backups;
  }
  std::uint8_t Eeprom(std::size_t address, std::size_t meter = 0) const { return eeproms.at(meter).at(address); }
  // The settings of the first meter changed: two options and the battery
  // coefficient, and what an update since then has written.
  void ChangeSettings() {
    auto& eeprom = eeproms.at(0);
    eeprom[kEepromCapacitance] = 0;  // capacitance on
    eeprom[kEepromMenuSwap] = 1;  // menu-swap on
    eeprom[kEepromBatteryCoefficient + 2] = 0xA0;
    eeprom[kEepromBatteryCoefficient + 3] = 0x40;  // 1.0 was 00 00 80 3F: now 5.0
    for (std::size_t i = 0; i < 5; ++i) eeprom[kEepromVersionText + i] = static_cast<std::uint8_t>("D1.50"[i]);
    eeprom[kEepromAfterUpdate] = 0;
  }
  // The first meter's EEPROM as a fresh simulated meter has it.
  static std::vector<std::uint8_t> FreshEeprom() {
    sim::SimFileSystem disk;
    sim::SimRuntime::Setup setup;
    setup.files = &disk;
    sim::SimRuntime runtime(setup);
    SimulatedMeter meter(runtime, "", std::chrono::microseconds(0));
    return {meter.Meter().EepromBytes().begin(), meter.Meter().EepromBytes().end()};
  }
};

// A bench whose first meter has been backed up once, into Documents/lu14.
struct BackedUp : Bench {
  sim::Path backup;
  std::vector<std::uint8_t> saved;
  BackedUp() {
    const ToolRun run = (*this)({"--simulate", "backup"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Backups().size(), 1u);
    backup = Backups().at(0);
    saved = eeproms.at(0);
  }
};

// --- backup ---

TEST(LuBackup, SavesTheWindowsFormatUnderTheWindowsNameNeverReplacingAFile) {
  Bench bench;
  const ToolRun first = bench({"--simulate", "backup"});
  ASSERT_EQ(first.exitCode, kExitOk) << first.err;
  ASSERT_EQ(bench.Backups().size(), 1u);
  const sim::Path file = bench.Backups()[0];
  EXPECT_EQ(first.out, "settings saved to " + file.string() + "\n");
  // <identity><version>_HHMM_DDMMYY.hex, the bytes as BackupLine writes them.
  const std::string name = file.filename().string();
  EXPECT_EQ(name.size(), 35u + 5u + std::string("_0930_101226.hex").size()) << name;
  EXPECT_TRUE(name.ends_with("D1.40_0930_101226.hex")) << name;
  std::string expected;
  for (std::size_t line = 0; line < 128; ++line) expected += BackupLine(bench.eeproms[0].data() + line * 16);
  EXPECT_EQ(bench.files[file], expected);
  EXPECT_EQ(first.eepromWrites, 0u);

  // A second backup in the same minute gets _2; the first stays as it was.
  const ToolRun second = bench({"--simulate", "backup", "--json"});
  ASSERT_EQ(second.exitCode, kExitOk) << second.err;
  ASSERT_EQ(bench.Backups().size(), 2u);
  const auto json = nlohmann::json::parse(second.out);
  EXPECT_TRUE(json["backup"].get<std::string>().ends_with("D1.40_0930_101226_2.hex")) << second.out;
  EXPECT_EQ(json["firmware"], "D1.40");
  EXPECT_EQ(bench.files[file], expected);
}

TEST(LuBackup, OutputNamesTheFileAndAnExistingOneIsRefusedUntouched) {
  Bench bench;
  const std::string mine = (kDocuments / "mine.hex").string();
  const ToolRun saved = bench({"--simulate", "backup", "--output", mine});
  ASSERT_EQ(saved.exitCode, kExitOk) << saved.err;
  EXPECT_EQ(saved.out, "settings saved to " + mine + "\n");
  const std::string text = bench.files.at(mine);
  EXPECT_EQ(text.size(), 128u * 34u);
  EXPECT_TRUE(bench.Backups().empty());

  bench.files[mine] = "my own notes";
  const ToolRun refused = bench({"--simulate", "backup", "--output=" + mine});
  EXPECT_EQ(refused.exitCode, kExitRefused);
  EXPECT_NE(refused.err.find(mine + " exists: a backup never replaces a file"), std::string::npos) << refused.err;
  EXPECT_EQ(bench.files.at(mine), "my own notes");
  EXPECT_EQ(refused.eepromReads, 0u);  // refused before the meter is read

  // Nowhere to save: said, with what to do.
  const ToolRun nowhere = bench({"--simulate", "backup"}, {.documents = false});
  EXPECT_EQ(nowhere.exitCode, kExitFailed);
  EXPECT_NE(nowhere.err.find("no usable Documents folder; name a file with --output FILE"), std::string::npos)
      << nowhere.err;
  // A full disk: said with the path and the reason; no part of the backup is left.
  const ToolRun full = bench({"--simulate", "backup"}, {.disk = [](sim::SimFileSystem& disk) { disk.SetFreeSpace(1000); }});
  EXPECT_EQ(full.exitCode, kExitFailed);
  EXPECT_NE(full.err.find("the settings backup could not be written to " + kBackups.string() + " (" +
                          kBackups.string() + "/"),
            std::string::npos)
      << full.err;
  EXPECT_NE(full.err.find(".part: No space left on device); no backup was saved"), std::string::npos) << full.err;
  EXPECT_TRUE(bench.Backups().empty());
  // A folder that does not exist: the backup fails and leaves nothing.
  const ToolRun missing = bench({"--simulate", "backup", "--output", "/home/u/nowhere/x.hex"});
  EXPECT_EQ(missing.exitCode, kExitFailed);
  EXPECT_NE(missing.err.find("could not be written to /home/u/nowhere/x.hex"), std::string::npos) << missing.err;
}

// "--output -" writes the backup's text to standard output, nothing else
// there, and no file; a read that fails part-way says the text is no backup.
TEST(LuBackup, OutputDashWritesTheBackupToStandardOutput) {
  Bench bench;
  const ToolRun piped = bench({"--simulate", "backup", "--output", "-"});
  ASSERT_EQ(piped.exitCode, kExitOk) << piped.err;
  std::string expected;
  for (std::size_t line = 0; line < 128; ++line) expected += BackupLine(bench.eeproms[0].data() + line * 16);
  EXPECT_EQ(piped.out, expected);
  EXPECT_TRUE(bench.Backups().empty());
  EXPECT_FALSE(bench.files.contains("-"));

  const ToolRun unread = bench({"--simulate", "backup", "--output=-"}, {.prepare = [](SimulatedMeter& meter) {
    // Past the status reads, part-way through the backup, no read completes.
    meter.Meter().Faults().Add({.which = {cmdReadEeprom, 500, sim::Commands::kEvery, true},
                                .busyReads = sim::CommandFault::kForever});
  }});
  EXPECT_EQ(unread.exitCode, kExitFailed);
  EXPECT_NE(unread.err.find("the backup written to standard output is incomplete: do not keep it"), std::string::npos)
      << unread.err;
  EXPECT_FALSE(unread.out.empty());  // the lines read before the failure went out
  EXPECT_LT(unread.out.size(), expected.size());

  EXPECT_NE(ParseCommandLine({"--json", "backup", "--output", "-"}).message.find(
                "--output - writes the backup to standard output, where --json writes too"),
            std::string::npos);
}

// --- restore ---

TEST(LuRestore, ABackupOfTheMeterAsItIsChangesNothing) {
  BackedUp bench;
  const ToolRun run = bench({"--simulate", "restore", bench.backup.string()});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, "the meter already holds the settings of " + bench.backup.filename().string() +
                         ": nothing to write\n");
  EXPECT_EQ(run.eepromWrites, 0u);
  EXPECT_EQ(bench.eeproms[0], bench.saved);
}

TEST(LuRestore, BackupChangeTheMeterRestoreRoundTrip) {
  BackedUp bench;
  bench.ChangeSettings();
  const std::vector<std::uint8_t> changed = bench.eeproms[0];

  const ToolRun dry = bench({"--simulate", "restore", "--dry-run", bench.backup.string()});
  EXPECT_EQ(dry.exitCode, kExitOk) << dry.err;
  EXPECT_EQ(dry.eepromWrites, 0u);
  EXPECT_EQ(bench.eeproms[0], changed);
  EXPECT_NE(dry.err.find("dry run: nothing was written"), std::string::npos);
  // Grouped by what the bytes are; the update's own listed as skipped.
  const std::string expected =
      "4 bytes to write from " + bench.backup.filename().string() + ", 2 skipped:\n"
      "options:\n"
      "   856  meter 00  file 01  capacitance\n"
      "  1022  meter 01  file 00  menu-swap\n"
      "battery coefficient:\n"
      "   978  meter A0  file 80\n"
      "   979  meter 40  file 3F\n"
      "skipped (written only by a firmware update):\n"
      "   835  meter 35  file 34  version text\n"
      "   958  meter 00  file CD  after-update mark\n";
  EXPECT_EQ(dry.out, expected);

  const ToolRun restored = bench({"--simulate", "restore", bench.backup.string()});
  EXPECT_EQ(restored.exitCode, kExitOk) << restored.err;
  EXPECT_NE(restored.out.find("bytes written and read back: the meter holds the settings of"), std::string::npos)
      << restored.out;
  // The settings are back; what the update wrote stays.
  std::vector<std::uint8_t> expectedEeprom = bench.saved;
  for (std::size_t i = 0; i < 5; ++i) expectedEeprom[kEepromVersionText + i] = changed[kEepromVersionText + i];
  expectedEeprom[kEepromAfterUpdate] = changed[kEepromAfterUpdate];
  EXPECT_EQ(bench.eeproms[0], expectedEeprom);
  const ToolRun status = bench({"--simulate", "status"});
  EXPECT_NE(status.out.find("option     capacitance off\n"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("option     menu-swap off\n"), std::string::npos);
}

TEST(LuRestore, ShowsEveryDifferenceAndTheOutcomeAsJson) {
  BackedUp bench;
  bench.ChangeSettings();
  const ToolRun run = bench({"--simulate", "restore", "--json", bench.backup.string()});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.err.find("error"), std::string::npos) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["ok"], true);
  EXPECT_EQ(json["exit"], 0);
  EXPECT_EQ(json["dry-run"], false);
  const auto& differences = json["differences"];
  ASSERT_EQ(differences.size(), 4u);
  EXPECT_EQ(differences[0], (nlohmann::json{{"address", 856}, {"part", "option"}, {"option", "capacitance"},
                                            {"meter", 0}, {"file", 1}}));
  EXPECT_EQ(differences[1], (nlohmann::json{{"address", 978}, {"part", "battery-coefficient"}, {"meter", 0xA0},
                                            {"file", 0x80}}));
  EXPECT_EQ(differences[3]["option"], "menu-swap");
  std::set<std::string> skipped;
  for (const auto& byte : json["skipped"]) skipped.insert(byte["part"]);
  EXPECT_EQ(skipped, (std::set<std::string>{"version-text", "after-update"}));
  ASSERT_EQ(json["written"].size(), differences.size());
  for (std::size_t i = 0; i < differences.size(); ++i) {
    EXPECT_EQ(json["written"][i]["address"], differences[i]["address"]);
    EXPECT_EQ(json["written"][i]["result"], "confirmed");
    EXPECT_EQ(json["written"][i]["read-back"], differences[i]["file"]);
  }
}

TEST(LuRestore, AFileThatIsNotABackupIsRefusedWithItsFirstFaultAndNothingWritten) {
  BackedUp bench;
  const std::string good = bench.files[bench.backup];
  const auto at = [](std::size_t line, std::size_t column) { return (line - 1) * 34 + column - 1; };
  struct Case {
    const char* what;
    std::string text;
    const char* says;
  };
  std::string withLineFeeds;
  for (const char c : good) {
    if (c != '\r') withLineFeeds += c;
  }
  const Case cases[] = {
      {"a short line", std::string(good).erase(at(7, 3), 1),
       " is not a settings backup: line 7, column 32: the line ends before its 32 hex digits"},
      {"a bad digit", std::string(good).replace(at(2, 5), 1, "Z"),
       " is not a settings backup: line 2, column 5: \"Z\" where a hex digit belongs"},
      {"a control byte", std::string(good).replace(at(2, 5), 1, "\x1B"),
       " is not a settings backup: line 2, column 5: \\x1B where a hex"},
      {"127 lines", good.substr(0, at(128, 1)),
       " is not a settings backup: line 128, column 1: the file ends before its 128 lines"},
      {"extra data", withLineFeeds + "00\n",
       " is not a settings backup: line 129, column 1: something follows the 128 lines"},
      {"an empty file", "", " is not a settings backup: line 1, column 1: the file ends before its 128 lines"},
      // No backup is longer than one with CR LF line ends: a larger file is refused unread.
      {"a byte more than a whole backup", good + "0", " is larger than a settings backup (4352 bytes)"},
  };
  // The faults go into a copy with the backup's own name, so only the text is wrong.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bench.files[bench.backup] = c.text;
    bench.ChangeSettings();
    const std::vector<std::uint8_t> before = bench.eeproms[0];
    const ToolRun run = bench({"--simulate", "restore", "--yes", bench.backup.string()});
    EXPECT_EQ(run.exitCode, kExitFailed);
    EXPECT_NE(run.err.find(bench.backup.string() + c.says), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("nothing was written"), std::string::npos);
    EXPECT_EQ(run.err.find('\x1B'), std::string::npos);
    EXPECT_EQ(run.eepromWrites, 0u);
    EXPECT_EQ(run.eepromReads, 0u);  // the meter is not even read
    EXPECT_EQ(bench.eeproms[0], before);
  }
  const ToolRun missing = bench({"--simulate", "restore", "/home/u/Documents/none.hex"});
  EXPECT_EQ(missing.exitCode, kExitFailed);
  EXPECT_NE(missing.err.find("/home/u/Documents/none.hex cannot be read; nothing was written"), std::string::npos);
  const ToolRun json = bench({"--simulate", "restore", "--json", "/home/u/Documents/none.hex"});
  EXPECT_EQ(nlohmann::json::parse(json.out)["error"], "failed");
}

TEST(LuRestore, ABackupOfAnotherMeterOrOfAnUnnamedOneIsRefusedUnlessForced) {
  BackedUp bench;
  // Two meters: the backup is the first one's.
  bench.eeproms.push_back(Bench::FreshEeprom());
  bench.eeproms[1][kEepromCapacitance] = 0;
  const std::vector<std::string> toSecond{"--simulate", "--meters", "2", "--device", "simulated-meter-2", "restore",
                                          bench.backup.string()};
  const ToolRun other = bench(toSecond);
  EXPECT_EQ(other.exitCode, kExitRefused);
  EXPECT_NE(other.err.find("is a backup of the meter B"), std::string::npos) << other.err;
  EXPECT_NE(other.err.find("--force restores it anyway"), std::string::npos);
  EXPECT_EQ(bench.Eeprom(kEepromCapacitance, 1), 0);
  std::vector<std::string> forced = toSecond;
  forced.push_back("--force");
  const ToolRun done = bench(forced);
  EXPECT_EQ(done.exitCode, kExitOk) << done.err;
  EXPECT_NE(done.err.find("restoring it anyway (--force)"), std::string::npos);
  EXPECT_EQ(bench.Eeprom(kEepromCapacitance, 1), 1);
  // A restore writes: with two meters it needs --device.
  EXPECT_EQ(bench({"--simulate", "--meters", "2", "restore", bench.backup.string()}).exitCode, kExitRefused);

  // A file whose name gives no meter: refused the same way.
  bench.eeproms.resize(1);
  bench.files[kDocuments / "settings.hex"] = bench.files[bench.backup];
  bench.ChangeSettings();
  const ToolRun unnamed = bench({"--simulate", "restore", (kDocuments / "settings.hex").string()});
  EXPECT_EQ(unnamed.exitCode, kExitRefused);
  EXPECT_NE(unnamed.err.find("the name of settings.hex does not say which meter it came from"), std::string::npos)
      << unnamed.err;
  EXPECT_EQ(unnamed.eepromWrites, 0u);
  // A dry run writes nothing: it shows the differences and says the doubt.
  const ToolRun looked = bench({"--simulate", "restore", "--dry-run", (kDocuments / "settings.hex").string()});
  EXPECT_EQ(looked.exitCode, kExitOk) << looked.err;
  EXPECT_NE(looked.err.find("does not say which meter it came from"), std::string::npos) << looked.err;
  EXPECT_NE(looked.err.find("; the differences follow all the same (--dry-run writes nothing)"), std::string::npos)
      << looked.err;
  EXPECT_NE(looked.out.find(" 856 "), std::string::npos) << looked.out;
  EXPECT_EQ(looked.eepromWrites, 0u);
  EXPECT_EQ(bench({"--simulate", "restore", "--force", (kDocuments / "settings.hex").string()}).exitCode, kExitOk);
  EXPECT_EQ(bench.Eeprom(kEepromCapacitance), bench.saved[kEepromCapacitance]);

  // The same meter after an update: its version changed, the backup is still its own.
  const ToolRun updated = bench({"--simulate=up-to-date", "restore", "--dry-run", bench.backup.string()});
  EXPECT_EQ(updated.exitCode, kExitOk) << updated.err;
  EXPECT_NE(updated.err.find("the backup was saved with firmware D1.40, the meter now has D1.50"), std::string::npos)
      << updated.err;
}

TEST(LuRestore, AFaultPartWayLeavesAnAccountAndTheSameCommandFinishesTheJob) {
  struct Case {
    const char* what;
    RunSetup setup;
    int exitCode;
    const char* says;
  };
  const auto secondWrite = [](sim::CommandFault fault) {
    return [fault](SimulatedMeter& meter) {
      sim::CommandFault onSecond = fault;
      onSecond.which = {cmdWriteEeprom, 1, 1, true};
      meter.Meter().Faults().Add(onSecond);
    };
  };
  const Case cases[] = {
      // The simulated meter stores the byte though it never confirms the write.
      {"a write that stays busy", {.prepare = secondWrite({.busyReads = sim::CommandFault::kForever})}, kExitFailed,
       "restore failed at address 978: the meter did not confirm the write (the byte now reads back 80); of the 4 "
       "bytes to write: 1 written and read back (those before 978), 1 failed (978), 2 not tried (those after it); "
       "run the same command again"},
      {"every write stays busy (--simulate=write-refused)",
       {.prepare =
            [](SimulatedMeter& meter) {
              meter.Meter().Faults().Add(
                  {.which = sim::Commands::AllOf(cmdWriteEeprom), .busyReads = sim::CommandFault::kForever});
            }},
       kExitFailed,
       "restore failed at address 856: the meter did not confirm the write (the byte now reads back 01); of the 4 "
       "bytes to write: 0 written and read back (those before 856), 1 failed (856), 3 not tried"},
      {"a read-back that never completes",
       {.beforeByte =
            [](SimulatedMeter& meter, sim::SimHidBus&) {
              // The next read is the second byte's read-back.
              if (meter.Meter().Requests(cmdWriteEeprom).size() == 1) {
                meter.Meter().Faults().Add({.which = {cmdReadEeprom, 0, kConfirmedReadAttempts, true},
                                            .busyReads = sim::CommandFault::kForever});
              }
              return 0;
            }},
       kExitFailed, "restore failed at address 978: the byte could not be read back"},
      {"the meter pulled out before the second byte",
       {.beforeByte =
            [](SimulatedMeter& meter, sim::SimHidBus& bus) {
              if (meter.Meter().Requests(cmdWriteEeprom).size() == 1 && bus.Present(1)) bus.Unplug(1);
              return 0;
            }},
       kExitFailed, "restore failed at address 978: the meter did not confirm the write"},
      {"a stop signal between two bytes",
       {.beforeByte = [](SimulatedMeter& meter,
                         sim::SimHidBus&) { return meter.Meter().Requests(cmdWriteEeprom).size() >= 2 ? 1 : 0; }},
       kExitInterrupted,
       "interrupted: of the 4 bytes to write: 2 written and read back, 2 not tried (from address 979 on); run the "
       "same command again"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BackedUp bench;
    bench.ChangeSettings();
    const ToolRun failed = bench({"--simulate", "restore", bench.backup.string()}, c.setup);
    EXPECT_EQ(failed.exitCode, c.exitCode);
    EXPECT_NE(failed.err.find(c.says), std::string::npos) << failed.err;
    EXPECT_EQ(failed.out.find("written and read back: the meter holds"), std::string::npos);
    EXPECT_NE(bench.eeproms[0], bench.saved);

    const ToolRun rerun = bench({"--simulate", "restore", bench.backup.string()});
    EXPECT_EQ(rerun.exitCode, kExitOk) << rerun.err;
    EXPECT_LE(rerun.eepromWrites, 3u);  // only what still differed
    EXPECT_GE(rerun.eepromWrites, 2u);
    for (const std::uint16_t address : {kEepromCapacitance, kEepromMenuSwap}) {
      EXPECT_EQ(bench.Eeprom(address), bench.saved[address]) << address;
    }
    for (std::uint16_t i = 0; i < 4; ++i) {
      EXPECT_EQ(bench.Eeprom(kEepromBatteryCoefficient + i), bench.saved[kEepromBatteryCoefficient + i]);
    }
  }
  // The account in JSON: each byte's result.
  BackedUp bench;
  bench.ChangeSettings();
  const ToolRun json = bench({"--simulate", "restore", "--json", bench.backup.string()},
                         {.prepare = secondWrite({.busyReads = sim::CommandFault::kForever})});
  const auto result = nlohmann::json::parse(json.out);
  EXPECT_EQ(result["ok"], false);
  EXPECT_EQ(result["exit"], kExitFailed);
  std::vector<std::string> results;
  for (const auto& byte : result["written"]) results.push_back(byte["result"]);
  EXPECT_EQ(results, (std::vector<std::string>{"confirmed", "write-not-confirmed", "not-tried", "not-tried"}));
  EXPECT_EQ(result["account"], (nlohmann::json{{"confirmed", 1}, {"failed", 1}, {"not-tried", 2}}));
  // The simulated meter stores the byte even though it never confirms the write.
  EXPECT_EQ(result["written"][1]["read-back"], result["differences"][1]["file"]);
}

TEST(LuRestore, OnATerminalItAsksBeforeWriting) {
  struct Case {
    std::optional<std::string> answers;
    std::vector<std::string> extra;
    int exitCode;
    bool asked;
  };
  const Case cases[] = {
      {"y\n", {}, kExitOk, true},
      {"n\n", {}, kExitFailed, true},
      {"", {}, kExitFailed, true},
      {"n\n", {"--yes"}, kExitOk, false},
      {std::nullopt, {}, kExitOk, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answers.value_or("(no terminal)") + ::testing::PrintToString(c.extra));
    BackedUp bench;
    bench.ChangeSettings();
    std::vector<std::string> arguments{"--simulate", "restore", bench.backup.string()};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const ToolRun run = bench(arguments, {.answers = c.answers});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.err.find("Write these 4 bytes into this meter (simulated-meter-1)? [y/N]") != std::string::npos,
              c.asked)
        << run.err;
    EXPECT_EQ(run.eepromWrites, c.exitCode == kExitOk ? 4u : 0u);
    if (c.exitCode != kExitOk) {
      EXPECT_NE(run.err.find("nothing was written"), std::string::npos);
    }
  }
}

TEST(LuRestore, ARussianRunSpeaksRussian) {
  BackedUp bench;
  bench.ChangeSettings();
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--simulate", "restore", "--dry-run", bench.backup.string()},
        std::vector<std::string>{"--simulate", "restore", (kDocuments / "none.hex").string()},
        std::vector<std::string>{"--simulate", "backup"}}) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const ToolRun run = bench(arguments, {.language = Language::Russian});
    const std::string text = run.out + run.err;
    EXPECT_NE(text.find("\xD0"), std::string::npos) << text;
    for (const char* english : {"the ", "bytes", "meter ", "file ", "nothing", "saved"}) {
      EXPECT_EQ(text.find(english), std::string::npos) << english << " in: " << text;
    }
  }
}

// --- the command line ---

TEST(LuRestoreCommandLine, OptionsArgumentsAndHelp) {
  const ParseResult restore = ParseCommandLine({"restore", "--dry-run", "--force", "-y", "a.hex"});
  ASSERT_TRUE(restore.options) << restore.message;
  EXPECT_EQ(restore.options->command, Command::Restore);
  EXPECT_EQ(restore.options->restoreFile, "a.hex");
  EXPECT_TRUE(restore.options->dryRun && restore.options->force && restore.options->yes);
  // A file name that looks like an option, after --.
  EXPECT_EQ(ParseCommandLine({"restore", "--", "--odd.hex"}).options->restoreFile, "--odd.hex");
  const ParseResult backup = ParseCommandLine({"backup", "--output", "/tmp/x.hex"});
  ASSERT_TRUE(backup.options) << backup.message;
  EXPECT_EQ(backup.options->outputFile, "/tmp/x.hex");

  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"restore"}, "restore needs the backup file"},
      {{"restore", "a.hex", "b.hex"}, "unexpected argument \"b.hex\""},
      {{"backup", "--output"}, "--output needs a value"},
      {{"backup", "--output="}, "--output needs a value"},
      {{"backup", "a.hex"}, "unexpected argument \"a.hex\""},
      {{"status", "--dry-run"}, "unknown option \"--dry-run\""},
      {{"backup", "--dry-run"}, "unknown option \"--dry-run\""},
      {{"restore", "a.hex", "--output", "b.hex"}, "unknown option"},
  };
  for (const auto& [arguments, says] : errors) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    const ParseResult parsed = ParseCommandLine(arguments);
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, kExitUsage);
    EXPECT_NE(parsed.message.find(says), std::string::npos) << parsed.message;
  }

  for (const Language language : {Language::English, Language::Russian}) {
    const std::string main = ParseCommandLine({"--help"}, language).message;
    for (const char* word : {"backup", "restore", "--output", "--dry-run"}) {
      EXPECT_NE(main.find(word), std::string::npos) << word;
    }
    const std::string restoreHelp = ParseCommandLine({"restore", "--help"}, language).message;
    for (const char* word : {"lu14 restore", "--dry-run", "--yes", "--force", "--json", "--device", "832-836", "958",
                             "1023", "128", "(", "4)", "1)"}) {
      EXPECT_NE(restoreHelp.find(word), std::string::npos) << word;
    }
    const std::string backupHelp = ParseCommandLine({"backup", "--help"}, language).message;
    for (const char* word : {"lu14 backup", "--output", "Documents/lu14", "_HHMM_DDMMYY.hex", "_2", "--json"}) {
      if (language == Language::Russian && std::string(word) == "_HHMM_DDMMYY.hex") continue;
      EXPECT_NE(backupHelp.find(word), std::string::npos) << word;
    }
  }
}

}  // namespace
}  // namespace lu14::cli
