#include "cli/output/UpdateReport.h"

#include <algorithm>

#include "cli/CliSession.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {

using nlohmann::json;

ProgressReport ProgressReport::Of(const UpdateProgress& progress) {
  const int total = std::max(progress.total, 1);
  const int done = std::clamp(ConsoleProgress::Done(progress), 0, total);
  return {progress.phase, done, total, done * 100 / total};
}

const char* PhaseKey(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::SavingSettings: return "saving-settings";
    case UpdatePhase::Writing: return "writing";
    case UpdatePhase::Finishing: return "verifying";
  }
  return "";
}

const char* ResultKey(UpdateResult result) {
  switch (result) {
    case UpdateResult::Completed: return "completed";
    case UpdateResult::Cancelled: return "cancelled";
    case UpdateResult::Stopped: return "stopped";
    case UpdateResult::Unverified: return "unverified";
    case UpdateResult::Disconnected: return "disconnected";
  }
  return "";
}

json PhaseJson(UpdatePhase phase) { return {{"event", "phase"}, {"phase", PhaseKey(phase)}}; }

json ProgressJson(const ProgressReport& progress) {
  return {{"event", "progress"}, {"phase", PhaseKey(progress.phase)}, {"done", progress.done},
          {"total", progress.total}, {"percent", progress.percent}};
}

json ReportJson(const UpdateReport& report) {
  if (report.result.empty()) return JsonError(report.exitCode, report.message);
  json object{{"event", "result"},
              {"ok", report.exitCode == kExitOk},
              {"exit", report.exitCode},
              {"result", report.result},
              {"firmware", std::string(kFirmwareVersionText)},
              {"backup", report.backup ? json(*report.backup) : json(nullptr)}};
  if (report.bytesConfirmed) object["bytes-confirmed"] = *report.bytesConfirmed;
  if (!report.message.empty()) object["message"] = report.message;
  return object;
}

}  // namespace lu14::cli
