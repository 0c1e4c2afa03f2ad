#include "app/cli/CliSession.h"

#include <cstdio>
#include <string>

#include "app/Utf.h"
#include "app/cli/ConsoleView.h"
#include "app/cli/JsonText.h"
#include "device/MeterMemory.h"
#include "status/StatusTexts.h"
#include "update/UpdateTexts.h"

namespace lu14::cli {
namespace {

bool Logged(const TMForm& form, std::string_view line) {
  const auto& lines = form.LB.Lines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Hex24(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

CliSession::CliSession(const CliOptions& options, Shell& shell, EventLoop& loop, HidPlatform& platform,
                       std::ostream& out, std::ostream& err, bool terminal, std::function<void()> step)
    : options_(options),
      loop_(loop),
      out_(out),
      err_(err),
      terminal_(terminal),
      step_(std::move(step)),
      form_(shell, platform, "lu14") {
  shell.SetEventSink(&form_);
}

bool CliSession::RunUntil(const std::function<bool()>& condition, std::chrono::seconds limit) {
  return loop_.RunUntil(
      [&] {
        if (step_) step_();
        return condition();
      },
      limit);
}

bool CliSession::WaitForPoll() {
  if (!RunUntil([&] { return form_.Link.CurrentDevice() != nullptr; }, std::chrono::seconds(options_.waitSeconds))) {
    err_ << "no meter found within " << options_.waitSeconds << " s (vendor ff4d, product f538)\n";
    return false;
  }
  // The poll enables B1 once it has read the meter's identity.
  if (!RunUntil([&] { return form_.B1.Enabled(); }, std::chrono::seconds(10))) {
    err_ << "the meter was found but does not answer its status reads\n";
    return false;
  }
  return true;
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
  if (!WaitForPoll()) return kExitNoMeter;
  const std::u32string identity = form_.State().DeviceIdentity;
  const std::u32string version = identity.size() >= 40 ? identity.substr(35) : std::u32string();
  std::uint8_t flag = 0;
  const bool flagRead = form_.Memory.ReadEeprom(kEepromFirmwareValidFlag, flag);
  double voltage = 0;
  try {
    voltage = form_.Memory.MeasureBattery();
  } catch (const std::exception& failure) {
    err_ << "battery measurement failed: " << failure.what() << '\n';
    return kExitFailed;
  }
  const bool complete = flagRead && flag == kFirmwareComplete;
  const std::string options[4][2] = {{"auto_save", "C1"}, {"capacitance", "C2"}, {"menu_swap", "C3"},
                                     {"modified_meter", "C4"}};
  const TCheckBox* boxes[4] = {&form_.C1, &form_.C2, &form_.C3, &form_.C4};
  if (options_.json) {
    out_ << "{\"identity\":" << JsonString(CodePointsToUtf8(identity.substr(0, 35)))
         << ",\"firmware\":{\"version\":" << JsonString(CodePointsToUtf8(version))
         << ",\"complete\":" << (complete ? "true" : "false") << ",\"flag\":" << static_cast<int>(flag) << '}'
         << ",\"battery\":{\"volts\":" << JsonNumber(voltage) << ",\"low\":" << (IsBatteryLow(voltage) ? "true" : "false")
         << "},\"options\":{";
    for (int i = 0; i < 4; ++i) {
      out_ << (i ? "," : "") << '"' << options[i][0] << "\":" << (boxes[i]->Checked() ? "true" : "false");
    }
    out_ << "}}\n";
  } else {
    char volts[32];
    std::snprintf(volts, sizeof volts, "%.3f V", voltage);
    out_ << "identity   " << CodePointsToUtf8(identity.substr(0, 35)) << '\n'
         << "firmware   " << CodePointsToUtf8(version) << (complete ? " (complete)" : " (incomplete: run lu14 update)")
         << '\n'
         << "battery    " << volts << (IsBatteryLow(voltage) ? " (low: charge the battery)" : "") << '\n';
    for (int i = 0; i < 4; ++i) {
      out_ << "option     " << options[i][0] << ' ' << (boxes[i]->Checked() ? "on" : "off") << '\n';
    }
  }
  return kExitOk;
}

int CliSession::Update() {
  if (!WaitForPoll()) return kExitNoMeter;
  ConsoleView view(form_, out_, terminal_);
  form_.UserClick(ControlId::B1);
  const bool ended = RunUntil(
      [&] { return Logged(form_, kLogUpdateDone) || (!form_.Timer2.Enabled() && !form_.Timer3.Enabled()); },
      std::chrono::minutes(10));
  view.FinishProgress();
  if (!form_.Update.Backup().LastFile().empty()) {
    out_ << "settings saved to " << form_.Update.Backup().LastFile().string() << '\n';
  }
  if (Logged(form_, kLogUpdateDone)) return kExitOk;
  err_ << "update failed: " << UpdateFailure(ended) << '\n';
  return kExitFailed;
}

std::string CliSession::UpdateFailure(bool ended) const {
  const std::size_t sent = form_.Update.StreamPos();
  if (!ended) return "it did not finish within 10 minutes";
  if (!form_.Link.CurrentDevice()) {
    return "the meter was disconnected after " + std::to_string(sent) + " of " + std::to_string(kStreamedLength) +
           " bytes; reconnect it and run lu14 update again";
  }
  if (sent == 0) return "cancelled before any firmware was written: " + form_.LB.Lines().back();
  if (sent < kStreamedLength) {
    return "the meter did not confirm the chunk at byte " + std::to_string(sent - kChunkSize) +
           "; reconnect the meter and run lu14 update again";
  }
  return form_.LB.Lines().back() + "; the meter asks for an update until one completes";
}

int CliSession::Option() {
  if (!WaitForPoll()) return kExitNoMeter;
  if (!RunUntil([&] { return form_.State().OptionsSyncEnabled; }, std::chrono::seconds(5))) {
    err_ << "the meter's options could not be read\n";
    return kExitFailed;
  }
  ConsoleView view(form_, err_, false);  // the transaction's retries, if any
  const bool capacitance = options_.optionName == "capacitance";
  TCheckBox& box = capacitance ? form_.C2 : form_.C3;
  const OptionByte& option = kOptionBytes[capacitance ? 1 : 2];
  form_.Dispatch([&] { box.SetChecked(options_.optionOn); });  // writes the byte when the state changes
  std::uint8_t stored = 0;
  if (!form_.Memory.ReadEeprom(option.address, stored) || OptionTicked(option.box, stored) != options_.optionOn) {
    err_ << "the meter did not take the option\n";
    return kExitFailed;
  }
  out_ << options_.optionName << ' ' << (options_.optionOn ? "on" : "off") << '\n';
  return kExitOk;
}

int CliSession::Checksum() {
  if (!RunUntil([&] { return form_.Link.CurrentDevice() != nullptr; }, std::chrono::seconds(options_.waitSeconds))) {
    err_ << "no meter found within " << options_.waitSeconds << " s\n";
    return kExitNoMeter;
  }
  try {
    if (!form_.Link.SendCommand(cmdReadChecksum, false)) {
      err_ << "the meter did not answer the checksum request\n";
      return kExitFailed;
    }
  } catch (const std::exception& failure) {
    err_ << failure.what() << '\n';
    return kExitFailed;
  }
  const Report& reply = form_.Link.InReport;
  const std::uint32_t checksum = reply[1] + reply[2] * 256u + reply[3] * 65536u;
  out_ << checksum << " (" << Hex24(checksum) << ")" << (checksum == kFirmwareChecksum ? ", the carried firmware" : "")
       << '\n';
  return kExitOk;
}

}  // namespace lu14::cli
