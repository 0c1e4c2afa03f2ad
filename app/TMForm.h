// TMForm: the model of the program's one window. It owns the state of every
// control, the three timers and the handlers. A front end mirrors it in a real
// window (through FormView) and turns user input into calls on it; tests read
// its state directly.
//
// Every event enters through a dispatch boundary (TimerTick, UserClick,
// UserClose, Dispatch) that catches what a handler throws and shows it with
// ReportUnhandledFailure; the program then goes on.
#pragma once

#include <functional>
#include <string>

#include "app/SharedState.h"
#include "app/Shell.h"
#include "app/components/Controls.h"
#include "app/components/FormView.h"
#include "app/components/TTimer.h"
#include "device/HidPlatform.h"
#include "device/MeterLink.h"
#include "device/MeterMemory.h"
#include "device/TJvHidDeviceController.h"
#include "status/DeviceOptions.h"
#include "status/StatusPoll.h"
#include "update/FirmwarePayload.h"
#include "update/UpdateSequence.h"

namespace lu14 {

inline constexpr TimerId kTimer1Id = 1;
inline constexpr TimerId kTimer2Id = 2;
inline constexpr TimerId kTimer3Id = 3;
inline constexpr Milliseconds kTimer1Interval{1000};
inline constexpr Milliseconds kTimer2Interval{2};
inline constexpr Milliseconds kTimer3Interval{1};

class TMForm : public EventSink {
 public:
  // Creates the controls, timers and the HID controller in layout order
  // (Timer1 on, the others off; the controller posts its start-up notice),
  // then runs FormCreate. applicationTitle: caption of the failure box.
  TMForm(Shell& shell, HidPlatform& hidPlatform, std::string applicationTitle);
  TMForm(const TMForm&) = delete;
  TMForm& operator=(const TMForm&) = delete;

  // --- dispatch boundaries --------------------------------------------------
  // A tick of one of the form's timers, from the runtime.
  void TimerTick(TimerId id) override;
  // A user's click or key press on a control. Ignored unless the control is
  // visible and enabled (and, for C1..C4, G6 as well). A check box toggles.
  void UserClick(ControlId id);
  // The user closes the window. Never refused; afterwards no handler runs.
  void UserClose();
  // Runs a handler; what it throws is reported. Nothing runs after the close.
  void Dispatch(const std::function<void()>& handler);

  bool Closed() const { return closed_; }

  // --- window state ---------------------------------------------------------
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  void AttachView(FormView* view) { view_.Attach(view); }
  SharedState& State() { return state_; }
  const TControl& Control(ControlId id) const;
  TCheckBox& OptionCheckBox(OptionBox box);

  // --- handlers -------------------------------------------------------------
  void FormCreate();
  // Never refuses: the close action stays as the toolkit passes it, which for
  // the main window ends the program. No command reaches the meter afterwards.
  void FormClose();
  void G6Click() {}

  void Timer1Timer() { Poll.Tick(); }
  void B1Click() { Update.Start(); }
  void Timer2Timer() { Update.ChunkTick(); }
  void Timer3Timer() { Update.FinishTick(); }
  void C1Click() { Options.BoxClicked(OptionBox::C1); }
  void C2Click() { Options.BoxClicked(OptionBox::C2); }
  void C3Click() { Options.BoxClicked(OptionBox::C3); }
  void C4Click() { Options.BoxClicked(OptionBox::C4); }
  void Button1Click() { Options.ShowChecksum(); }

  // The HID controller's events.
  void HIDDeviceChange();
  bool HIDEnumerate(TJvHidDevice& device, std::int32_t index);
  void HIDRemoval(TJvHidDevice& device);
  void HIDDeviceCreateError(const TJvHidPnPInfo& pnpInfo, bool& handled, bool& retryCreate);

 private:
  TClickable* Clickable(ControlId id);

  Shell& shell_;
  std::string applicationTitle_;
  ViewLink view_;
  SharedState state_;
  std::string caption_;
  bool closed_ = false;

 public:
  // The components, declared (and so created) in the layout's order.
  TLabel Label1;
  TButton B1;
  TProgressBar Pr1;
  TListBox LB;
  TGroupBox G6;
  TCheckBox C1;
  TCheckBox C2;
  TCheckBox C3;
  TCheckBox C4;
  TButton Button1;
  TEdit E1;
  // The carried firmware and the link to the meter live as long as the window.
  FirmwarePayload Payload;
  MeterLink Link;
  MeterMemory Memory;
  StatusPoll Poll;
  DeviceOptions Options;
  UpdateSequence Update;
  TTimer Timer2;
  TTimer Timer3;
  TJvHidDeviceController HID;
  TTimer Timer1;
};

}  // namespace lu14
