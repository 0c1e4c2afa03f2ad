// One run of the console tool: a meter session without a window, in a
// runtime (the wall clock; virtual time in the tests), over a HID platform
// (hardware or simulated). It reads the session's outcome values, never any
// text meant for the window. Results go to the output stream, everything
// else (progress, questions, notices, errors) to the error stream.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/CliOptions.h"
#include "cli/output/ConsoleProgress.h"
#include "cli/os/InputFile.h"
#include "cli/output/Messages.h"
#include "cli/output/UpdateReport.h"
#include "device/LinkEvent.h"
#include "device/TJvHidDeviceController.h"
#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"
#include "ports/Shell.h"
#include "session/LoopPacer.h"
#include "session/MeterAgent.h"

namespace lu14::cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoMeter = 3;
inline constexpr int kExitRefused = 4;      // a safety check refused to go on
inline constexpr int kExitInterrupted = 5;  // a stop signal ended the run

// A yes, in either language, as a person types it.
bool IsYes(std::string answer);

// The meter an update is about to write, as the question before it shows it.
std::string AboutToWriteText(Language language, const MeterStatus& status, const std::string& id);

// The JSON object a run that failed writes to the output stream: the kind of
// failure (from the exit code), the message and the exit code.
nlohmann::json JsonError(int exitCode, const std::string& message);

// How an update run as one of several (update --all) reports to the run that
// holds them all, in values, instead of to a person and the output stream
// (which it then leaves alone; its error stream still says what it says).
struct UpdateHooks {
  // The meter's status, once read (its identity, firmware and battery).
  std::function<void(const MeterStatus&)> meterRead;
  // Asked instead of the person before anything is written; true: go ahead.
  std::function<bool(const MeterStatus&)> goAhead;
  std::function<void(UpdatePhase)> phase;
  // Each new whole percent of a phase.
  std::function<void(const ProgressReport&)> progress;
  // How the run ended, once.
  std::function<void(const UpdateReport&)> ended;
};

// Seconds a command waits for the meter to answer its status.
inline constexpr std::chrono::seconds kStatusPatience{10};

// One run of lu14: the meter it works with, its output and its person. The
// commands (cli/commands/, one file each) do their work through what it offers.
class CliSession : LinkObserver, UpdateView {
 public:
  // terminal: the error stream is a terminal (the progress bar redraws).
  // step: called between messages (a simulated meter's scripted events).
  CliSession(const CliOptions& options, Shell& shell, EventLoop& loop, HidPlatform& platform, std::ostream& out,
             std::ostream& err, bool terminal, std::function<void()> step = {});
  ~CliSession() override;
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  // stopRequests: how many stop signals (Ctrl-C ...) have arrived so far.
  void SetStopRequests(std::function<int()> stopRequests) { stopRequests_ = std::move(stopRequests); }
  // Where a person answers, and where the question goes (the error stream
  // unless given): set when standard input is a terminal. update then asks
  // before it writes (unless --yes).
  void SetAnswers(std::istream& answers, std::ostream* questions = nullptr) {
    answers_ = &answers;
    questions_ = questions;
  }
  // The error stream's terminal width (0: not known), which the progress bar fits.
  void SetErrorColumns(std::size_t columns) { progress_.SetColumns(columns); }
  // The run's clock, for the time left of an update (the wall clock by default).
  void SetClock(std::function<std::chrono::microseconds()> clock);
  // The device nodes of meters that are attached but that this user may not
  // open (hidraw access rights): named when no meter is found.
  void SetInaccessibleMeters(std::function<std::vector<std::string>()> inaccessible) {
    inaccessible_ = std::move(inaccessible);
  }

  // The files the user names (restore's backup, backup's --output): how one
  // is read, at most `limit` bytes of it, and whether one is there. The real
  // file system by default, read as InputFile reads it, a stop signal ending
  // the wait for a file's bytes.
  struct UserFiles {
    std::function<InputText(const std::filesystem::path&, std::size_t limit)> read;
    std::function<bool(const std::filesystem::path&)> exists;
  };
  void SetUserFiles(UserFiles files) { files_ = std::move(files); }

  void SetUpdateHooks(UpdateHooks hooks);
  // What has gone wrong with the recording (--record) so far, if anything.
  // The run's result never changes for it: the JSON result carries it as
  // "recording-error".
  void SetRecordingProblem(std::function<std::optional<std::string>()> problem) {
    recordingProblem_ = std::move(problem);
  }

  // Runs the command the options name; its exit code.
  int Run();
  // The ids of the attached meters, in the platform's order, once there is
  // at least one (waiting as any command does). kExitOk, or the exit code
  // when none came (said as Run says it).
  int FindMeters(std::vector<std::string>& ids);

  // What a command works with.
  const CliOptions& Options() const { return options_; }
  Shell& RunShell() { return shell_; }
  MeterAgent& Meter() { return meter_; }
  ConsoleProgress& Progress() { return progress_; }
  std::ostream& Out() { return out_; }
  const UserFiles& Files() const { return files_; }
  const UpdateHooks& Hooks() const { return hooks_; }
  // The run reports to hooks (update --all) rather than to the output stream.
  bool Reporting() const { return static_cast<bool>(hooks_.ended); }
  // A stop signal has ended the run's work.
  bool Interrupted() const { return interrupted_; }
  void SetInterrupted() { interrupted_ = true; }
  // How the update ended, for the hooks (update --all).
  void SetReport(const UpdateReport& report) { report_ = report; }
  // The last error said.
  const std::string& LastError() const { return lastError_; }

  // Waits for a meter (the one --device names, or any); false (and says
  // what to try) when none came within the wait. noneIsAnAnswer: no meter
  // at all is not an error (list), only a --device that is not there.
  bool WaitForMeter(bool noneIsAnAnswer = false);
  // Picks the meter the command works with and points the link at it; the
  // exit code when none may be picked.
  std::optional<int> ChooseMeter();
  // The attached meters, in the platform's order; the one the command works
  // with, and its id.
  const std::vector<TJvHidDevice*>& Meters() const { return meters_; }
  void Use(TJvHidDevice& device);
  const std::string& MeterId() const { return meterId_; }
  std::string DeviceId(const TJvHidDevice& device) const;
  // Reads the meter as the window's status poll does, retrying once a second
  // for a while: the last tick, if it read the identity and the version.
  std::optional<MeterStatus> ReadStatus(std::chrono::seconds patience = kStatusPatience);
  // Runs the loop until the condition holds (true), the limit passes or a
  // stop is asked for (false). During an update a stop is only ever taken
  // between two chunks: the first request warns, the second interrupts.
  bool RunUntil(const std::function<bool()>& condition, std::chrono::microseconds limit);
  bool StopAsked();
  // Asks the person at the terminal (nobody: yes; --yes: yes); true when the
  // answer is yes. A stop signal at the question is a no.
  bool Asked(const std::string& question);

  // Output: a result, a notice (not with -q), an error (always), JSON.
  void Result(const std::string& line);
  void Notice(const std::string& line);
  void Error(const std::string& line);
  void Json(const nlohmann::json& value);
  // The run's one JSON result (or error) object.
  void JsonResult(nlohmann::json value);
  std::string Say(Msg message, std::initializer_list<std::string_view> arguments = {}) const {
    return Text(options_.language, message, arguments);
  }

 private:
  // The end of a run: an interruption said, the JSON error when none was written.
  int Ended(int exitCode);
  void Dispatch(const std::function<void()>& work);
  // Lists the ids of the attached meters after an error that needs one.
  void ListIds();
  TJvHidDevice* MeterWithId(const std::string& id) const;

  // The HID controller's events: every meter found is a candidate; the
  // command picks one and works with it to its end.
  void MeterFound(TJvHidDevice& device);
  void DeviceRemoved(TJvHidDevice& device);

  // LinkObserver: the transaction's retries, shown with -v.
  void LinkEventHappened(const LinkEvent& event) override;
  void WriteNotConfirmed(std::uint8_t command) override;
  // UpdateView: progress and the outcome.
  void UpdateStarted() override {}
  void PhaseStarted(UpdatePhase phase) override;
  void ProgressMade(const UpdateProgress& progress) override;
  void BackupEnded(const BackupOutcome&) override {}
  void FaultFound(UpdateFault) override {}
  void UpdateEnded(const UpdateOutcome&) override {}

  const CliOptions& options_;
  Shell& shell_;
  EventLoop& loop_;
  std::ostream& out_;
  std::ostream& err_;
  std::function<void()> step_;
  std::function<int()> stopRequests_;
  std::istream* answers_ = nullptr;
  std::ostream* questions_ = nullptr;
  std::function<std::chrono::microseconds()> clock_;
  std::function<std::vector<std::string>()> inaccessible_;
  UserFiles files_;
  UpdateHooks hooks_;
  std::function<std::optional<std::string>()> recordingProblem_;
  int stopsHandled_ = 0;
  bool interrupted_ = false;
  // The run has written its JSON result: no error object follows.
  bool jsonWritten_ = false;
  std::string lastError_;
  int lastPercent_ = -1;
  std::optional<UpdateReport> report_;  // how the update ended, once it has
  ConsoleProgress progress_;
  std::vector<TJvHidDevice*> meters_;  // attached meters, in the platform's order
  std::string meterId_;                // the id of the meter the command works with
  // The console reads the poll's MeterStatus: the poll shows it nowhere.
  SilentStatusView silentStatus_;
  // The update's ticks run on the loop, not on window-style timers.
  LoopPacer pacer_;
  MeterAgent meter_;
  TJvHidDeviceController controller_;
};

}  // namespace lu14::cli
