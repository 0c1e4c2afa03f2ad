// What one lu14 update run reports, as values: its phases, its progress in
// percent and how it ended; and the one place they are put into JSON, for a
// single update and for each meter of update --all alike.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "ports/UpdateView.h"
#include "update/UpdateOutcome.h"

namespace lu14::cli {

// A step of an update, as a share of its phase.
struct ProgressReport {
  UpdatePhase phase = UpdatePhase::SavingSettings;
  int done = 0;
  int total = 1;
  int percent = 0;
  // From the update's own step: lines or pages done, counted from 1 while
  // the settings are saved, and its share in whole percent.
  static ProgressReport Of(const UpdateProgress& progress);
};

// How an update run ended.
struct UpdateReport {
  int exitCode = 1;
  // The update's result key ("completed", "stopped" ... or "up-to-date");
  // empty when the run ended before an update began (an error).
  std::string result{};
  std::string message{};                        // why it failed; empty on success
  std::optional<std::size_t> bytesConfirmed{};  // once an update began
  std::optional<std::string> backup{};          // the backup file written
};

// The key of a phase in JSON ("saving-settings", "writing", "verifying").
const char* PhaseKey(UpdatePhase phase);
const char* ResultKey(UpdateResult result);

nlohmann::json PhaseJson(UpdatePhase phase);
nlohmann::json ProgressJson(const ProgressReport& progress);
// The run's result object, or its error object when no update began.
nlohmann::json ReportJson(const UpdateReport& report);

}  // namespace lu14::cli
