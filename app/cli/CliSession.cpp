#include "app/cli/CliSession.h"

#include <cstdio>
#include <string>

#include "app/cli/JsonText.h"
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
      return "cancelled before any firmware was written: the meter did not confirm the start of the update";
    case UpdateResult::Stopped:
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

bool CliSession::RunUntil(const std::function<bool()>& condition, std::chrono::microseconds limit) {
  return loop_.RunUntil(
      [&] {
        if (step_) step_();
        return condition();
      },
      limit);
}

bool CliSession::WaitForMeter() {
  if (RunUntil([&] { return meter_.Link.CurrentDevice() != nullptr; }, std::chrono::seconds(options_.waitSeconds))) {
    return true;
  }
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
  }
  if (!best) err_ << "the meter was found but does not answer its status reads\n";
  return best;
}

int CliSession::Run() {
  switch (options_.command) {
    case Command::Status: return Status();
    case Command::Update: return Update();
    case Command::Option: return Option();
    case Command::Checksum: return Checksum();
  }
  return kExitFailed;
}

int CliSession::Status() {
  if (!WaitForMeter()) return kExitNoMeter;
  const std::optional<MeterStatus> status = ReadStatus();
  if (!status) return kExitFailed;
  const std::string identity = CodePointsToUtf8(status->identity);
  const std::string version = CodePointsToUtf8(*status->versionText);
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

int CliSession::Update() {
  if (!WaitForMeter()) return kExitNoMeter;
  const std::optional<MeterStatus> status = ReadStatus();
  if (!status) return kExitFailed;
  // The backup is named after the identity and the version text, as the window names it.
  if (!meter_.Update.Start(status->identity + *status->versionText)) {
    err_ << "update failed: the meter was disconnected before the update began\n";
    return kExitFailed;
  }
  const bool ended = RunUntil([&] { return updateOutcome_.has_value(); }, kUpdatePatience);
  progress_.Finish();
  if (!ended) {
    err_ << "update failed: it did not finish within 10 minutes\n";
    return kExitFailed;
  }
  if (updateOutcome_->backup.result == BackupResult::Written) {
    out_ << "settings saved to " << updateOutcome_->backup.file.string() << '\n';
  }
  if (updateOutcome_->result == UpdateResult::Completed) {
    out_ << "firmware " << kFirmwareVersionText << " written and verified\n";
    return kExitOk;
  }
  err_ << "update failed: " << UpdateFailure(*updateOutcome_) << '\n';
  return kExitFailed;
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
