// lu14 update --all: several simulated meters, each driven from a thread of
// its own in virtual time (the stop signals in wall-clock time), sharing one
// file system for their backups.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/fleet/MeterBoard.h"
#include "cli/fleet/MeterBoardView.h"
#include "cli/fleet/MeterRig.h"
#include "cli/fleet/OneMeterPlatform.h"
#include "cli/SimulatedMeter.h"
#include "cli/fleet/UpdateAll.h"
#include "cli/output/TerminalText.h"
#include "device/MeterMemory.h"
#include "sim/SimFileSystem.h"
#include "sim/SimHidBus.h"
#include "tests/cli/JsonLines.h"
#include "tests/cli/LuProcess.h"
#include "sim/SimRuntime.h"
#include "status/StatusParameters.h"
#include "update/BackupFile.h"
#include "update/FirmwarePayload.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

using Eeprom = std::array<std::uint8_t, kEepromSize>;

const sim::Path kDocuments("/home/u/Documents");

sim::SimRuntime::Setup WithFiles(sim::SimFileSystem& files) {
  sim::SimRuntime::Setup setup;
  setup.files = &files;
  return setup;
}

// Holds each meter's thread at its `at`-th read of a report (inside its
// settings backup) until a stop signal has reached every meter: the run's
// stop requests (Stops) say 1 once all of them wait, and let them go on at
// the board's next look, by which time it has passed the request on.
class BackupGate {
 public:
  BackupGate(std::size_t meters, std::size_t at) : meters_(meters), at_(at) {}

  // From a meter's thread, before its `read`-th read.
  void BeforeRead(std::size_t read) {
    if (read != at_) return;
    std::unique_lock<std::mutex> hold(mutex_);
    ++waiting_;
    open_.wait(hold, [&] { return opened_; });
  }
  int Stops() {
    const std::lock_guard<std::mutex> hold(mutex_);
    if (waiting_ < meters_) return 0;
    if (announced_) {
      opened_ = true;
      open_.notify_all();
    }
    announced_ = true;
    return 1;
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  std::size_t meters_;
  std::size_t at_;
  std::size_t waiting_ = 0;
  bool announced_ = false;
  bool opened_ = false;
};

// A platform whose handles count their reads for the gate.
class GatedPlatform : public HidPlatform {
 public:
  GatedPlatform(HidPlatform& inner, BackupGate& gate) : inner_(inner), gate_(gate) {}
  bool Bind() override { return inner_.Bind(); }
  std::optional<std::vector<HidInterface>> PresentInterfaces() override { return inner_.PresentInterfaces(); }
  std::unique_ptr<HidHandle> Open(const std::u16string& path, bool readWrite) override {
    std::unique_ptr<HidHandle> handle = inner_.Open(path, readWrite);
    if (!handle) return nullptr;
    return std::make_unique<Handle>(std::move(handle), *this);
  }
  bool StartNotifications(std::function<void(std::intptr_t)> notify) override {
    return inner_.StartNotifications(std::move(notify));
  }
  void PostDevicesChanged(std::intptr_t second) override { inner_.PostDevicesChanged(second); }
  void StopNotifications() override { inner_.StopNotifications(); }

 private:
  class Handle : public HidHandle {
   public:
    Handle(std::unique_ptr<HidHandle> inner, GatedPlatform& owner) : inner_(std::move(inner)), owner_(owner) {}
    std::optional<HidAttributes> GetAttributes() override { return inner_->GetAttributes(); }
    std::unique_ptr<HidPreparsedData> GetPreparsedData() override { return inner_->GetPreparsedData(); }
    bool SetFeature(std::span<const std::uint8_t> report) override { return inner_->SetFeature(report); }
    bool GetFeature(std::span<std::uint8_t> report) override {
      owner_.gate_.BeforeRead(++owner_.reads_);
      return inner_->GetFeature(report);
    }

   private:
    std::unique_ptr<HidHandle> inner_;
    GatedPlatform& owner_;
  };

  HidPlatform& inner_;
  BackupGate& gate_;
  std::size_t reads_ = 0;
};

// A meter's rig in virtual time: every rig starts at the same minute, so
// their backups fall in it together.
class VirtualRig : public MeterRig {
 public:
  VirtualRig(const SimulatedMeter& meters, const std::string& id, sim::SimFileSystem& files, BackupGate* gate)
      : runtime_(WithFiles(files)), bus_(meters.BusOf(id, runtime_)) {
    if (gate && bus_) gated_.emplace(bus_->Platform(), *gate);
  }
  bool Serves() const { return bus_ != nullptr; }
  Shell& RigShell() override { return runtime_; }
  EventLoop& Loop() override { return runtime_; }
  HidPlatform& Platform() override { return gated_ ? static_cast<HidPlatform&>(*gated_) : bus_->Platform(); }
  void Step() override { bus_->Step(); }

 private:
  sim::SimRuntime runtime_;
  std::unique_ptr<SimulatedMeter::Bus> bus_;
  std::optional<GatedPlatform> gated_;
};

struct Setting {
  // Called on the meters before the run.
  std::function<void(SimulatedMeter&)> prepare{};
  // A person at a terminal who types this (nothing: no terminal, no question).
  std::optional<std::string> answers{};
  // Shared by several runs (nothing: a file system of the run's own).
  sim::SimFileSystem* files = nullptr;
  // Wall-clock rigs with backups in this folder, instead of virtual ones.
  std::optional<std::filesystem::path> realTimeDocuments{};
  // Stop signals so far, asked with what the run wrote to its output.
  std::function<int(const std::string& out)> stops{};
  // Holds the meters' reads (virtual rigs only).
  BackupGate* gate = nullptr;
};

struct AllRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<Eeprom> settingsBefore;  // each meter's EEPROM before the run
  std::vector<std::size_t> commits;    // pages committed, per meter
  std::vector<std::uint8_t> flags;     // FirmwareValidFlag after the run
  std::vector<std::uint32_t> checksums;
  std::vector<std::string> versions;
  std::vector<sim::Path> backups;
};

AllRun RunAll(const std::vector<std::string>& arguments, const Setting& setting = {}) {
  AllRun run;
  const ParseResult parsed = ParseCommandLine(arguments);
  if (!parsed.options) {
    run.exitCode = parsed.exitCode;
    run.err = parsed.message;
    return run;
  }
  const CliOptions& options = *parsed.options;
  sim::SimFileSystem ownFiles(kDocuments);
  sim::SimFileSystem& files = setting.files ? *setting.files : ownFiles;
  sim::SimRuntime runtime(WithFiles(files));
  SimulatedMeter meters(runtime, options.simulatedFault, std::chrono::microseconds(0), options.simulatedMeters,
                        options.faultMeter);
  if (setting.prepare) setting.prepare(meters);
  const auto count = static_cast<std::size_t>(options.simulatedMeters);
  for (std::size_t i = 0; i < count; ++i) {
    Eeprom eeprom{};
    for (std::size_t address = 0; address < kEepromSize; ++address) eeprom[address] = meters.Meter(i).Eeprom(address);
    run.settingsBefore.push_back(eeprom);
  }
  std::ostringstream out, err;
  std::istringstream answers(setting.answers.value_or(""));
  CliSession finder(options, runtime, runtime, meters.Platform(), out, err, false, [&] { meters.Step(); });
  UpdateAll all(options, out, err, setting.answers.has_value(),
                [&](const std::string& id, std::ostream& boxes) -> std::unique_ptr<MeterRig> {
                  if (setting.realTimeDocuments) return SimulatedRig(meters, id, setting.realTimeDocuments, boxes);
                  auto rig = std::make_unique<VirtualRig>(meters, id, files, setting.gate);
                  if (!rig->Serves()) return nullptr;
                  return rig;
                });
  if (setting.answers) all.SetAnswers(answers);
  if (setting.stops) all.SetStopRequests([&] { return setting.stops(out.str()); });
  run.exitCode = all.Run(finder);
  run.out = out.str();
  run.err = err.str();
  for (std::size_t i = 0; i < count; ++i) {
    const sim::SimMeter& meter = meters.Meter(i);
    run.commits.push_back(meter.Commits().size());
    run.flags.push_back(meter.FirmwareFlag());
    run.checksums.push_back(meter.Checksum());
    run.versions.push_back(meter.VersionText());
  }
  run.backups = files.FilesIn(kDocuments / "lu14");
  std::sort(run.backups.begin(), run.backups.end());
  return run;
}

std::vector<nlohmann::json> Results(const std::vector<nlohmann::json>& lines) {
  std::vector<nlohmann::json> results;
  std::copy_if(lines.begin(), lines.end(), std::back_inserter(results),
               [](const nlohmann::json& line) { return line["event"] == "result"; });
  return results;
}

// The meter whose settings the backup holds; nothing when none's (or not a backup).
std::optional<std::size_t> OwnerOf(const std::vector<std::uint8_t>& file, const std::vector<Eeprom>& settings) {
  const BackupText text = ReadBackupText(std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
  if (!text.image) return std::nullopt;
  const auto found = std::find(settings.begin(), settings.end(), *text.image);
  if (found == settings.end()) return std::nullopt;
  return static_cast<std::size_t>(found - settings.begin());
}

// Settings of each meter's own: byte 100 and the battery coefficient's neighbour differ.
void OwnSettings(SimulatedMeter& meters, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    meters.Meter(i).SetEeprom(100, static_cast<std::uint8_t>(0xA0 + i));
    meters.Meter(i).SetEeprom(1500, static_cast<std::uint8_t>(0x10 * i));
  }
}

void SameIdentity(SimulatedMeter& meters) {
  const IdentityRead second = kIdentityReads[1];
  meters.Meter(1).SetInfo(second.command, second.parameter, meters.Meter(0).Info(second.command, second.parameter));
}

bool Complete(const AllRun& run, std::size_t meter) {
  return run.commits[meter] == static_cast<std::size_t>(kProgressPages) && run.flags[meter] == kFirmwareComplete &&
         run.checksums[meter] == kFirmwareChecksum && run.versions[meter] == kFirmwareVersionText;
}

TEST(LuAll, FourMetersOnePulledMidStreamTheOthersComplete) {
  const std::vector<std::string> arguments{"--simulate=unplug-during-update", "--meters", "4",
                                           "--fault-meter", "2", "update", "--all"};
  std::vector<std::string> json = arguments;
  json.push_back("--json");
  const AllRun run = RunAll(json, {.prepare = [](SimulatedMeter& m) { OwnSettings(m, 4); }});
  EXPECT_EQ(run.exitCode, kExitFailed) << run.err;
  for (const std::size_t meter : {0u, 2u, 3u}) {
    EXPECT_TRUE(Complete(run, meter)) << meter;
  }
  EXPECT_LT(run.commits[1], static_cast<std::size_t>(kProgressPages));
  EXPECT_EQ(run.flags[1], 0x88);  // the meter asks for an update until one completes

  const std::vector<nlohmann::json> lines = JsonLines(run.out);
  const std::vector<nlohmann::json> results = Results(lines);
  ASSERT_EQ(results.size(), 4u) << run.out;
  std::set<std::string> backups;
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const nlohmann::json& result = results[i];
    EXPECT_EQ(result["meter"], "simulated-meter-" + std::to_string(i + 1));
    EXPECT_EQ(result["identity"].get<std::string>().size(), 35u);
    EXPECT_EQ(result["ok"], i != 1);
    EXPECT_EQ(result["exit"], i == 1 ? kExitFailed : kExitOk);
    EXPECT_EQ(result["result"], i == 1 ? "disconnected" : "completed");
    EXPECT_EQ(result["bytes-confirmed"], i == 1 ? 16128 : 60160);
    backups.insert(result["backup"].get<std::string>());
  }
  EXPECT_EQ(backups.size(), 4u);  // each meter its own backup, the pulled one's too
  ASSERT_EQ(run.backups.size(), 4u);
  EXPECT_EQ(lines.back(), (nlohmann::json{{"event", "summary"}, {"meters", 4}, {"succeeded", 3}, {"ok", false},
                                          {"exit", kExitFailed}}));
  // Progress events name their meter; every meter's come in order.
  std::map<std::string, std::vector<std::string>> phases;
  for (const nlohmann::json& line : lines) {
    if (line["event"] == "phase") phases[line["meter"]].push_back(line["phase"]);
    if (line["event"] == "progress") {
      EXPECT_TRUE(line.contains("meter")) << line;
    }
  }
  EXPECT_EQ(phases["simulated-meter-1"], (std::vector<std::string>{"saving-settings", "writing", "verifying"}));
  EXPECT_EQ(phases["simulated-meter-2"], (std::vector<std::string>{"saving-settings", "writing"}));
  EXPECT_EQ(run.err, "");

  // As text: progress lines by meter on the error stream, a result per meter on the output.
  const AllRun text = RunAll(arguments);
  EXPECT_EQ(text.exitCode, kExitFailed);
  EXPECT_NE(text.err.find("simulated-meter-3: writing firmware: 50%\n"), std::string::npos) << text.err;
  EXPECT_NE(text.out.find("simulated-meter-2  B4D55313407E3129A005FC81E950FA73C86  failed: the meter was "
                          "disconnected after 16128 of 60160 bytes"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("simulated-meter-4  B4F55313407E3129A005FC81E950FA73C86  ok: firmware D1.50 written and "
                          "verified; settings saved to /home/u/Documents/lu14/B4F55313407E3129A005FC81E950FA73C86D1.40_0930_101226.hex\n"),
            std::string::npos)
      << text.out;
  EXPECT_TRUE(text.out.ends_with("\n3 of 4 meters succeeded\n")) << text.out;
}

TEST(LuAll, BackupsOfTheSameMinuteAreDistinctEachTheMetersOwnAndNoneReplaced) {
  struct Case {
    const char* name;
    bool sameIdentity;
  };
  for (const Case& c : {Case{"two identities", false}, Case{"one identity twice", true}}) {
    SCOPED_TRACE(c.name);
    sim::SimFileSystem files(kDocuments);
    const auto prepare = [&](SimulatedMeter& meters) {
      OwnSettings(meters, 2);
      if (c.sameIdentity) SameIdentity(meters);
    };
    const AllRun first = RunAll({"--simulate", "--meters", "2", "update", "--all"}, {.prepare = prepare, .files = &files});
    ASSERT_EQ(first.exitCode, kExitOk) << first.err << first.out;
    ASSERT_EQ(first.backups.size(), 2u);
    if (c.sameIdentity) {
      EXPECT_EQ(first.backups[1].filename().string(),
                first.backups[0].stem().string() + "_2" + first.backups[0].extension().string());
    }
    std::set<std::size_t> owners;
    for (const sim::Path& backup : first.backups) {
      const std::optional<std::size_t> owner = OwnerOf(*files.FileContents(backup), first.settingsBefore);
      ASSERT_TRUE(owner) << backup;
      owners.insert(*owner);
    }
    EXPECT_EQ(owners, (std::set<std::size_t>{0, 1}));

    // Again in the same minute: two more files, the first two untouched.
    const auto kept = *files.FileContents(first.backups[0]);
    const AllRun again =
        RunAll({"--simulate", "--meters", "2", "update", "--all", "--force"}, {.prepare = prepare, .files = &files});
    EXPECT_EQ(again.exitCode, kExitOk) << again.err;
    EXPECT_EQ(again.backups.size(), 4u);
    EXPECT_EQ(*files.FileContents(first.backups[0]), kept);
  }
}

TEST(LuAll, EachMeterIsCheckedAloneAndTheWorstOutcomeGivesTheExitCode) {
  struct Case {
    std::string fault;
    int exitCode;
    std::vector<bool> written;
    std::string says;  // in the output
  };
  const Case cases[] = {
      {"low-battery", kExitRefused, {true, false, true}, "simulated-meter-2  B4D55313407E3129A005FC81E950FA73C86  "
                                                         "failed: update refused: the meter's battery is low (1.20 V)"},
      {"up-to-date", kExitOk, {true, false, true}, "ok: it already has firmware D1.50, complete"},
      {"no-meter", kExitOk, {true, false, true}, "2 of 2 meters succeeded"},
      {"sum-mismatch", kExitFailed, {true, false, true}, "failed: the meter did not confirm the chunk at byte 15984"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const AllRun run = RunAll({"--simulate=" + c.fault, "--meters", "3", "--fault-meter", "2", "update", "--all"});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(Complete(run, i), c.written[i]) << i;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
  }
  const std::pair<std::vector<int>, int> orders[] = {
      {{0, 0}, kExitOk}, {{0, 3}, kExitFailed}, {{1, 4, 0}, kExitRefused}, {{4, 5, 1}, kExitInterrupted}};
  for (const auto& [codes, exitCode] : orders) EXPECT_EQ(AllExitCode(codes), exitCode);
}

TEST(LuAll, OnATerminalItAsksOnceForEveryMeter) {
  const AllRun yes = RunAll({"--simulate", "--meters", "2", "update", "--all"}, {.answers = "y\n"});
  EXPECT_EQ(yes.exitCode, kExitOk) << yes.err;
  EXPECT_TRUE(Complete(yes, 0) && Complete(yes, 1));
  EXPECT_TRUE(yes.err.starts_with("2 meters to write:\nmeter      B4C5")) << yes.err;
  EXPECT_NE(yes.err.find("id         simulated-meter-2\n"), std::string::npos);
  EXPECT_NE(yes.err.find("to these 2 meters? [y/N] "), std::string::npos);
  EXPECT_NE(yes.err.find("\rB4D55313407E3129A005FC81E950FA73C86  done\x1b[K\n"), std::string::npos)
      << yes.err;

  for (const char* answer : {"n\n", ""}) {
    const AllRun no = RunAll({"--simulate", "--meters", "2", "update", "--all"}, {.answers = answer});
    EXPECT_EQ(no.exitCode, kExitFailed);
    EXPECT_EQ(no.commits, (std::vector<std::size_t>{0, 0}));
    EXPECT_TRUE(no.backups.empty());
    EXPECT_NE(no.out.find("failed: nothing was written: the update was not confirmed"), std::string::npos) << no.out;
  }
  // A meter that needs nothing is not asked about; none that needs anything: no question.
  const AllRun current = RunAll({"--simulate=up-to-date", "--meters", "2", "update", "--all"}, {.answers = ""});
  EXPECT_EQ(current.exitCode, kExitOk);
  EXPECT_EQ(current.err.find("[y/N]"), std::string::npos) << current.err;
}

// On a terminal a line per meter, redrawn in place, and what a meter's session
// says with -v above them; without one, a line by meter each tenth of the way.
TEST(LuAll, TheBoardShowsALinePerMeter) {
  MeterBoard board({"meter-a", "meter-b"});
  MeterStatus status;
  status.identity = U"B4C55313407E3129A005FC81E950FA73C86";
  board.MeterRead(0, status);
  board.PhaseStarted(0, UpdatePhase::Writing);
  board.ProgressMade(0, {.phase = UpdatePhase::Writing, .done = 8, .total = 16, .percent = 50});
  board.Line(1, "the meter did not answer command 21: sent again");
  const auto show = [&](const std::vector<std::string>& arguments, bool terminal, std::size_t columns = 0) {
    const ParseResult parsed = ParseCommandLine(arguments);
    std::ostringstream out, err;
    MeterBoardView view(*parsed.options, out, err, terminal, columns);
    view.Show(board.TakeHappenings(), board.Meters());
    board.PhaseStarted(1, UpdatePhase::SavingSettings);
    view.Show(board.TakeHappenings(), board.Meters());
    return err.str();
  };
  EXPECT_EQ(show({"update", "--all", "-v"}, true),
            "\rmeter-b: the meter did not answer command 21: sent again\x1b[K\n"
            "\rB4C55313407E3129A005FC81E950FA73C86  writing firmware [##########..........] 50%\x1b[K\n"
            "\rmeter-b  reading the meter\x1b[K\n"
            "\x1b[2A"
            "\rB4C55313407E3129A005FC81E950FA73C86  writing firmware [##########..........] 50%\x1b[K\n"
            "\rmeter-b  saving settings [....................] 0%\x1b[K\n");
  // On a narrow terminal each line ends short of the last column, so that
  // none wraps and going back up two lines goes back over both: the bar
  // gives way, and the identity its middle.
  board.ProgressMade(1, {.phase = UpdatePhase::SavingSettings, .done = 1, .total = 10, .percent = 10});
  EXPECT_EQ(show({"update", "--all"}, true, 30),
            "\rB4…C86  writing firmware 50%\x1b[K\n"
            "\rmeter-b  saving settings 10%\x1b[K\n"
            "\x1b[2A"
            "\rB4…C86  writing firmware 50%\x1b[K\n"
            "\rmeter-b  saving settings 0%\x1b[K\n");
  board.ProgressMade(0, {.phase = UpdatePhase::Writing, .done = 57, .total = 100, .percent = 57});
  board.ProgressMade(0, {.phase = UpdatePhase::Writing, .done = 60, .total = 100, .percent = 60});
  EXPECT_EQ(show({"update", "--all"}, false), "meter-a: writing firmware: 57%\nmeter-a: writing firmware: 60%\n");
  EXPECT_EQ(show({"update", "--all", "-q"}, true), "");
}

// Each meter's line fits the terminal in either language. From 40 columns
// on it keeps the meter's phase and percent, and the meters' names, cut
// where they do not differ, stay told apart; at 80 columns a line that
// fitted whole is drawn whole, and every identity stays whole.
TEST(LuAll, TheBoardKeepsPhaseAndPercentAtAnyWidth) {
  struct Board {
    const char* what;
    std::vector<MeterBoard::Meter> meters;
    bool wholeAt80;  // every name fits whole at 80 columns
  };
  std::vector<Board> boards;
  {
    // As lu14 --simulate --meters N names them: ids that differ at their
    // end, identities at their third character.
    MeterBoard board({"simulated-meter-1", "simulated-meter-2", "simulated-meter-3", "simulated-meter-4",
                      "simulated-meter-5", "simulated-meter-6", "simulated-meter-7"});
    for (const std::size_t meter : {0u, 1u, 2u, 4u, 5u, 6u}) {
      MeterStatus status;
      status.identity = U"B4" + std::u32string(1, static_cast<char32_t>(U'C' + meter)) + U"55313407E3129A005FC81E950FA73C86";
      board.MeterRead(meter, status);
    }
    board.PhaseStarted(0, UpdatePhase::Writing);
    board.ProgressMade(0, {.phase = UpdatePhase::Writing, .done = 57, .total = 100, .percent = 57});
    board.PhaseStarted(1, UpdatePhase::SavingSettings);
    board.ProgressMade(1, {.phase = UpdatePhase::SavingSettings, .done = 127, .total = 128, .percent = 100});
    board.PhaseStarted(2, UpdatePhase::Finishing);
    board.PhaseStarted(4, UpdatePhase::Writing);
    board.ProgressMade(4, {.phase = UpdatePhase::Writing, .done = 3, .total = 100, .percent = 3});
    board.Ended(5, UpdateReport{.exitCode = 0});
    board.Ended(6, UpdateReport{.exitCode = 4});
    boards.push_back({"simulated meters", board.Meters(), true});
  }
  {
    // Windows device paths, before the identities are read: they differ in
    // their middle.
    const std::string vendor = "\\\\?\\hid#vid_ff4d&pid_f538#7&", rest = "&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    MeterBoard board({vendor + "1a2b3c4d" + rest, vendor + "1a2b9e8f" + rest, vendor + "5c6d7e8f" + rest});
    board.Ended(2, UpdateReport{.exitCode = 3});
    boards.push_back({"Windows device paths", board.Meters(), false});
  }
  // What each line must show: its state's words, and its percent at the end.
  const auto shows = [](Language language, const MeterBoard::Meter& meter) -> std::pair<std::string, std::string> {
    if (meter.exitCode) return {Text(language, *meter.exitCode == 0 ? Msg::AllEndedOk : Msg::AllEndedFailed), ""};
    if (!meter.phase) return {Text(language, Msg::AllReading), ""};
    if (*meter.phase == UpdatePhase::Finishing) return {Text(language, Msg::PhaseVerifying), ""};
    return {Text(language, *meter.phase == UpdatePhase::Writing ? Msg::PhaseWriting : Msg::PhaseSavingSettings),
            std::to_string(meter.percent) + '%'};
  };
  const auto draw = [&](const std::vector<MeterBoard::Meter>& meters, Language language, std::size_t columns) {
    CliOptions options = *ParseCommandLine({"update", "--all"}).options;
    options.language = language;
    std::ostringstream out, err;
    MeterBoardView view(options, out, err, true, columns);
    view.Show({}, meters);
    std::vector<std::string> lines;
    std::istringstream drawn(err.str());
    for (std::string line; std::getline(drawn, line);) {
      EXPECT_TRUE(line.starts_with('\r') && line.ends_with("\x1b[K")) << line;
      lines.push_back(line.substr(1, line.size() - 4));
    }
    EXPECT_EQ(lines.size(), meters.size());
    return lines;
  };
  const auto nameOf = [](const std::string& line) { return line.substr(0, line.find("  ")); };
  for (const Board& board : boards) {
    for (const Language language : {Language::English, Language::Russian}) {
      const std::vector<std::string> whole = draw(board.meters, language, 0);
      for (const std::size_t columns : {20u, 30u, 40u, 44u, 50u, 60u, 70u, 80u, 120u}) {
        SCOPED_TRACE(std::string(board.what) + ", " + std::to_string(columns) + " columns" +
                     (language == Language::Russian ? ", Russian" : ""));
        const std::vector<std::string> lines = draw(board.meters, language, columns);
        std::set<std::string> names;
        for (std::size_t meter = 0; meter < lines.size(); ++meter) {
          const std::string& line = lines[meter];
          EXPECT_LE(Columns(line), columns - 1) << line;
          if (columns < 40) continue;
          const auto [state, percent] = shows(language, board.meters[meter]);
          EXPECT_NE(line.find("  " + state), std::string::npos) << line;
          EXPECT_TRUE(line.ends_with(percent.empty() ? state : " " + percent)) << line;
          names.insert(nameOf(line));
          if (columns < 80 || !board.wholeAt80) continue;
          EXPECT_TRUE(line.starts_with(nameOf(whole[meter]) + "  ")) << line;
          if (Columns(whole[meter]) <= columns - 1) {
            EXPECT_EQ(line, whole[meter]);
          }
        }
        if (columns >= 40) {
          EXPECT_EQ(names.size(), lines.size()) << ::testing::PrintToString(lines);
        }
        // Two meters in the same phase, at 57% and 3%: a name keeps its
        // length while the percent grows.
        if (board.wholeAt80) {
          EXPECT_EQ(Columns(nameOf(lines[0])), Columns(nameOf(lines[4]))) << lines[0] << '\n' << lines[4];
        }
      }
    }
  }
}

TEST(LuAll, ASecondStopSignalStopsEveryMeterBetweenTwoChunks) {
  const std::filesystem::path documents = FreshFolder("lu14-all-stops");
  std::filesystem::remove_all(documents);
  // The first signal once every meter is writing, the second at once after it.
  const auto stops = [](const std::string& out) {
    std::set<std::string> writing;
    for (const nlohmann::json& line : JsonLines(out)) {
      if (line["event"] == "progress" && line["phase"] == "writing" && line["percent"] >= 2) {
        writing.insert(line["meter"].get<std::string>());
      }
    }
    return writing.size() == 3 ? 2 : 0;
  };
  const AllRun run = RunAll({"--simulate", "--meters", "3", "update", "--all", "--json"},
                            {.realTimeDocuments = documents, .stops = stops});
  EXPECT_EQ(run.exitCode, kExitInterrupted) << run.out;
  for (const nlohmann::json& result : Results(JsonLines(run.out))) {
    EXPECT_EQ(result["result"], "stopped") << result;
    EXPECT_EQ(result["exit"], kExitInterrupted);
    EXPECT_GT(result["bytes-confirmed"].get<int>(), 0) << result;  // it was writing, and stopped
    EXPECT_LT(result["bytes-confirmed"].get<int>(), 60160) << result;
  }
  EXPECT_EQ(run.flags, (std::vector<std::uint8_t>{0x88, 0x88, 0x88}));
  std::filesystem::remove_all(documents);
}

// While the meters save their settings nothing has been written to any of
// them: one stop signal cancels them all at once, and no warning says
// otherwise.
TEST(LuAll, AStopSignalWhileTheSettingsAreSavedCancelsEveryMeterWithNothingWritten) {
  BackupGate gate(3, 1000);  // about half way through each backup's 2048 reads
  const AllRun run = RunAll({"--simulate", "--meters", "3", "update", "--all", "--json"},
                            {.stops = [&](const std::string&) { return gate.Stops(); }, .gate = &gate});
  EXPECT_EQ(run.exitCode, kExitInterrupted) << run.out;
  const std::vector<nlohmann::json> results = Results(JsonLines(run.out));
  ASSERT_EQ(results.size(), 3u) << run.out;
  for (const nlohmann::json& result : results) {
    EXPECT_EQ(result["result"], "cancelled") << result;
    EXPECT_EQ(result["exit"], kExitInterrupted);
    EXPECT_EQ(result["backup"], nullptr);
    EXPECT_NE(result["message"].get<std::string>().find("nothing was written to the meter"), std::string::npos)
        << result;
  }
  EXPECT_EQ(run.err.find("stopping now would leave the meter"), std::string::npos) << run.err;
  EXPECT_EQ(run.flags, (std::vector<std::uint8_t>{1, 1, 1}));
  EXPECT_EQ(run.commits, (std::vector<std::size_t>{0, 0, 0}));
  EXPECT_TRUE(run.backups.empty()) << run.backups.front();
}

TEST(LuAll, CommandLine) {
  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"--simulate", "status", "--all"}, "--all works only with update"},
      {{"--simulate", "update", "--all", "--device", "simulated-meter-1"}, "--all and --device cannot go together"},
      {{"--simulate", "update", "--all", "--record", "r.jsonl"}, "--record and --replay work with one meter"},
      {{"--simulate", "--meters", "2", "--fault-meter", "2", "update"}, "--fault-meter works only with --simulate=FAULT"},
      {{"--simulate=sum-mismatch", "--meters", "2", "--fault-meter", "3", "update"},
       "--fault-meter takes a whole number from 1 to 2, not \"3\""},
      {{"--simulate=sum-mismatch", "--fault-meter", "0", "update"}, "from 1 to 1, not \"0\""},
      {{"--fault-meter", "1", "update"}, "--fault-meter works only with --simulate"},
  };
  for (const auto& [arguments, says] : errors) {
    const ParseResult parsed = ParseCommandLine(arguments);
    EXPECT_EQ(parsed.exitCode, kExitUsage) << says;
    EXPECT_NE(parsed.message.find(says), std::string::npos) << parsed.message;
  }
  const ParseResult aimed = ParseCommandLine({"--simulate", "unplug-during-update", "--meters=3", "--fault-meter=2",
                                              "update", "--all"});
  ASSERT_TRUE(aimed.options) << aimed.message;
  EXPECT_EQ(aimed.options->faultMeter, 2);
  EXPECT_TRUE(aimed.options->all);
}

// A meter's thread sees the device it was handed and no other: it can neither
// list nor open another meter, and it sees its own leave.
TEST(OneMeterPlatform, ShowsAndOpensOnlyTheHandedDevice) {
  sim::SimRuntime runtime;
  sim::SimHidBus bus(runtime);
  bus.Attach({.deviceId = 1, .path = u"meter-1", .attributes = {0xFF4D, 0xF538, 1}});
  bus.Attach({.deviceId = 2, .path = u"meter-2", .attributes = {0xFF4D, 0xF538, 1}});
  OneMeterPlatform handed(bus, u"meter-2");
  ASSERT_TRUE(handed.Bind());
  EXPECT_EQ(handed.PresentInterfaces(), (std::vector<HidInterface>{{u"meter-2", 2}}));
  EXPECT_EQ(handed.Open(u"meter-1", true), nullptr);
  EXPECT_NE(handed.Open(u"meter-2", true), nullptr);
  bus.Unplug(2);
  EXPECT_EQ(handed.PresentInterfaces(), std::vector<HidInterface>{});
  // A set the machine cannot give stays one the meter's thread cannot have.
  bus.FailInterfaceSet(true);
  EXPECT_EQ(handed.PresentInterfaces(), std::nullopt);
}

}  // namespace
}  // namespace lu14::cli
