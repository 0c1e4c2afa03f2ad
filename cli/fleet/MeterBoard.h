// The state of every meter of an update --all: written by the meters' own
// threads, read by the thread that shows it. One mutex guards it all; a
// meter's thread waits here for the go before anything is written.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/output/UpdateReport.h"
#include "ports/StatusView.h"
#include "status/MeterStatus.h"

namespace lu14::cli {

class MeterBoard {
 public:
  struct Meter {
    std::string id;
    std::optional<MeterStatus> status;  // once read
    std::optional<UpdatePhase> phase;   // nothing before the first
    int percent = 0;
    bool awaitingGo = false;
    std::optional<int> exitCode;        // once ended
    std::optional<UpdateReport> report; // once ended
  };
  // What happened since the showing thread last looked: a phase begun, a
  // step of progress, or a line a meter's session wrote to its error stream.
  struct Happening {
    enum class Kind { Phase, Progress, Line };
    std::size_t meter;
    Kind kind;
    ProgressReport progress{};  // Phase: its phase; Progress: the step
    std::string line{};
  };

  explicit MeterBoard(const std::vector<std::string>& ids);

  // --- from a meter's thread ---
  void MeterRead(std::size_t meter, const MeterStatus& status);
  // Blocks until Decide; true: go ahead.
  bool AwaitGo(std::size_t meter);
  void PhaseStarted(std::size_t meter, UpdatePhase phase);
  void ProgressMade(std::size_t meter, const ProgressReport& progress);
  void Line(std::size_t meter, std::string line);
  void Ended(std::size_t meter, const UpdateReport& report);

  // --- from the showing thread ---
  void Decide(bool go);
  // Wait at most `limit` for every meter to be waiting for the go or ended
  // (WaitForQuestion), or ended (WaitForEnd); true when they are.
  bool WaitForQuestion(std::chrono::milliseconds limit);
  bool WaitForEnd(std::chrono::milliseconds limit);
  std::vector<Meter> Meters() const;
  std::vector<Happening> TakeHappenings();

 private:
  bool AllEnded() const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Meter> meters_;
  std::vector<Happening> happenings_;
  std::optional<bool> go_;
};

}  // namespace lu14::cli
