// TMForm: the model of the program's one window. It owns the state of every
// control, the three timers, the handlers and the session with the meter it
// shows. A front end mirrors it in a real window (through FormView) and turns
// user input into calls on it; tests read its state directly.
//
// It is the one place that knows the window's controls: the session reports
// events and outcomes as values through the views the form implements, and
// the form gives them the window's texts, boxes and timers.
//
// Every event enters through a dispatch boundary (TimerTick, UserClick,
// UserClose, Dispatch) that catches what a handler throws and shows it with
// ReportUnhandledFailure; the program then goes on.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "window/SharedState.h"
#include "window/controls/Controls.h"
#include "window/controls/FormView.h"
#include "window/controls/TTimer.h"
#include "device/LinkEvent.h"
#include "device/TJvHidDeviceController.h"
#include "ports/HidPlatform.h"
#include "ports/LinkObserver.h"
#include "ports/Shell.h"
#include "ports/StatusView.h"
#include "ports/UpdatePacer.h"
#include "ports/UpdateView.h"
#include "session/MeterAgent.h"
#include "status/MeterStatus.h"
#include "update/UpdateOutcome.h"
#include "update/UpdateParameters.h"

namespace lu14 {

inline constexpr TimerId kTimer1Id = 1;
inline constexpr TimerId kTimer2Id = 2;
inline constexpr TimerId kTimer3Id = 3;
inline constexpr Milliseconds kTimer1Interval{1000};
inline constexpr Milliseconds kTimer2Interval = kChunkTickPeriod;
inline constexpr Milliseconds kTimer3Interval = kFinishTickDelay;

class TMForm : public EventSink, LinkObserver, StatusView, UpdateView, UpdatePacer {
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
  TCheckBox& OptionCheckBox(MeterOption box);

  // --- handlers -------------------------------------------------------------
  void FormCreate();
  // Never refuses: the close action stays as the toolkit passes it, which for
  // the main window ends the program. No command reaches the meter afterwards.
  void FormClose();
  void G6Click() {}

  void Timer1Timer() { Meter.Poll.Tick(); }
  void B1Click();
  void Timer2Timer() { Meter.Update.ChunkTick(); }
  void Timer3Timer() { Meter.Update.FinishTick(); }
  void C1Click() { OptionClicked(MeterOption::AutoSave); }
  void C2Click() { OptionClicked(MeterOption::Capacitance); }
  void C3Click() { OptionClicked(MeterOption::MenuSwap); }
  void C4Click() { OptionClicked(MeterOption::ModifiedMeter); }
  // Asks for the firmware checksum and shows it in E1 as a decimal number.
  // Errors reach the failure report.
  void Button1Click();

  // The HID controller's events.
  void HIDDeviceChange();
  bool HIDEnumerate(TJvHidDevice& device, std::int32_t index);
  void HIDRemoval(TJvHidDevice& device);
  void HIDDeviceCreateError(const TJvHidPnPInfo& pnpInfo, bool& handled, bool& retryCreate);

  // How the last update ended; nothing before the first.
  const std::optional<UpdateOutcome>& LastUpdate() const { return Meter.LastUpdate(); }

 private:
  TClickable* Clickable(ControlId id);
  // A box changed (by the user, or by the program): writes its byte while the
  // options are in sync with the meter. The write's result is not looked at:
  // the box shows the meter's byte again at the next complete poll.
  void OptionClicked(MeterOption box);
  void Log(std::string_view head, std::string_view tail = {});

  // LinkObserver: the transaction's log lines and its box.
  void LinkEventHappened(const LinkEvent& event) override;
  void WriteNotConfirmed(std::uint8_t command) override;
  // StatusView: the poll's label, enable states, identity and option boxes.
  void ShowNoMeter() override;
  void StopUpdateTicks() override;
  void ShowBatteryLow() override;
  void ShowIdentity(const std::u32string& identity) override;
  void ShowVersionText(const std::u32string& versionText) override;
  void ShowVersionNotANumber() override;
  void ShowFirmware(const std::u32string& versionText, int versionNumber, bool complete) override;
  void OptionsRefreshing() override;
  void ShowOption(MeterOption box, bool ticked) override;
  void OptionsRefreshed() override;
  // UpdateView: the update's log lines, boxes, label and progress.
  void UpdateStarted() override;
  void PhaseStarted(UpdatePhase phase) override;
  void ProgressMade(const UpdateProgress& progress) override;
  void BackupEnded(const BackupOutcome& backup) override;
  void FaultFound(UpdateFault fault) override;
  void UpdateEnded(const UpdateOutcome& outcome) override;
  // UpdatePacer: the chunk ticks are Timer2's, the finish tick Timer3's.
  void SetChunkTicks(bool armed) override;
  void SetFinishTick(bool armed) override;

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
  // The meter the window shows, with the carried firmware, as long as the window lives.
  MeterAgent Meter;
  TTimer Timer2;
  TTimer Timer3;
  TJvHidDeviceController HID;
  TTimer Timer1;
};

}  // namespace lu14
