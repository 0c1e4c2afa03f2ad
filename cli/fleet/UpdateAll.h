// lu14 update --all: every attached meter updated at once. Each meter gets a
// thread, a rig (runtime and HID platform) and a CliSession of its own, bound
// to its id: it reads the meter, makes the single update's checks, saves its
// own backup and writes, exactly as `lu14 update --device ID` does. A meter
// that fails or leaves stops alone. The calling thread asks once for all of
// them, passes the stop signals on and shows the board.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <istream>
#include <ostream>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/CliSession.h"
#include "cli/fleet/MeterBoard.h"
#include "cli/fleet/MeterRig.h"

namespace lu14::cli {

// The exit code of an update --all from each meter's: 0 when every meter
// succeeded; otherwise 5 when one was interrupted, else 4 when one was
// refused, else 1.
int AllExitCode(const std::vector<int>& exitCodes);

class UpdateAll {
 public:
  // terminal: the error stream is a terminal, of `columns` (0: not known).
  UpdateAll(const CliOptions& options, std::ostream& out, std::ostream& err, bool terminal, RigMaker makeRig,
            std::size_t columns = 0);

  // As CliSession's: stop signals so far, and where a person answers.
  void SetStopRequests(std::function<int()> stopRequests) { stopRequests_ = std::move(stopRequests); }
  void SetAnswers(std::istream& answers, std::ostream* questions = nullptr) {
    answers_ = &answers;
    questions_ = questions;
  }

  // finder: a session on a platform that shows every meter; it waits for the
  // meters as any command does and names them.
  int Run(CliSession& finder);

 private:
  void RunMeter(MeterBoard& board, std::size_t index, const std::string& id);
  // Passes the stop signals on to the meters; after the first, warns once
  // that the meters being written go on.
  void PassStops(MeterBoard& board, class MeterBoardView& view);
  // Asks once before anything is written; false: declined or interrupted.
  bool Asked(MeterBoard& board, MeterBoardView& view);

  const CliOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  bool terminal_;
  std::size_t columns_;
  RigMaker makeRig_;
  std::function<int()> stopRequests_;
  std::istream* answers_ = nullptr;
  std::ostream* questions_ = nullptr;
  std::atomic<int> stops_{0};
  bool warned_ = false;
  bool interruptedAtQuestion_ = false;
};

}  // namespace lu14::cli
