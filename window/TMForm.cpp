#include "window/TMForm.h"

#include "window/FailureReport.h"
#include "window/MessageBoxes.h"
#include "window/ShellTexts.h"
#include "window/WindowTexts.h"
#include "update/FirmwarePayload.h"

namespace lu14 {

TMForm::TMForm(Shell& shell, HidPlatform& hidPlatform, std::string applicationTitle)
    : shell_(shell),
      applicationTitle_(std::move(applicationTitle)),
      caption_(kLayoutCaption),
      Label1(ControlId::Label1, view_),
      B1(ControlId::B1, view_),
      Pr1(ControlId::Pr1, view_, kProgressInitialMax),
      LB(ControlId::LB, view_),
      G6(ControlId::G6, view_),
      C1(ControlId::C1, view_),
      C2(ControlId::C2, view_),
      C3(ControlId::C3, view_),
      C4(ControlId::C4, view_),
      Button1(ControlId::Button1, view_),
      E1(ControlId::E1, view_),
      Meter(shell, *this, *this, *this, *this, PollReads::Shown),
      Timer2(shell, kTimer2Id, kTimer2Interval, false),
      Timer3(shell, kTimer3Id, kTimer3Interval, false),
      HID(hidPlatform, [this](const std::function<void()>& work) { Dispatch(work); }),
      Timer1(shell, kTimer1Id, kTimer1Interval, true) {
  G6.OnClick = [this] { G6Click(); };
  C1.OnClick = [this] { C1Click(); };
  C2.OnClick = [this] { C2Click(); };
  C3.OnClick = [this] { C3Click(); };
  C4.OnClick = [this] { C4Click(); };
  Button1.OnClick = [this] { Button1Click(); };
  B1.OnClick = [this] { B1Click(); };
  HID.OnEnumerate = [this](TJvHidDevice& device, std::int32_t index) { return HIDEnumerate(device, index); };
  HID.OnDeviceChange = [this] { HIDDeviceChange(); };
  HID.OnRemoval = [this](TJvHidDevice& device) { HIDRemoval(device); };
  HID.OnDeviceCreateError = [this](const TJvHidPnPInfo& pnpInfo, bool& handled, bool& retryCreate) {
    HIDDeviceCreateError(pnpInfo, handled, retryCreate);
  };
  // Attaching the handler arms Timer1, which counts from the window's creation;
  // a platform without timers is reported like any failure.
  Dispatch([this] {
    Timer2.SetOnTimer([this] { Timer2Timer(); });
    Timer3.SetOnTimer([this] { Timer3Timer(); });
    Timer1.SetOnTimer([this] { Timer1Timer(); });
  });
  Dispatch([this] { FormCreate(); });
}

void TMForm::TimerTick(TimerId id) {
  Dispatch([this, id] {
    for (const TTimer* timer : {&Timer1, &Timer2, &Timer3}) {
      if (timer->Id() == id) timer->Tick();
    }
  });
}

void TMForm::UserClick(ControlId id) {
  Dispatch([this, id] {
    const TControl& control = Control(id);
    if (!control.Visible() || !control.Enabled()) return;
    if (LayoutOf(id).insideGroup && !G6.Enabled()) return;
    if (LayoutOf(id).kind == ControlKind::CheckBox) {
      static_cast<TCheckBox*>(Clickable(id))->Toggle();
    } else if (TClickable* clickable = Clickable(id)) {
      clickable->Click();
    }
  });
}

void TMForm::UserClose() {
  Dispatch([this] { FormClose(); });
}

void TMForm::Dispatch(const std::function<void()>& handler) {
  if (closed_) return;
  try {
    handler();
  } catch (...) {
    ReportUnhandledFailure(shell_, applicationTitle_, std::current_exception());
  }
}

void TMForm::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  view_.CaptionChanged();
}

const TControl& TMForm::Control(ControlId id) const {
  switch (id) {
    case ControlId::Label1: return Label1;
    case ControlId::B1: return B1;
    case ControlId::Pr1: return Pr1;
    case ControlId::LB: return LB;
    case ControlId::G6: return G6;
    case ControlId::C1: return C1;
    case ControlId::C2: return C2;
    case ControlId::C3: return C3;
    case ControlId::C4: return C4;
    case ControlId::Button1: return Button1;
    case ControlId::E1: return E1;
  }
  return Label1;
}

TCheckBox& TMForm::OptionCheckBox(MeterOption box) {
  switch (box) {
    case MeterOption::AutoSave: return C1;
    case MeterOption::Capacitance: return C2;
    case MeterOption::MenuSwap: return C3;
    case MeterOption::ModifiedMeter: return C4;
  }
  return C1;
}

TClickable* TMForm::Clickable(ControlId id) {
  switch (id) {
    case ControlId::B1: return &B1;
    case ControlId::G6: return &G6;
    case ControlId::C1: return &C1;
    case ControlId::C2: return &C2;
    case ControlId::C3: return &C3;
    case ControlId::C4: return &C4;
    case ControlId::Button1: return &Button1;
    default: return nullptr;
  }
}

void TMForm::FormCreate() {
  // Companion meter programs could hold the meter open; end them by force.
  // Whether the commands start or find anything is of no interest.
  for (std::string_view command : kCompanionKillCommands) shell_.StartHiddenCommand(std::string(command));

  state_.ModelSuffix = std::string(kStartCaptionHead) + std::string(kStartCaptionGap) +
                       std::string(kFirmwareVersionText) + std::string(kStartCaptionTail);
  SetCaption(state_.ModelSuffix);
}

void TMForm::Log(std::string_view head, std::string_view tail) {
  LB.Append(std::string(head) + std::string(tail));
}

void TMForm::OptionClicked(MeterOption box) {
  if (state_.OptionsSyncEnabled) Meter.Options.Write(box, OptionCheckBox(box).Checked());
}

void TMForm::Button1Click() { E1.SetText(std::to_string(Meter.Memory.ReadChecksum().value)); }

void TMForm::LinkEventHappened(const LinkEvent& event) {
  const std::string command = std::to_string(event.command);
  switch (event.kind) {
    case LinkEventKind::Resent: return Log(kLogResend, command);
    case LinkEventKind::ReadsFailed: return Log(kLogReadFailed);
    case LinkEventKind::GaveUp: return Log(kLogProtocolError, command);
    case LinkEventKind::StillBusy: return Log(kLogStillBusy, command);
    case LinkEventKind::EchoMismatch:
      Log(kLogEchoMismatch);
      return Log(kLogRewrite);
    case LinkEventKind::WrongReportLength: return Log(kLogWrongReportLength, std::to_string(event.reportLength));
  }
}

void TMForm::WriteNotConfirmed(std::uint8_t) { shell_.ShowMessageBox(DeviceProblemBox(kWriteErrorBox)); }

void TMForm::FormClose() {
  Meter.Link.SetCurrentDevice(nullptr);
  // The window is going away: no tick, notice or click may run a handler
  // between now and the end of the message loop.
  closed_ = true;
}

}  // namespace lu14
