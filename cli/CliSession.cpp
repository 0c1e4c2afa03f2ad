#include "cli/CliSession.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "cli/output/JsonText.h"
#include "cli/output/TerminalText.h"
#include "device/MeterProtocol.h"
#include "ports/Utf.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

using nlohmann::json;

constexpr std::chrono::seconds kStatusPatience{10};
constexpr std::chrono::seconds kListPatience{3};
constexpr std::chrono::seconds kPollPeriod{1};
constexpr std::chrono::minutes kUpdatePatience{10};
// How often a wait looks for stop signals.
constexpr std::chrono::milliseconds kStopCheckPeriod{100};
// The controller's first scan runs as soon as the loop does: this is time
// enough for it, also with --wait 0.
constexpr std::chrono::milliseconds kFirstScan{50};

std::string Hex24(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(value));
  return text;
}

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

bool Has(const UpdateOutcome& outcome, UpdateFault fault) {
  return std::find(outcome.faults.begin(), outcome.faults.end(), fault) != outcome.faults.end();
}

// A meter's text for the terminal (escaped) or for JSON (the library escapes it).
std::string MeterText(const std::u32string& text, bool forJson) {
  return forJson ? CodePointsToUtf8(text) : TerminalSafe(text);
}

json OptionalBool(const std::optional<bool>& value) { return value ? json(*value) : json(nullptr); }

// Why an update that did not complete ended, and what to do next.
std::string UpdateFailure(Language language, const UpdateOutcome& outcome) {
  const std::string confirmed = std::to_string(outcome.bytesConfirmed);
  const std::string streamed = std::to_string(kStreamedLength);
  switch (outcome.result) {
    case UpdateResult::Completed: return {};
    case UpdateResult::Disconnected: return Text(language, Msg::FailDisconnected, {confirmed, streamed});
    case UpdateResult::Cancelled:
      if (Has(outcome, UpdateFault::Interrupted)) {
        const std::string stopped = Text(language, Msg::FailInterruptedBeforeWriting);
        if (outcome.backup.result != BackupResult::Failed) return stopped;
        return stopped + "; " + Text(language, Msg::BackupCutShort);
      }
      if (Has(outcome, UpdateFault::BackupReadFailed)) return Text(language, Msg::FailBackupRead);
      if (Has(outcome, UpdateFault::BackupWriteFailed)) {
        return Text(language, Msg::FailBackupWrite, {Because(outcome.backup.reason)});
      }
      if (Has(outcome, UpdateFault::BackupUnavailable)) {
        return outcome.backup.folder.empty()
                   ? Text(language, Msg::FailBackupUnavailableNoFolder, {Because(outcome.backup.reason)})
                   : Text(language, Msg::FailBackupUnavailableIn,
                          {EscapeControlCharacters(outcome.backup.folder.string(), "\\x%02X"),
                           Because(outcome.backup.reason)});
      }
      return Text(language, Msg::FailStartNotConfirmed);
    case UpdateResult::Stopped:
      if (Has(outcome, UpdateFault::Interrupted)) return Text(language, Msg::FailInterrupted, {confirmed, streamed});
      if (Has(outcome, UpdateFault::LinkFailed)) return Text(language, Msg::FailLinkFailed, {confirmed});
      return Text(language, Msg::FailChunkNotConfirmed, {confirmed});
    case UpdateResult::Unverified: break;
  }
  std::string reason;
  const auto add = [&](Msg message) { reason += (reason.empty() ? "" : ", ") + Text(language, message); };
  if (Has(outcome, UpdateFault::VersionTextNotWritten)) add(Msg::FailVersionText);
  if (Has(outcome, UpdateFault::ChecksumMismatch)) add(Msg::FailChecksumMismatch);
  if (Has(outcome, UpdateFault::CompleteMarkNotWritten)) add(Msg::FailCompleteMark);
  return Text(language, Msg::FailStillIncomplete, {reason});
}

Msg LinkFaultText(LinkFault fault) { return fault == LinkFault::NoDevice ? Msg::LinkNoMeter : Msg::LinkBusy; }

Msg LinkEventText(LinkEventKind kind) {
  switch (kind) {
    case LinkEventKind::Resent: return Msg::LinkResent;
    case LinkEventKind::ReadsFailed: return Msg::LinkReadsFailed;
    case LinkEventKind::GaveUp: return Msg::LinkGaveUp;
    case LinkEventKind::StillBusy: return Msg::LinkStillBusy;
    case LinkEventKind::EchoMismatch: return Msg::LinkEchoMismatch;
    case LinkEventKind::WrongReportLength: return Msg::LinkWrongReportLength;
  }
  return Msg::LinkGaveUp;
}

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
  // JSON carries the progress itself; -q shows none.
  progress_.SetSilent(options_.json || options_.verbosity == Verbosity::Quiet);
  pacer_.Drive([this] { meter_.Update.ChunkTick(); }, [this] { meter_.Update.FinishTick(); },
               [this](const std::function<void()>& tick) { Dispatch(tick); });
  controller_.OnEnumerate = [this](TJvHidDevice& device, std::int32_t) { return MeterFound(device); };
  controller_.OnDeviceChange = [this] {
    if (!meter_.Link.CurrentDevice()) controller_.Enumerate();
  };
  controller_.OnRemoval = [this](TJvHidDevice& device) { DeviceRemoved(device); };
  controller_.OnDeviceCreateError = [](const TJvHidPnPInfo&, bool& handled, bool&) { handled = true; };
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
    Error(Say(LinkFaultText(refused.Fault())));
  } catch (const std::exception& failure) {
    Error(failure.what());
  }
}

std::string CliSession::DeviceId(const TJvHidDevice& device) const { return Utf16ToUtf8(device.PnPInfo().DevicePath); }

TJvHidDevice* CliSession::MeterWithId(const std::string& id) const {
  const auto found = std::find_if(meters_.begin(), meters_.end(), [&](TJvHidDevice* d) { return DeviceId(*d) == id; });
  return found == meters_.end() ? nullptr : *found;
}

bool CliSession::MeterFound(TJvHidDevice& device) {
  if (!MeterAgent::IsMeter(device)) return true;
  if (device.IsPluggedIn() && std::find(meters_.begin(), meters_.end(), &device) == meters_.end()) {
    meters_.push_back(&device);
  }
  return true;
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
  const std::string what = Say(LinkEventText(event.kind), {std::to_string(event.reportLength)});
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
    const bool writes = options_.command == Command::Update || options_.command == Command::Option ||
                        (options_.command == Command::Restore && !options_.dryRun);
    if (writes) {
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
  int exitCode = kExitFailed;
  switch (options_.command) {
    case Command::Status: exitCode = Status(); break;
    case Command::List: exitCode = List(); break;
    case Command::Update: exitCode = Update(); break;
    case Command::Option: exitCode = Option(); break;
    case Command::Checksum: exitCode = Checksum(); break;
    case Command::Backup: exitCode = Backup(); break;
    case Command::Restore: exitCode = Restore(); break;
  }
  return Ended(exitCode);
}

int CliSession::FindMeters(std::vector<std::string>& ids) {
  if (!WaitForMeter()) return Ended(interrupted_ ? kExitInterrupted : kExitNoMeter);
  for (const TJvHidDevice* device : meters_) ids.push_back(DeviceId(*device));
  return kExitOk;
}

int CliSession::Ended(int exitCode) {
  progress_.Finish();
  if (interrupted_ && exitCode != kExitOk) {
    const bool saidWhy = options_.command == Command::Update || options_.command == Command::Restore ||
                         options_.command == Command::Backup;
    if (!saidWhy || lastError_.empty()) Error(Say(Msg::Interrupted));
    exitCode = kExitInterrupted;
  }
  if (options_.json && exitCode != kExitOk && !jsonWritten_) JsonResult(JsonError(exitCode, lastError_));
  if (hooks_.ended) hooks_.ended(report_ ? *report_ : UpdateReport{.exitCode = exitCode, .message = lastError_});
  return exitCode;
}

int CliSession::Status() {
  if (const auto refused = ChooseMeter()) return *refused;
  const std::optional<MeterStatus> status = ReadStatus(kStatusPatience);
  if (!status) {
    Error(Say(Msg::NoStatusAnswer));
    return kExitFailed;
  }
  // Meter bytes: escaped for the terminal; in JSON the library and JsonLine escape them.
  const std::string identity = MeterText(status->identity, options_.json);
  const std::string version = MeterText(*status->versionText, options_.json);
  const int flag = status->firmwareFlag.value_or(0);
  const bool complete = status->firmwareFlag == kFirmwareComplete;
  const std::optional<double> volts = status->batteryVolts;
  const bool low = volts && IsBatteryLow(*volts);
  const auto& names = OptionNames();
  if (options_.json) {
    json optionValues = json::object();
    for (std::size_t i = 0; i < kMeterOptions.size(); ++i) optionValues[names[i].name] = OptionalBool(status->options[i]);
    JsonResult({{"id", meterId_},
                {"identity", identity},
                {"firmware", {{"version", version}, {"complete", complete}, {"flag", flag}}},
                {"battery", {{"volts", volts ? json(std::round(*volts * 1000) / 1000) : json(nullptr)}, {"low", low}}},
                {"options", optionValues}});
    return kExitOk;
  }
  const Msg labels[] = {Msg::LabelIdentity, Msg::LabelFirmware, Msg::LabelBattery, Msg::LabelOption};
  std::size_t width = 0;
  for (const Msg label : labels) width = std::max(width, Columns(Say(label)));
  const auto line = [&](Msg label, const std::string& value) {
    const std::string text = Say(label);
    Result(text + std::string(width + 3 - Columns(text), ' ') + value);
  };
  line(Msg::LabelIdentity, identity);
  line(Msg::LabelFirmware, version + ' ' + Say(complete ? Msg::Complete : Msg::IncompleteRunUpdate));
  line(Msg::LabelBattery, volts ? Fixed(*volts, 3) + ' ' + Say(Msg::Volts) + (low ? ' ' + Say(Msg::BatteryLowCharge) : "")
                                : Say(Msg::Unknown));
  for (std::size_t i = 0; i < kMeterOptions.size(); ++i) {
    const std::optional<bool>& value = status->options[i];
    line(Msg::LabelOption, std::string(names[i].name) + ' ' + Say(value ? (*value ? Msg::On : Msg::Off) : Msg::Unknown));
  }
  return kExitOk;
}

int CliSession::List() {
  json listed = json::array();
  // No meter attached is an answer, the empty list: a script asks and goes on.
  if (!WaitForMeter(/*noneIsAnAnswer=*/true)) {
    if (interrupted_) return kExitInterrupted;
    if (!options_.device.empty()) return kExitNoMeter;
    Notice(Say(Msg::ListNoMeter));
    JsonResult({{"meters", listed}});
    return kExitOk;
  }
  for (TJvHidDevice* device : std::vector<TJvHidDevice*>(meters_)) {
    Use(*device);
    const std::optional<MeterStatus> status = ReadStatus(kListPatience);
    if (interrupted_) return kExitInterrupted;
    const std::string id = DeviceId(*device);
    if (!status) {
      listed.push_back({{"id", id}, {"identity", nullptr}, {"firmware", nullptr}});
      Result(id + "  " + Say(Msg::ListUnreadable));
      continue;
    }
    const bool complete = status->firmwareFlag == kFirmwareComplete;
    listed.push_back({{"id", id},
                      {"identity", CodePointsToUtf8(status->identity)},
                      {"firmware", {{"version", CodePointsToUtf8(*status->versionText)}, {"complete", complete}}}});
    Result(id + "  " + TerminalSafe(status->identity) + "  " + TerminalSafe(*status->versionText) + ' ' +
           Say(complete ? Msg::ListComplete : Msg::ListIncomplete));
  }
  meter_.Link.SetCurrentDevice(nullptr);
  JsonResult({{"meters", listed}});
  return kExitOk;
}

std::optional<std::string> CliSession::UpdateRefusal(const MeterStatus& status) {
  if (meter_.Payload.CarriesPlaceholder() && !options_.simulate && !PlaceholderAllowedByEnvironment(shell_)) {
    return Say(Msg::RefusedPlaceholder, {kAllowPlaceholderVariable});
  }
  if (!options_.ignoreBattery && status.batteryVolts && IsBatteryLow(*status.batteryVolts)) {
    return Say(Msg::RefusedBatteryLow, {Fixed(*status.batteryVolts, 2)});
  }
  return std::nullopt;
}

bool CliSession::Confirmed(const MeterStatus& status) {
  if (hooks_.goAhead) return hooks_.goAhead(status);
  return Asked(AboutToWriteText(options_.language, status, meterId_) +
               Say(Msg::AskToWrite, {kFirmwareVersionText}));
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

int CliSession::Update() {
  if (const auto refused = ChooseMeter()) return *refused;
  const std::optional<MeterStatus> status = ReadStatus(kStatusPatience);
  if (!status) {
    Error(Say(Msg::NoStatusAnswer));
    return kExitFailed;
  }
  // A meter pulled out while it was being read leaves a status, but nothing
  // to update.
  if (!meter_.Link.CurrentDevice()) {
    Error(Say(Msg::UpdateFailedPrefix) + Say(Msg::FailDisconnectedBeforeStart));
    return kExitFailed;
  }
  if (hooks_.meterRead) hooks_.meterRead(*status);
  const bool current = *status->versionText == std::u32string(kFirmwareVersionText.begin(), kFirmwareVersionText.end()) &&
                       status->firmwareFlag == kFirmwareComplete;
  if (current && !options_.force) {
    Result(Say(Msg::AlreadyCurrent, {kFirmwareVersionText}));
    report_ = UpdateReport{.exitCode = kExitOk, .result = "up-to-date"};
    JsonResult(ReportJson(*report_));
    return kExitOk;
  }
  if (const std::optional<std::string> refusal = UpdateRefusal(*status)) {
    Error(Say(Msg::RefusedPrefix) + *refusal);
    return kExitRefused;
  }
  if (!Confirmed(*status)) {
    Error(Say(Msg::Declined));
    return interrupted_ ? kExitInterrupted : kExitFailed;
  }
  // Backups go to the user's Documents folder or nowhere; --no-backup goes on
  // without one when it cannot be made or written there.
  const UpdateRules rules{.backupRequired = !options_.noBackup,
                          .backupFolder = BackupFolderRule::DocumentsOnly,
                          .goOnWhenBackupNotWritten = options_.noBackup,
                          .placeholderAllowed = true};
  // The backup is named after the identity and the version text, as the window names it.
  if (meter_.Update.Start(status->identity + *status->versionText, rules) != StartResult::Started) {
    Error(Say(Msg::UpdateFailedPrefix) + Say(Msg::FailDisconnectedBeforeStart));
    return kExitFailed;
  }
  // A start that was cancelled (a stop while the settings were saved) has ended the update already.
  const auto ended = [&] { return !meter_.Update.Running(); };
  const bool done = ended() || RunUntil(ended, kUpdatePatience);
  progress_.Finish();
  if (!done || !meter_.LastUpdate()) {
    Error(Say(Msg::UpdateFailedPrefix) + Say(Msg::FailTimeout));
    return kExitFailed;
  }
  return UpdateEndedWith(*meter_.LastUpdate());
}

int CliSession::UpdateEndedWith(const UpdateOutcome& outcome) {
  const bool saved = outcome.backup.result == BackupResult::Written;
  if (saved) Result(Say(Msg::SettingsSaved, {outcome.backup.file.string()}));
  // The update went on past the backup without one (--no-backup): say so, and why.
  const bool endedByBackup = outcome.result == UpdateResult::Cancelled &&
                             (Has(outcome, UpdateFault::BackupReadFailed) || Has(outcome, UpdateFault::BackupWriteFailed) ||
                              Has(outcome, UpdateFault::BackupUnavailable) || Has(outcome, UpdateFault::Interrupted));
  if (!saved && !endedByBackup) {
    const std::string reason = outcome.backup.reason;
    Notice(Say(Msg::NoBackupSaved, {reason.empty() ? "" : ": " + EscapeControlCharacters(reason, "\\x%02X")}));
  }
  int exitCode = kExitOk;
  std::string message;
  if (outcome.result == UpdateResult::Completed) {
    Result(Say(Msg::FirmwareWritten, {kFirmwareVersionText}));
  } else {
    message = UpdateFailure(options_.language, outcome);
    Error(Say(Msg::UpdateFailedPrefix) + message);
    // A backup that cannot be saved refuses the update as a missing folder does.
    const bool backupRefused =
        Has(outcome, UpdateFault::BackupUnavailable) || Has(outcome, UpdateFault::BackupWriteFailed);
    exitCode = Has(outcome, UpdateFault::Interrupted) ? kExitInterrupted
               : backupRefused                        ? kExitRefused
                                                      : kExitFailed;
  }
  report_ = UpdateReport{.exitCode = exitCode,
                         .result = ResultKey(outcome.result),
                         .message = message,
                         .bytesConfirmed = outcome.bytesConfirmed,
                         .backup = saved ? std::optional(outcome.backup.file.string()) : std::nullopt};
  JsonResult(ReportJson(*report_));
  return exitCode;
}

int CliSession::Option() {
  if (const auto refused = ChooseMeter()) return *refused;
  const auto& names = OptionNames();
  const auto index = static_cast<std::size_t>(
      std::find_if(names.begin(), names.end(), [&](const OptionName& o) { return options_.optionName == o.name; }) -
      names.begin());
  const MeterOption box = kMeterOptions.at(index);
  const OptionWriteOutcome outcome = meter_.Options.WriteAndConfirm(box, options_.optionOn);
  const std::string value = Say(outcome.readBack ? (*outcome.readBack ? Msg::On : Msg::Off) : Msg::Unknown);
  json result{{"option", options_.optionName},
              {"requested", options_.optionOn},
              {"value", OptionalBool(outcome.readBack)},
              {"confirmed", outcome.written},
              {"ok", outcome.Succeeded()}};
  if (!outcome.Succeeded()) {
    // A failure carries what every failure in JSON carries.
    Error(Say(Msg::OptionNotTaken, {options_.optionName, value}) +
          (outcome.written ? "" : Say(Msg::OptionWriteNotConfirmed)));
    result.update(JsonError(kExitFailed, lastError_));
    JsonResult(result);
    return kExitFailed;
  }
  JsonResult(result);
  Result(options_.optionName + ' ' + value);
  return kExitOk;
}

int CliSession::Checksum() {
  if (const auto refused = ChooseMeter()) return *refused;
  // The value is compared with the carried firmware's and shown as the meter's,
  // so only a checksum the meter confirmed (tagged, echoed, asked twice) counts.
  std::optional<std::uint32_t> checksum;
  try {
    checksum = meter_.Memory.ReadChecksumConfirmed();
  } catch (const LinkError& refused) {
    Error(Say(LinkFaultText(refused.Fault())));
    return kExitFailed;
  } catch (const std::exception& failure) {
    Error(failure.what());
    return kExitFailed;
  }
  if (!checksum) {
    Error(Say(Msg::ChecksumNoAnswer));
    return kExitFailed;
  }
  // A meter without the carried firmware is what this command is run to find:
  // a script sees it in the exit code.
  const bool match = *checksum == kFirmwareChecksum;
  const int exitCode = match ? kExitOk : kExitFailed;
  JsonResult({{"checksum", *checksum}, {"expected", kFirmwareChecksum}, {"match", match},
              {"firmware", std::string(kFirmwareVersionText)}, {"ok", match}, {"exit", exitCode}});
  const std::string value = std::to_string(*checksum);
  Result(match ? Say(Msg::ChecksumMatches, {value, Hex24(*checksum), kFirmwareVersionText})
               : Say(Msg::ChecksumDiffers, {value, Hex24(*checksum), kFirmwareVersionText,
                                            std::to_string(kFirmwareChecksum) + " (" + Hex24(kFirmwareChecksum) + ")"}));
  return exitCode;
}

}  // namespace lu14::cli
