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
#include "cli/os/DocumentsFolder.h"
#include "cli/os/HardwarePlatform.h"
#include "cli/os/InputFile.h"
#include "cli/output/JsonText.h"
#include "cli/output/Messages.h"
#include "cli/fleet/MeterRig.h"
#include "cli/output/RecordingTexts.h"
#include "cli/SimulatedMeter.h"
#include "cli/os/StopSignals.h"
#include "cli/fleet/UpdateAll.h"
#include "cli/os/Utf8Path.h"
#include "hid/record/Recording.h"
#include "hid/record/RecordingHidPlatform.h"
#include "hid/record/ReplayHidPlatform.h"

namespace lu14::cli {

int LuMain(const std::vector<std::string>& arguments, const Console& console) {
  const Language language = LanguageFromEnvironment();
  const ParseResult parsed = ParseCommandLine(arguments, language);
  if (!parsed.options) {
    if (parsed.exitCode == 0) {
      std::cout << parsed.message;
    } else {
      std::cerr << parsed.message;
      if (parsed.json) std::cout << JsonLine(JsonError(parsed.exitCode, parsed.error));
    }
    return parsed.exitCode;
  }
  CliOptions options = *parsed.options;
  const auto fail = [&](int exitCode, const std::string& message) {
    std::cerr << Text(language, Msg::ErrorPrefix) << message << '\n';
    if (options.json) std::cout << JsonLine(JsonError(exitCode, message));
    return exitCode;
  };

  // From here on a stop signal is counted, not obeyed at once: the run ends
  // at the next point where stopping leaves nothing half done.
  InstallStopSignals();
  // A recording to replay is read whole, and refused, before anything starts;
  // a stop signal ends the wait for its lines (a FIFO).
  std::optional<record::Recording> recording;
  if (!options.replayFile.empty()) {
    InputFile file(Utf8Path(options.replayFile), [] { return StopSignalsReceived() > 0; });
    InputFileBuffer buffer(file);
    std::istream in(&buffer);
    record::RecordingFault fault;
    recording = record::ReadRecording(in, fault);
    if (file.Fault() == InputFault::Interrupted) return fail(kExitInterrupted, Text(language, Msg::Interrupted));
    if (file.Fault() != InputFault::None) return fail(1, Text(language, Msg::ReplayCannotRead, {options.replayFile}));
    if (!recording) return fail(1, RecordingFaultText(language, options.replayFile, fault));
    // A simulated meter's recording carries the placeholder firmware as that run did.
    options.simulate = recording->header.platform == "simulated";
  }
  // A recording never replaces a file: it may be the one a user meant to send.
  std::ofstream recordStream;
  if (!options.recordFile.empty()) {
    std::error_code ignored;
    if (std::filesystem::exists(Utf8Path(options.recordFile), ignored)) {
      return fail(4, Text(language, Msg::RecordExists, {options.recordFile}));
    }
    recordStream.open(Utf8Path(options.recordFile), std::ios::binary);
    if (!recordStream) return fail(1, Text(language, Msg::RecordCannotWrite, {options.recordFile}));
  }

  // Backups go to the user's Documents folder or nowhere.
  const std::optional<std::filesystem::path> documents = UsersDocumentsFolder();
  lu14::RealTimeRuntime runtime(documents, std::cerr);
  const auto start = std::chrono::steady_clock::now();
  const auto sinceStart = [start] {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  };
  // The progress bar redraws on a terminal; a question needs a person at one.
  const bool terminal = console.ErrorRedraws();
  const bool person = console.PersonAnswers();
  std::optional<record::ReplayHidPlatform> replay;
  if (recording) replay.emplace(runtime, std::move(*recording));
  const auto run = [&](lu14::HidPlatform& base, std::function<void()> step, const char* platformName,
                       std::function<std::vector<std::string>()> inaccessibleMeters, RigMaker makeRig) {
    std::optional<record::RecordingHidPlatform> recorder;
    if (recordStream.is_open()) {
      recorder.emplace(base, recordStream,
                       record::RecordingHeader{ToolVersion(), CommandLineText(options.arguments), platformName},
                       sinceStart);
    }
    lu14::HidPlatform& platform = recorder ? static_cast<lu14::HidPlatform&>(*recorder) : base;
    // The recording serves the report: its failure (a full disk) is said
    // after the run's own result, which it never changes.
    const auto recordingProblem = [&]() -> std::optional<std::string> {
      if (!recordStream.is_open() || recordStream) return std::nullopt;
      return Text(language, Msg::RecordingIncomplete, {options.recordFile});
    };
    CliSession session(options, runtime, runtime, platform, std::cout, std::cerr, terminal, std::move(step));
    session.SetRecordingProblem(recordingProblem);
    session.SetStopRequests(StopSignalsReceived);
    session.SetErrorColumns(console.ErrorColumns());
    if (person) session.SetAnswers(std::cin, console.Questions());
    if (inaccessibleMeters) session.SetInaccessibleMeters(inaccessibleMeters);
    if (options.all) {
      UpdateAll all(options, std::cout, std::cerr, terminal, std::move(makeRig), console.ErrorColumns());
      all.SetStopRequests(StopSignalsReceived);
      if (person) all.SetAnswers(std::cin, console.Questions());
      return all.Run(session);
    }
    const int exitCode = session.Run();
    if (const std::optional<std::string> problem = recordingProblem()) {
      std::cerr << Text(language, Msg::WarningPrefix) << *problem << '\n' << std::flush;
    }
    if (replay && replay->Divergence()) {
      return fail(1, DivergenceText(language, *replay->Divergence(), replay->Source(), ToolVersion()));
    }
    return exitCode;
  };
  if (replay) return run(*replay, [] {}, "replay", nullptr, nullptr);
  if (options.simulate) {
    SimulatedMeter meter(runtime, options.simulatedFault, std::chrono::microseconds(options.latencyMicroseconds),
                         options.simulatedMeters, options.faultMeter);
    return run(meter.Platform(), [&] { meter.Step(); }, "simulated", nullptr,
               [&meter, &documents](const std::string& id, std::ostream& boxes) {
                 return SimulatedRig(meter, id, documents, boxes);
               });
  }
  HardwarePlatform hardware = MakeHardwarePlatform(runtime);
  return run(*hardware.platform, hardware.step, hardware.name, hardware.inaccessibleMeters,
             [&documents](const std::string&, std::ostream& boxes) { return HardwareRig(documents, boxes); });
}

}  // namespace lu14::cli
