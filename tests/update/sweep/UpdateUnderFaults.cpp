#include "tests/update/sweep/UpdateUnderFaults.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "tests/update/UpdateRun.h"
#include "update/BackupFile.h"
#include "update/SettingsRestore.h"

namespace lu14::testing {
namespace {

using namespace std::chrono_literals;

// The checks of the backups in the folder: only whole backup files, each
// holding `before`. `known`: files checked earlier, left out.
void CheckBackups(UpdateRun& run, const EepromImage& before, std::vector<sim::Path>& known,
                  std::vector<std::string>& broken, std::string_view when) {
  const sim::Path folder = *run.files.DocumentsFolder() / "lu14";
  for (const sim::Path& file : run.files.FilesIn(folder)) {
    if (std::find(known.begin(), known.end(), file) != known.end()) continue;
    known.push_back(file);
    if (file.extension() != ".hex") {
      broken.push_back(std::string(when) + ": a file other than a backup is left: " + file.filename().string());
      continue;
    }
    const std::optional<sim::Bytes> bytes = run.files.FileContents(file);
    const BackupText text = ReadBackupText(std::string(bytes->begin(), bytes->end()));
    if (!text.image) {
      broken.push_back(std::string(when) + ": the backup is no whole backup");
    } else if (*text.image != before) {
      const auto differs = std::mismatch(text.image->begin(), text.image->end(), before.begin());
      broken.push_back(std::string(when) + ": the backup differs from the meter's EEPROM at address " +
                       std::to_string(differs.first - text.image->begin()));
    }
  }
}

void CheckOnlyTheUpdatesBytesChanged(const EepromImage& before, const sim::SimMeter& meter,
                                     std::vector<std::string>& broken) {
  for (std::uint16_t address = 0; address < kEepromSize; ++address) {
    if (!OwnedByUpdate(address) && meter.Eeprom(address) != before[address]) {
      broken.push_back("EEPROM " + std::to_string(address) + " changed");
      return;
    }
  }
}

// The claims of one update against the meter.
void CheckTheClaims(UpdateRun& run, std::vector<std::string>& broken, std::string_view when) {
  const bool successShown = run.Logged(kLogUpdateDone);
  const std::optional<UpdateOutcome>& outcome = run.form.LastUpdate();
  const bool completed = outcome && outcome->result == UpdateResult::Completed;
  if (successShown != completed) broken.push_back(std::string(when) + ": the log and the outcome disagree");
  const bool whole = run.MeterHoldsTheImage() && run.meter->VersionText() == kFirmwareVersionText;
  if (successShown && !(whole && run.meter->FirmwareFlag() == kFirmwareComplete)) {
    broken.push_back(std::string(when) + ": success claimed for a meter without the whole firmware");
  }
  if (!run.meter->Commits().empty() && run.meter->FirmwareFlag() == kFirmwareComplete && !run.MeterHoldsTheImage()) {
    broken.push_back(std::string(when) + ": the meter is marked complete over a wrong image");
  }
  if (run.FailureBoxes() != 0) broken.push_back(std::string(when) + ": a failure escaped a handler");
}

}  // namespace

UpdateSpan CleanUpdateSpan() {
  UpdateRun run;
  run.meter->SetVersionText("D1.40");
  run.Poll();
  const std::size_t transfersBefore = run.bus.Transfers();
  const std::size_t commandsBefore = run.meter->CommandCodes().size();
  run.PressB1();
  run.RunUpdateToItsEnd();
  return {transfersBefore + 1, run.bus.Transfers(), commandsBefore, run.meter->CommandCodes().size() - 1};
}

std::vector<std::string> UpdateUnderFaults(const std::vector<PlantedFault>& faults) {
  std::vector<std::string> broken;
  UpdateRun run;
  run.meter->SetTracing(false);
  run.meter->SetVersionText("D1.40");  // an older firmware, so that the version text tells
  run.runtime.SetBoxAnswerDelay(200ms);
  run.Poll();
  const EepromImage before = EepromOf(*run.meter);
  for (const PlantedFault& fault : faults) Plant(run.bus, *run.meter, kMeterId, fault);
  run.PressB1();
  run.RunUpdateToItsEnd();
  run.runtime.RunFor(50ms);  // a pending removal is handled

  std::vector<sim::Path> backups;
  CheckTheClaims(run, broken, "the update");
  CheckBackups(run, before, backups, broken, "the update");
  CheckOnlyTheUpdatesBytesChanged(before, *run.meter, broken);
  if (run.Logged(kLogUpdateDone)) return broken;

  // The user recovers: plugs the meter back in (or out and in, to leave a
  // stalled update; after a power loss the meter comes back by itself, with
  // what it kept) and presses the button again once the poll allows it.
  run.meter->Faults().Clear();
  if (run.bus.Present(kMeterId)) run.bus.Unplug(kMeterId);
  run.runtime.RunFor(10ms);
  run.bus.Plug(MeterSpec(run.meter, kMeterId));
  run.runtime.RunFor(10ms);
  run.Poll();
  // A meter that comes back marked in progress (0x88), or marked nothing,
  // asks for the firmware to be loaded again.
  const bool complete = run.meter->FirmwareFlag() == kFirmwareComplete;
  const std::string_view label = complete ? kLabelCurrentVersion : kLabelReloadFirmware;
  if (run.form.Label1.Text().rfind(label, 0) != 0) {
    broken.push_back("the poll after the fault shows \"" + run.form.Label1.Text() + "\" for flag " +
                     std::to_string(run.meter->FirmwareFlag()));
  }
  if (!run.form.B1.Enabled()) {
    broken.push_back("the retry: the update button stays disabled");
    return broken;
  }
  const EepromImage beforeRetry = EepromOf(*run.meter);
  run.form.LB.Clear();
  run.PressB1();
  run.RunUpdateToItsEnd();
  CheckTheClaims(run, broken, "the retry");
  CheckBackups(run, beforeRetry, backups, broken, "the retry");
  if (!run.Logged(kLogUpdateDone)) broken.push_back("the retry did not complete");
  CheckOnlyTheUpdatesBytesChanged(before, *run.meter, broken);
  return broken;
}

}  // namespace lu14::testing
