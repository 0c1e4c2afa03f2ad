#include "cli/CliSession.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/commands/Command.h"
#include "cli/output/JsonText.h"
#include "cli/output/LinkWords.h"
#include "cli/output/TerminalText.h"
#include "device/MeterProtocol.h"
#include "ports/Utf.h"
#include "session/LoopWiring.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

constexpr std::chrono::seconds kPollPeriod{1};
// How often a wait looks for stop signals.
constexpr std::chrono::milliseconds kStopCheckPeriod{100};
// The controller's first scan runs as soon as the loop does: this is time
// enough for it, also with --wait 0.
constexpr std::chrono::milliseconds kFirstScan{50};

}  // namespace

bool IsYes(std::string answer) {
  while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r' || answer.back() == '\t')) answer.pop_back();
  while (!answer.empty() && answer.front() == ' ') answer.erase(answer.begin());
  for (char& c : answer) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return answer == "y" || answer == "yes" || answer == "д" || answer == "Д" || answer == "да" || answer == "Да" ||
         answer == "ДА";
}

std::string AboutToWriteText(Language language, const MeterStatus& status, const std::string& id) {
  return Text(language, Msg::AboutToWrite,
              {TerminalSafe(status.identity), id, TerminalSafe(status.versionText.value_or(U"")), kFirmwareVersionText,
               status.batteryVolts ? Fixed(*status.batteryVolts, 2) : Text(language, Msg::Unknown)});
}

json JsonError(int exitCode, const std::string& message) {
  const char* kind = "failed";
  switch (exitCode) {
    case kExitUsage: kind = "usage"; break;
    case kExitNoMeter: kind = "no-meter"; break;
    case kExitRefused: kind = "refused"; break;
    case kExitInterrupted: kind = "interrupted"; break;
    default: break;
  }
  return {{"error", kind}, {"message", message}, {"exit", exitCode}};
}

CliSession::CliSession(const CliOptions& options, Shell& shell, EventLoop& loop, HidPlatform& platform,
                       std::ostream& out, std::ostream& err, bool terminal, std::function<void()> step)
    : options_(options),
      shell_(shell),
      loop_(loop),
      out_(out),
      err_(err),
      step_(std::move(step)),
      progress_(err, terminal, options.language, [this] { return clock_ ? clock_() : std::chrono::microseconds(0); }),
      pacer_(loop),
      // lu14 decides on what it reads (up to date? battery low?) and reports it:
      // only bytes the meter confirmed.
      meter_(shell, *this, silentStatus_, *this, pacer_, PollReads::Confirmed),
      controller_(platform, [this](const std::function<void()>& work) { Dispatch(work); }) {
  files_.read = [this](const std::filesystem::path& path, std::size_t limit) {
    return ReadInputFile(path, limit, [this] { return StopAsked(); });
  };
  files_.exists = [](const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
  };
  const auto start = std::chrono::steady_clock::now();
  clock_ = [start] {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  };
  if (!options_.backupsApartIn.empty()) meter_.KeepBackupsApartIn(options_.backupsApartIn);
  // JSON carries the progress itself; -q shows none.
  progress_.SetSilent(options_.json || options_.verbosity == Verbosity::Quiet);
  WireOnLoop(meter_, pacer_, controller_,
             {.dispatch = [this](const std::function<void()>& tick) { Dispatch(tick); },
              .found = [this](TJvHidDevice& device) { MeterFound(device); },
              .removed = [this](TJvHidDevice& device) { DeviceRemoved(device); }});
}

CliSession::~CliSession() = default;

void CliSession::SetClock(std::function<std::chrono::microseconds()> clock) { clock_ = std::move(clock); }

void CliSession::Result(const std::string& line) {
  if (options_.json || Reporting()) return;
  out_ << line << '\n' << std::flush;
}

void CliSession::Notice(const std::string& line) {
  if (options_.verbosity == Verbosity::Quiet) return;
  progress_.Finish();
  err_ << Say(Msg::WarningPrefix) << line << '\n' << std::flush;
}

void CliSession::Error(const std::string& line) {
  progress_.Finish();
  lastError_ = line;
  err_ << Say(Msg::ErrorPrefix) << line << '\n' << std::flush;
}

void CliSession::Json(const json& value) {
  if (!options_.json || Reporting()) return;
  out_ << JsonLine(value) << std::flush;
}

void CliSession::SetUpdateHooks(UpdateHooks hooks) {
  hooks_ = std::move(hooks);
  progress_.SetSilent(Reporting() || options_.json || options_.verbosity == Verbosity::Quiet);
}

void CliSession::JsonResult(json value) {
  jsonWritten_ = true;
  if (recordingProblem_) {
    if (const std::optional<std::string> problem = recordingProblem_()) value["recording-error"] = *problem;
  }
  Json(value);
}

void CliSession::Dispatch(const std::function<void()>& work) {
  try {
    work();
  } catch (const LinkError& refused) {
    Error(Say(LinkFaultMessage(refused.Fault())));
  } catch (const std::exception& failure) {
    Error(failure.what());
  }
}

std::string CliSession::DeviceId(const TJvHidDevice& device) const { return Utf16ToUtf8(device.PnPInfo().DevicePath); }

TJvHidDevice* CliSession::MeterWithId(const std::string& id) const {
  const auto found = std::find_if(meters_.begin(), meters_.end(), [&](TJvHidDevice* d) { return DeviceId(*d) == id; });
  return found == meters_.end() ? nullptr : *found;
}

void CliSession::MeterFound(TJvHidDevice& device) {
  if (!MeterAgent::IsMeter(device)) return;
  if (device.IsPluggedIn() && std::find(meters_.begin(), meters_.end(), &device) == meters_.end()) {
    meters_.push_back(&device);
  }
}

void CliSession::DeviceRemoved(TJvHidDevice& device) {
  std::erase(meters_, &device);
  meter_.Removed(device);
}

void CliSession::Use(TJvHidDevice& device) {
  meterId_ = DeviceId(device);
  meter_.Bind(device);
}

void CliSession::LinkEventHappened(const LinkEvent& event) {
  if (options_.verbosity != Verbosity::Verbose) return;
  progress_.Finish();
  const std::string what = Say(LinkEventMessage(event.kind), {std::to_string(event.reportLength)});
  err_ << Say(Msg::WarningPrefix) << Say(Msg::LinkEventLine, {std::to_string(event.command), what}) << '\n';
}

void CliSession::WriteNotConfirmed(std::uint8_t command) {
  if (options_.verbosity != Verbosity::Verbose) return;
  progress_.Finish();
  err_ << Say(Msg::WarningPrefix) << Say(Msg::WriteNotConfirmed, {std::to_string(command)}) << '\n';
}

void CliSession::PhaseStarted(UpdatePhase phase) {
  lastPercent_ = -1;
  progress_.PhaseStarted(phase);
  if (hooks_.phase) hooks_.phase(phase);
  Json(PhaseJson(phase));
}

void CliSession::ProgressMade(const UpdateProgress& progress) {
  // The start saves the settings inside one call: its lines are the only
  // moments at which a stop signal can be seen then.
  if (progress.phase == UpdatePhase::SavingSettings) StopAsked();
  progress_.Show(progress);
  const ProgressReport report = ProgressReport::Of(progress);
  if (report.percent == lastPercent_) return;
  lastPercent_ = report.percent;
  if (hooks_.progress) hooks_.progress(report);
  Json(ProgressJson(report));
}

bool CliSession::StopAsked() {
  const int requests = stopRequests_ ? stopRequests_() : 0;
  if (requests <= stopsHandled_) return interrupted_;
  stopsHandled_ = requests;
  if (!meter_.Update.Running()) {
    interrupted_ = true;
    return true;
  }
  // While the settings are saved nothing has been written to the meter yet:
  // the first request stops the update at once, at no cost to the meter.
  if (meter_.Update.Starting()) {
    interrupted_ = true;
    meter_.Update.Interrupt();
    return false;  // the outcome ends the wait
  }
  if (requests == 1) {
    progress_.Finish();
    err_ << Say(Msg::WarningPrefix) << Say(Msg::StopWarning) << '\n' << std::flush;
    return false;
  }
  interrupted_ = true;
  meter_.Update.Interrupt();  // between two ticks: no chunk is cut
  return false;               // the outcome ends the wait
}

bool CliSession::RunUntil(const std::function<bool()>& condition, std::chrono::microseconds limit) {
  bool stopped = false;
  const auto step = [&] {
    if (step_) step_();
    stopped = StopAsked();
    return stopped || condition();
  };
  // In slices, so that a stop signal is seen while nothing else happens.
  for (std::chrono::microseconds waited{0}; waited < limit; waited += kStopCheckPeriod) {
    if (loop_.RunUntil(step, std::min<std::chrono::microseconds>(kStopCheckPeriod, limit - waited))) {
      return !stopped && condition();
    }
  }
  return !stopped && condition();
}

bool CliSession::WaitForMeter(bool noneIsAnAnswer) {
  const auto present = [&] { return options_.device.empty() ? !meters_.empty() : MeterWithId(options_.device) != nullptr; };
  if (RunUntil(present, kFirstScan)) return true;
  if (interrupted_) return false;
  // Meters are attached but not the one named: most likely a mistyped id.
  // The ones there are named at once, rather than waited for and a cable advised.
  const auto othersOnly = [&] {
    if (options_.device.empty() || meters_.empty()) return false;
    Error(Say(Msg::DeviceNotFound, {options_.device}));
    ListIds();
    return true;
  };
  if (othersOnly()) return false;
  // Say at once what is awaited and what to try.
  const std::string seconds = std::to_string(options_.waitSeconds);
  const std::vector<std::string> inaccessible = inaccessible_ ? inaccessible_() : std::vector<std::string>{};
  if (options_.waitSeconds > 0) {
    char usb[16];
    std::snprintf(usb, sizeof usb, "%04x:%04x", kMeterVendorId, kMeterProductId);
    Notice(options_.device.empty() ? Say(Msg::WaitingForMeter, {seconds, usb})
                                   : Say(Msg::WaitingForDevice, {seconds, options_.device}));
    for (const std::string& node : inaccessible) Notice(Say(Msg::MeterNotAccessible, {node}));
    if (inaccessible.empty()) Notice(Say(Msg::TryPlugIn));
    if (RunUntil(present, std::chrono::seconds(options_.waitSeconds))) return true;
    if (interrupted_) return false;
  } else {
    for (const std::string& node : inaccessible) Notice(Say(Msg::MeterNotAccessible, {node}));
  }
  if (othersOnly()) return false;
  if (noneIsAnAnswer && options_.device.empty()) return false;
  Error(Say(Msg::NoMeterFound, {seconds}));
  return false;
}

void CliSession::ListIds() {
  // The ids are what the user needs to go on: shown even with -q.
  err_ << Say(Msg::AttachedMeters) << '\n';
  for (TJvHidDevice* device : meters_) err_ << "  " << DeviceId(*device) << '\n';
  err_ << std::flush;
}

std::optional<int> CliSession::ChooseMeter() {
  if (!WaitForMeter()) return interrupted_ ? kExitInterrupted : kExitNoMeter;
  TJvHidDevice* chosen = options_.device.empty() ? meters_.front() : MeterWithId(options_.device);
  if (options_.device.empty() && meters_.size() > 1) {
    const CommandSpec& command = CommandOf(options_.command);
    if (command.writes && command.writes(options_)) {
      Error(Say(Msg::SeveralMetersRefused, {std::to_string(meters_.size())}));
      ListIds();
      return kExitRefused;
    }
    Notice(Say(Msg::SeveralMetersReadingFirst, {std::to_string(meters_.size()), DeviceId(*chosen)}));
  }
  Use(*chosen);
  return std::nullopt;
}

std::optional<MeterStatus> CliSession::ReadStatus(std::chrono::seconds patience) {
  std::optional<MeterStatus> best;
  for (auto waited = std::chrono::seconds(0); waited <= patience; waited += kPollPeriod) {
    const MeterStatus status = meter_.Poll.Tick();
    if (status.versionText) best = status;
    if (status.complete || !meter_.Link.CurrentDevice()) break;
    RunUntil([] { return false; }, kPollPeriod);
    if (interrupted_) return std::nullopt;
  }
  return best;
}

int CliSession::Run() {
  return Ended(CommandOf(options_.command).run(*this));
}

int CliSession::FindMeters(std::vector<std::string>& ids) {
  if (!WaitForMeter()) return Ended(interrupted_ ? kExitInterrupted : kExitNoMeter);
  for (const TJvHidDevice* device : meters_) ids.push_back(DeviceId(*device));
  return kExitOk;
}

int CliSession::Ended(int exitCode) {
  progress_.Finish();
  if (interrupted_ && exitCode != kExitOk) {
    if (!CommandOf(options_.command).saysWhyStopped || lastError_.empty()) Error(Say(Msg::Interrupted));
    exitCode = kExitInterrupted;
  }
  if (options_.json && exitCode != kExitOk && !jsonWritten_) JsonResult(JsonError(exitCode, lastError_));
  if (hooks_.ended) hooks_.ended(report_ ? *report_ : UpdateReport{.exitCode = exitCode, .message = lastError_});
  return exitCode;
}

bool CliSession::Asked(const std::string& question) {
  if (!answers_ || options_.yes) return true;
  progress_.Finish();
  std::ostream& asks = questions_ ? *questions_ : err_;
  asks << question << std::flush;
  std::string answer;
  if (!std::getline(*answers_, answer)) asks << '\n' << std::flush;
  // Ctrl-C at the question ends the run as interrupted, with nothing written.
  if (StopAsked()) return false;
  return IsYes(answer);
}

}  // namespace lu14::cli
