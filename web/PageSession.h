// The meter session under the web page: one MeterAgent on the page's runtime
// and HID platform (WebHID, or the simulated meter), the status poll once a
// second while no update runs, and the page's commands. It reads the core's
// outcome values and words them from lu14's catalogue in the page's
// language; PageBridge puts them on the page.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "cli/output/Messages.h"
#include "device/TJvHidDeviceController.h"
#include "ports/EventLoop.h"
#include "ports/HidPlatform.h"
#include "ports/LinkObserver.h"
#include "ports/Shell.h"
#include "ports/StatusView.h"
#include "ports/UpdateView.h"
#include "session/LoopPacer.h"
#include "session/MeterAgent.h"
#include "web/PageRestore.h"

namespace lu14::web {

struct PageChoices {
  cli::Language language = cli::Language::English;
  // The meter is the simulated one compiled in: the placeholder image may go to it.
  bool simulated = false;
  // The page was opened with ?allow-placeholder: the placeholder image may go to a real meter.
  bool placeholderAllowed = false;
  // The browser's device chooser can be opened (WebHID).
  bool canChoose = false;
};

// What the page asks for; each runs as a message of the runtime's loop, so
// between two chunk ticks of an update, never inside one.
enum class PageCommand : int {
  Update = 0,
  Stop = 1,        // the update stops between two chunks
  SetOption = 2,   // argument: option index (kMeterOptions order) * 2 + on
  Backup = 3,      // the settings saved and offered as a download
  Checksum = 4,
  ChooserFailed = 5,  // text: what the browser said
  RestoreFile = 6,    // text: the backup file the user picked, in the module's file system
  RestoreWrite = 7,   // argument: 1 when the user ticked to write a backup its name does not tie to this meter
};

class PageSession : LinkObserver, UpdateView {
 public:
  PageSession(const PageChoices& choices, Shell& shell, EventLoop& loop, HidPlatform& platform);
  PageSession(const PageSession&) = delete;
  PageSession& operator=(const PageSession&) = delete;

  void Command(PageCommand command, int argument, const std::string& text);

 private:
  std::string Say(cli::Msg message, std::initializer_list<std::string_view> arguments = {}) const {
    return cli::Text(choices_.language, message, arguments);
  }
  void ShowLabels();
  // Runs the page's work at a dispatch boundary: a refusal or failure is logged.
  void Dispatch(const std::function<void()>& work);
  void SchedulePoll();
  void PollTick();
  void ShowStatus(const MeterStatus& status);
  void ShowNoMeter();
  void ShowControls();

  void StartUpdate();
  void SetOption(int index, bool on);
  void SaveBackup();
  void ReadChecksum();
  void RestoreFrom(const std::filesystem::path& file);
  void RestoreWrite(bool anyway);

  void MeterFound(TJvHidDevice& device);
  void DeviceRemoved(TJvHidDevice& device);

  // LinkObserver
  void LinkEventHappened(const LinkEvent& event) override;
  void WriteNotConfirmed(std::uint8_t command) override;
  // UpdateView
  void UpdateStarted() override;
  void PhaseStarted(UpdatePhase phase) override;
  void ProgressMade(const UpdateProgress& progress) override;
  void BackupEnded(const BackupOutcome& backup) override;
  void FaultFound(UpdateFault) override {}
  void UpdateEnded(const UpdateOutcome& outcome) override;

  PageChoices choices_;
  EventLoop& loop_;
  std::optional<MeterStatus> status_;
  // From UpdateStarted to UpdateEnded: the view hears of the start before
  // the sequence counts itself as running.
  bool updating_ = false;
  std::chrono::steady_clock::time_point phaseStart_{};
  // The progress bar as last shown.
  int barDone_ = 0;
  int barTotal_ = 1;
  SilentStatusView silentStatus_;
  LoopPacer pacer_;
  MeterAgent meter_;
  PageRestore restore_;
  TJvHidDeviceController controller_;
};

}  // namespace lu14::web
