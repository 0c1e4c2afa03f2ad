#include "cli/LuMain.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/SimulatedMeter.h"
#include "cli/fleet/MeterRig.h"
#include "cli/fleet/UpdateAll.h"
#include "cli/os/DocumentsFolder.h"
#include "cli/os/HardwarePlatform.h"
#include "cli/os/InputFile.h"
#include "cli/os/StopSignals.h"
#include "cli/os/Utf8Path.h"
#include "cli/output/JsonText.h"
#include "cli/output/Messages.h"
#include "cli/output/RecordingTexts.h"
#include "hid/record/Recording.h"
#include "hid/record/RecordingHidPlatform.h"
#include "hid/record/ReplayHidPlatform.h"

namespace lu14::cli {
namespace {

// Where the run's meters are: the platform its session works on, what to
// call between messages, and how update --all makes a rig for each meter.
struct MeterSource {
  HidPlatform& platform;
  std::function<void()> step;
  const char* name;  // as a recording's header names it
  std::function<std::vector<std::string>()> inaccessibleMeters;
  RigMaker makeRig;
};

// One run of a parsed command line, on the wall clock.
class LuRun {
 public:
  LuRun(CliOptions options, const Console& console)
      : options_(std::move(options)),
        console_(console),
        documents_(UsersDocumentsFolder()),  // backups go there or nowhere
        runtime_(documents_, std::cerr),
        start_(std::chrono::steady_clock::now()) {}

  int Run() {
    // From here on a stop signal is counted, not obeyed at once: the run ends
    // at the next point where stopping leaves nothing half done.
    InstallStopSignals();
    if (const std::optional<int> refused = ReadReplay()) return *refused;
    if (const std::optional<int> refused = OpenRecord()) return *refused;
    if (replay_) return RunOn({*replay_, [] {}, "replay", nullptr, nullptr});
    if (options_.simulate) {
      // A simulated meter's settings are made up: its backups go to a folder
      // of their own, never among a real meter's.
      options_.backupsApartIn = "simulated";
      SimulatedMeter meter(runtime_, options_.simulatedFault, std::chrono::microseconds(options_.latencyMicroseconds),
                           options_.simulatedMeters, options_.faultMeter);
      return RunOn({meter.Platform(), [&] { meter.Step(); }, "simulated", nullptr,
                    [&meter, this](const std::string& id, std::ostream& boxes) {
                      return SimulatedRig(meter, id, documents_, boxes);
                    }});
    }
    HardwarePlatform hardware = MakeHardwarePlatform(runtime_);
    return RunOn({*hardware.platform, hardware.step, hardware.name, hardware.inaccessibleMeters,
                  [this](const std::string& id, std::ostream& boxes) { return HardwareRig(id, documents_, boxes); }});
  }

 private:
  int Fail(int exitCode, const std::string& message) {
    std::cerr << Text(options_.language, Msg::ErrorPrefix) << message << '\n';
    if (options_.json) std::cout << JsonLine(JsonError(exitCode, message));
    return exitCode;
  }

  // A recording to replay is read whole, and refused, before anything starts;
  // a stop signal ends the wait for its lines (a FIFO).
  std::optional<int> ReadReplay() {
    if (options_.replayFile.empty()) return std::nullopt;
    InputFile file(Utf8Path(options_.replayFile), [] { return StopSignalsReceived() > 0; });
    InputFileBuffer buffer(file);
    std::istream in(&buffer);
    record::RecordingFault fault;
    std::optional<record::Recording> recording = record::ReadRecording(in, fault);
    if (file.Fault() == InputFault::Interrupted) return Fail(kExitInterrupted, Text(options_.language, Msg::Interrupted));
    if (file.Fault() != InputFault::None) {
      return Fail(kExitFailed, Text(options_.language, Msg::ReplayCannotRead, {options_.replayFile}));
    }
    if (!recording) return Fail(kExitFailed, RecordingFaultText(options_.language, options_.replayFile, fault));
    // A simulated meter's recording carries the placeholder firmware as that run did.
    options_.simulate = recording->header.platform == "simulated";
    replay_.emplace(runtime_, std::move(*recording));
    return std::nullopt;
  }

  // A recording never replaces a file: it may be the one a user meant to send.
  std::optional<int> OpenRecord() {
    if (options_.recordFile.empty()) return std::nullopt;
    std::error_code ignored;
    if (std::filesystem::exists(Utf8Path(options_.recordFile), ignored)) {
      return Fail(kExitRefused, Text(options_.language, Msg::RecordExists, {options_.recordFile}));
    }
    recordStream_.open(Utf8Path(options_.recordFile), std::ios::binary);
    if (!recordStream_) return Fail(kExitFailed, Text(options_.language, Msg::RecordCannotWrite, {options_.recordFile}));
    return std::nullopt;
  }

  // The recording serves the report: its failure (a full disk) is said
  // after the run's own result, which it never changes.
  std::optional<std::string> RecordingProblem() const {
    if (!recordStream_.is_open() || recordStream_) return std::nullopt;
    return Text(options_.language, Msg::RecordingIncomplete, {options_.recordFile});
  }

  int RunOn(const MeterSource& source) {
    std::optional<record::RecordingHidPlatform> recorder;
    if (recordStream_.is_open()) {
      recorder.emplace(source.platform, recordStream_,
                       record::RecordingHeader{ToolVersion(), CommandLineText(options_.arguments), source.name},
                       [start = start_] {
                         return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                                      start);
                       });
    }
    HidPlatform& platform = recorder ? static_cast<HidPlatform&>(*recorder) : source.platform;
    // The progress bar redraws on a terminal; a question needs a person at one.
    const bool terminal = console_.ErrorRedraws();
    const bool person = console_.PersonAnswers();
    CliSession session(options_, runtime_, runtime_, platform, std::cout, std::cerr, terminal, source.step);
    session.SetRecordingProblem([this] { return RecordingProblem(); });
    session.SetStopRequests(StopSignalsReceived);
    session.SetErrorColumns(console_.ErrorColumns());
    if (person) session.SetAnswers(std::cin, console_.Questions());
    if (source.inaccessibleMeters) session.SetInaccessibleMeters(source.inaccessibleMeters);
    if (options_.all) {
      UpdateAll all(options_, std::cout, std::cerr, terminal, source.makeRig, console_.ErrorColumns());
      all.SetStopRequests(StopSignalsReceived);
      if (person) all.SetAnswers(std::cin, console_.Questions());
      return all.Run(session);
    }
    const int exitCode = session.Run();
    if (const std::optional<std::string> problem = RecordingProblem()) {
      std::cerr << Text(options_.language, Msg::WarningPrefix) << *problem << '\n' << std::flush;
    }
    if (replay_ && replay_->Divergence()) {
      return Fail(kExitFailed, DivergenceText(options_.language, *replay_->Divergence(), replay_->Source(), ToolVersion()));
    }
    return exitCode;
  }

  CliOptions options_;
  const Console& console_;
  const std::optional<std::filesystem::path> documents_;
  RealTimeRuntime runtime_;
  const std::chrono::steady_clock::time_point start_;
  std::optional<record::ReplayHidPlatform> replay_;
  std::ofstream recordStream_;
};

}  // namespace

int LuMain(const std::vector<std::string>& arguments, const Console& console) {
  const ParseResult parsed = ParseCommandLine(arguments, LanguageFromEnvironment());
  if (parsed.options) return LuRun(*parsed.options, console).Run();
  if (parsed.exitCode == 0) {
    std::cout << parsed.message;
  } else {
    std::cerr << parsed.message;
    if (parsed.json) std::cout << JsonLine(JsonError(parsed.exitCode, parsed.error));
  }
  return parsed.exitCode;
}

}  // namespace lu14::cli
