// One run of the console tool: a meter session without a window, in a
// runtime (the wall clock; virtual time in the tests), over a HID platform
// (hardware or simulated). It reads the session's outcome values, never any
// text meant for the window.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>

#include "app/cli/CliOptions.h"
#include "app/cli/ConsoleProgress.h"
#include "app/components/TTimer.h"
#include "device/TJvHidDeviceController.h"
#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"
#include "ports/Shell.h"
#include "session/MeterSession.h"

namespace lu14::cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNoMeter = 3;
inline constexpr int kExitRefused = 4;      // a safety check refused to go on
inline constexpr int kExitInterrupted = 5;  // a stop signal ended the run

class CliSession : EventSink, LinkObserver, StatusView, UpdateView {
 public:
  // step: called between messages (a simulated meter's scripted events).
  CliSession(const CliOptions& options, Shell& shell, EventLoop& loop, HidPlatform& platform, std::ostream& out,
             std::ostream& err, bool terminal, std::function<void()> step = {});
  ~CliSession() override;
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  // stopRequests: how many stop signals (Ctrl-C ...) have arrived so far.
  void SetStopRequests(std::function<int()> stopRequests) { stopRequests_ = std::move(stopRequests); }

  int Run();

 private:
  // Runs the loop until the condition holds (true), the limit passes or a
  // stop is asked for (false). During an update a stop is only ever taken
  // between two chunks: the first request warns, the second interrupts.
  bool RunUntil(const std::function<bool()>& condition, std::chrono::microseconds limit);
  bool StopAsked();
  // Refusals of the safety checks before an update touches the meter.
  std::optional<std::string> UpdateRefusal(const MeterStatus& status);
  int UpdateEndedWith(const UpdateOutcome& outcome);
  void Dispatch(const std::function<void()>& work);
  // Waits for a meter; false (and says so) when none came within the wait.
  bool WaitForMeter();
  // Reads the meter as the window's status poll does, retrying once a second
  // for a while: the last tick, if it read the identity and the version.
  std::optional<MeterStatus> ReadStatus();
  int Status();
  int Update();
  int Option();
  int Checksum();

  // The HID controller's events: the first meter found is the one this run
  // works with, to its end.
  bool MeterFound(TJvHidDevice& device);
  void DeviceRemoved(TJvHidDevice& device);

  // EventSink: the update's chunk and finish ticks.
  void TimerTick(TimerId id) override;
  // LinkObserver: the transaction's retries go to the error stream.
  void LinkEventHappened(const LinkEvent& event) override;
  void WriteNotConfirmed(std::uint8_t command) override;
  // StatusView: nothing to show; the console reads the tick's MeterStatus.
  void ShowNoMeter() override {}
  void StopUpdateTicks() override {}
  void ShowBatteryLow() override {}
  void ShowIdentity(const std::u32string&) override {}
  void ShowVersionText(const std::u32string&) override {}
  void ShowVersionNotANumber() override {}
  void ShowFirmware(const std::u32string&, int, bool) override {}
  void OptionsRefreshing() override {}
  void ShowOption(OptionBox, bool) override {}
  void OptionsRefreshed() override {}
  // UpdateView: progress, the ticks and the outcome.
  void UpdateStarted() override { chunkTicks_.SetEnabled(true); }
  void PhaseStarted(UpdatePhase) override {}
  void ProgressMade(const UpdateProgress& progress) override;
  void BackupEnded(const BackupOutcome&) override {}
  void FaultFound(UpdateFault) override {}
  void SetChunkTicks(bool armed) override { chunkTicks_.SetEnabled(armed); }
  void SetFinishTick(bool armed) override { finishTick_.SetEnabled(armed); }
  void UpdateEnded(const UpdateOutcome& outcome) override { updateOutcome_ = outcome; }

  const CliOptions& options_;
  Shell& shell_;
  EventLoop& loop_;
  std::ostream& out_;
  std::ostream& err_;
  std::function<void()> step_;
  std::function<int()> stopRequests_;
  int stopsHandled_ = 0;
  bool interrupted_ = false;
  ConsoleProgress progress_;
  std::optional<UpdateOutcome> updateOutcome_;
  MeterSession meter_;
  TTimer chunkTicks_;
  TTimer finishTick_;
  TJvHidDeviceController controller_;
};

}  // namespace lu14::cli
