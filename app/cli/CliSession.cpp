#include "app/cli/CliSession.h"

#include <cstdio>
#include <string>

#include "app/cli/JsonText.h"
#include "app/cli/TerminalText.h"
#include "device/MeterProtocol.h"
#include "ports/Utf.h"
#include "update/UpdateParameters.h"

namespace lu14::cli {
namespace {

constexpr TimerId kChunkTimer = 1;
constexpr TimerId kFinishTimer = 2;
constexpr std::chrono::seconds kStatusPatience{10};
constexpr std::chrono::seconds kPollPeriod{1};
constexpr std::chrono::minutes kUpdatePatience{10};
// How often a wait looks for stop signals.
constexpr std::chrono::milliseconds kStopCheckPeriod{100};

// The options as the console names them, in kOptionBoxes order.
constexpr const char* kOptionNames[] = {"auto_save", "capacitance", "menu_swap", "modified_meter"};

std::string Hex24(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(value));
  return text;
}

std::string OnOff(const std::optional<bool>& value) { return value ? (*value ? "on" : "off") : "unknown"; }

std::string JsonBool(const std::optional<bool>& value) { return value ? (*value ? "true" : "false") : "null"; }

bool Has(const UpdateOutcome& outcome, UpdateFault fault) {
  return std::find(outcome.faults.begin(), outcome.faults.end(), fault) != outcome.faults.end();
}

// Why an update that did not complete ended, and what to do next.
std::string UpdateFailure(const UpdateOutcome& outcome) {
  const std::string confirmed = std::to_string(outcome.bytesConfirmed);
  switch (outcome.result) {
    case UpdateResult::Completed: return {};
    case UpdateResult::Disconnected:
      return "the meter was disconnected after " + confirmed + " of " + std::to_string(kStreamedLength) +
             " bytes; reconnect it and run lu14 update again";
    case UpdateResult::Cancelled:
      if (Has(outcome, UpdateFault::BackupReadFailed)) {
        return "cancelled before any firmware was written: the meter's settings could not be read";
      }
      if (Has(outcome, UpdateFault::BackupWriteFailed)) {
        return "cancelled before any firmware was written: the settings backup could not be saved";
      }
      if (Has(outcome, UpdateFault::BackupUnavailable)) {
        return "refused: the settings backup cannot be saved" +
               (outcome.backup.folder.empty() ? std::string(" (no Documents folder is known)")
                                              : " in " + outcome.backup.folder.string()) +
               "; make that folder writable, or run lu14 update --no-backup to go on without one";
      }
      return "cancelled before any firmware was written: the meter did not confirm the start of the update";
    case UpdateResult::Stopped:
      if (Has(outcome, UpdateFault::Interrupted)) {
        return "interrupted after " + confirmed + " of " + std::to_string(kStreamedLength) +
               " bytes: the meter is marked incomplete and asks for an update until one completes; "
               "run lu14 update again to finish";
      }
      if (Has(outcome, UpdateFault::LinkFailed)) {
        return "the link to the meter failed after " + confirmed + " bytes; reconnect the meter and run lu14 update again";
      }
      return "the meter did not confirm the chunk at byte " + confirmed +
             "; reconnect the meter and run lu14 update again";
    case UpdateResult::Unverified: break;
  }
  std::string reason;
  const auto add = [&reason](const char* text) { reason += (reason.empty() ? "" : ", ") + std::string(text); };
  if (Has(outcome, UpdateFault::VersionTextNotWritten)) add("the version text was not written");
  if (Has(outcome, UpdateFault::ChecksumMismatch)) add("the meter's checksum does not match the firmware");
  if (Has(outcome, UpdateFault::CompleteMarkNotWritten)) add("the meter did not take the completion mark");
  return reason + "; the meter asks for an update until one completes";
}

const char* LinkEventText(LinkEventKind kind) {
  switch (kind) {
    case LinkEventKind::Resent: return "sent again";
    case LinkEventKind::ReadsFailed: return "reading the reply failed twice, read a third time";
    case LinkEventKind::GaveUp: return "no reply: gave up";
    case LinkEventKind::StillBusy: return "the meter stayed busy: gave up";
    case LinkEventKind::EchoMismatch: return "the meter's echo differs: written again";
    case LinkEventKind::WrongReportLength: return "the device's report length is not the meter's";
  }
  return "";
}

}  // namespace

CliSession::CliSession(const CliOptions& options, Shell& shell, EventLoop& loop, HidPlatform& platform,
                       std::ostream& out, std::ostream& err, bool terminal, std::function<void()> step)
    : options_(options),
      shell_(shell),
      loop_(loop),
      out_(out),
      err_(err),
      step_(std::move(step)),
      progress_(out, terminal),
      meter_(shell, *this, *this, *this),
      chunkTicks_(shell, kChunkTimer, kChunkTickPeriod, false),
      finishTick_(shell, kFinishTimer, kFinishTickDelay, false),
      controller_(platform, [this](const std::function<void()>& work) { Dispatch(work); }) {
  shell_.SetEventSink(this);
  chunkTicks_.SetOnTimer([this] { meter_.Update.ChunkTick(); });
  finishTick_.SetOnTimer([this] { meter_.Update.FinishTick(); });
  controller_.OnEnumerate = [this](TJvHidDevice& device, std::int32_t) { return MeterFound(device); };
  controller_.OnDeviceChange = [this] {
    if (!meter_.Link.CurrentDevice()) controller_.Enumerate();
  };
  controller_.OnRemoval = [this](TJvHidDevice& device) { DeviceRemoved(device); };
  controller_.OnDeviceCreateError = [](const TJvHidPnPInfo&, bool& handled, bool&) { handled = true; };
}

CliSession::~CliSession() { shell_.SetEventSink(nullptr); }

void CliSession::Dispatch(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& failure) {
    progress_.Finish();
    err_ << "error: " << failure.what() << '\n';
  }
}

void CliSession::TimerTick(TimerId id) {
  Dispatch([this, id] {
    for (const TTimer* timer : {&chunkTicks_, &finishTick_}) {
      if (timer->Id() == id) timer->Tick();
    }
  });
}

bool CliSession::MeterFound(TJvHidDevice& device) {
  if (device.Attributes().vendorId != kMeterVendorId || device.Attributes().productId != kMeterProductId) return true;
  if (meter_.Link.CurrentDevice()) return true;
  meter_.Link.SetCurrentDevice(&device);
  device.CheckOut();
  meter_.Payload.LoadBlobCopy();
  return true;
}

void CliSession::DeviceRemoved(TJvHidDevice& device) {
  if (meter_.Link.CurrentDevice() != &device) return;
  meter_.Link.SetCurrentDevice(nullptr);
  meter_.Update.MeterRemoved();
}

void CliSession::LinkEventHappened(const LinkEvent& event) {
  progress_.Finish();
  err_ << "command " << static_cast<int>(event.command) << ": " << LinkEventText(event.kind);
  if (event.kind == LinkEventKind::WrongReportLength) err_ << " (" << event.reportLength << " bytes)";
  err_ << '\n';
}

void CliSession::WriteNotConfirmed(std::uint8_t command) {
  progress_.Finish();
  err_ << "command " << static_cast<int>(command) << ": the meter did not confirm the write\n";
}

void CliSession::ProgressMade(const UpdateProgress& progress) { progress_.Show(progress); }

bool CliSession::StopAsked() {
  const int requests = stopRequests_ ? stopRequests_() : 0;
  if (requests <= stopsHandled_) return interrupted_;
  stopsHandled_ = requests;
  if (!meter_.Update.Running()) {
    interrupted_ = true;
    return true;
  }
  progress_.Finish();
  if (requests == 1) {
    err_ << "Stopping now would leave the meter without a complete firmware, so the update goes on.\n"
            "Press Ctrl-C again to stop it after the current chunk; the meter then asks for an update\n"
            "until one completes (run lu14 update again).\n";
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

bool CliSession::WaitForMeter() {
  if (RunUntil([&] { return meter_.Link.CurrentDevice() != nullptr; }, std::chrono::seconds(options_.waitSeconds))) {
    return true;
  }
  if (interrupted_) return false;
  err_ << "no meter found within " << options_.waitSeconds << " s (vendor ff4d, product f538)\n";
  return false;
}

std::optional<MeterStatus> CliSession::ReadStatus() {
  std::optional<MeterStatus> best;
  for (auto waited = std::chrono::seconds(0); waited <= kStatusPatience; waited += kPollPeriod) {
    const MeterStatus status = meter_.Poll.Tick();
    if (status.versionText) best = status;
    if (status.complete || !meter_.Link.CurrentDevice()) break;
    RunUntil([] { return false; }, kPollPeriod);
    if (interrupted_) return std::nullopt;
  }
  if (!best) err_ << "the meter was found but does not answer its status reads\n";
  return best;
}

int CliSession::Run() {
  int exitCode = kExitFailed;
  switch (options_.command) {
    case Command::Status: exitCode = Status(); break;
    case Command::Update: exitCode = Update(); break;
    case Command::Option: exitCode = Option(); break;
    case Command::Checksum: exitCode = Checksum(); break;
  }
  if (interrupted_ && exitCode != kExitOk) {
    if (options_.command != Command::Update) err_ << "interrupted\n";
    return kExitInterrupted;
  }
  return exitCode;
}

int CliSession::Status() {
  if (!WaitForMeter()) return kExitNoMeter;
  const std::optional<MeterStatus> status = ReadStatus();
  if (!status) return kExitFailed;
  // Meter bytes: escaped for the terminal, and as JSON strings with their controls escaped.
  const std::string identity = options_.json ? CodePointsToUtf8(status->identity) : TerminalSafe(status->identity);
  const std::string version =
      options_.json ? CodePointsToUtf8(*status->versionText) : TerminalSafe(*status->versionText);
  const int flag = status->firmwareFlag.value_or(0);
  const bool complete = status->firmwareFlag == kFirmwareComplete;
  const double volts = status->batteryVolts.value_or(0.0);
  if (options_.json) {
    out_ << "{\"identity\":" << JsonString(identity) << ",\"firmware\":{\"version\":" << JsonString(version)
         << ",\"complete\":" << (complete ? "true" : "false") << ",\"flag\":" << flag << '}'
         << ",\"battery\":{\"volts\":" << JsonNumber(volts) << ",\"low\":" << (IsBatteryLow(volts) ? "true" : "false")
         << "},\"options\":{";
    for (std::size_t i = 0; i < kOptionBoxes.size(); ++i) {
      out_ << (i ? "," : "") << '"' << kOptionNames[i] << "\":" << JsonBool(status->options[i]);
    }
    out_ << "}}\n";
    return kExitOk;
  }
  char voltsText[32];
  std::snprintf(voltsText, sizeof voltsText, "%.3f V", volts);
  out_ << "identity   " << identity << '\n'
       << "firmware   " << version << (complete ? " (complete)" : " (incomplete: run lu14 update)") << '\n'
       << "battery    " << voltsText << (IsBatteryLow(volts) ? " (low: charge the battery)" : "") << '\n';
  for (std::size_t i = 0; i < kOptionBoxes.size(); ++i) {
    out_ << "option     " << kOptionNames[i] << ' ' << OnOff(status->options[i]) << '\n';
  }
  return kExitOk;
}

std::optional<std::string> CliSession::UpdateRefusal(const MeterStatus& status) {
  if (meter_.Payload.CarriesPlaceholder() && !options_.simulate && !PlaceholderAllowedByEnvironment(shell_)) {
    return "this build carries the placeholder image made for tests, not the meter's firmware; it is written to "
           "simulated meters only (--simulate), or where " +
           std::string(kAllowPlaceholderVariable) + "=1 is set for a test";
  }
  if (!options_.ignoreBattery && status.batteryVolts && IsBatteryLow(*status.batteryVolts)) {
    char volts[32];
    std::snprintf(volts, sizeof volts, "%.2f V", *status.batteryVolts);
    return std::string("the meter's battery is low (") + volts +
           "): an update that stops half-way leaves the meter without firmware; charge it first, or run lu14 update "
           "--ignore-battery";
  }
  return std::nullopt;
}

int CliSession::Update() {
  if (!WaitForMeter()) return kExitNoMeter;
  const std::optional<MeterStatus> status = ReadStatus();
  if (!status) return kExitFailed;
  if (const std::optional<std::string> refusal = UpdateRefusal(*status)) {
    err_ << "update refused: " << *refusal << '\n';
    return kExitRefused;
  }
  const UpdateRules rules{.backupRequired = !options_.noBackup, .placeholderAllowed = true};
  // The backup is named after the identity and the version text, as the window names it.
  if (meter_.Update.Start(status->identity + *status->versionText, rules) != StartResult::Started) {
    err_ << "update failed: the meter was disconnected before the update began\n";
    return kExitFailed;
  }
  const bool ended = RunUntil([&] { return updateOutcome_.has_value(); }, kUpdatePatience);
  progress_.Finish();
  if (!ended) {
    err_ << "update failed: it did not finish within 10 minutes\n";
    return kExitFailed;
  }
  return UpdateEndedWith(*updateOutcome_);
}

int CliSession::UpdateEndedWith(const UpdateOutcome& outcome) {
  if (outcome.backup.result == BackupResult::Written) {
    out_ << "settings saved to " << outcome.backup.file.string() << '\n';
  }
  if (outcome.result == UpdateResult::Completed) {
    out_ << "firmware " << kFirmwareVersionText << " written and verified\n";
    return kExitOk;
  }
  if (outcome.backup.result == BackupResult::Skipped && !Has(outcome, UpdateFault::BackupUnavailable)) {
    err_ << "no settings backup was saved (--no-backup)\n";
  }
  err_ << "update failed: " << UpdateFailure(outcome) << '\n';
  if (Has(outcome, UpdateFault::Interrupted)) return kExitInterrupted;
  return Has(outcome, UpdateFault::BackupUnavailable) ? kExitRefused : kExitFailed;
}

int CliSession::Option() {
  if (!WaitForMeter()) return kExitNoMeter;
  const OptionBox box = options_.optionName == "capacitance" ? OptionBox::C2 : OptionBox::C3;
  const OptionWriteOutcome outcome = meter_.Options.WriteAndConfirm(box, options_.optionOn);
  if (!outcome.Succeeded()) {
    err_ << "the meter did not take the option: " << options_.optionName << " reads "
         << OnOff(outcome.readBack) << (outcome.written ? "" : ", and the write was not confirmed") << '\n';
    return kExitFailed;
  }
  out_ << options_.optionName << ' ' << OnOff(outcome.readBack) << '\n';
  return kExitOk;
}

int CliSession::Checksum() {
  if (!WaitForMeter()) return kExitNoMeter;
  ChecksumReading reading;
  try {
    reading = meter_.Memory.ReadChecksum();
  } catch (const std::exception& failure) {
    err_ << failure.what() << '\n';
    return kExitFailed;
  }
  if (!reading.confirmed) {
    err_ << "the meter did not answer the checksum request\n";
    return kExitFailed;
  }
  out_ << reading.value << " (" << Hex24(reading.value) << ")"
       << (reading.value == kFirmwareChecksum ? ", the carried firmware" : "") << '\n';
  return kExitOk;
}

}  // namespace lu14::cli
