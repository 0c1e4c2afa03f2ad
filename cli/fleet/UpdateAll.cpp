#include "cli/fleet/UpdateAll.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <utility>

#include "cli/fleet/MeterBoardView.h"
#include "update/FirmwarePayload.h"

namespace lu14::cli {
namespace {

// How often the board is drawn and the stop signals are looked at.
constexpr std::chrono::milliseconds kRefresh{100};
// A meter's session finds its device on a platform of its own, narrowed to
// that device: it was attached a moment ago, so this is only time for that
// platform's first scan, generous for a loaded machine. A meter pulled out
// meanwhile fails after it.
constexpr int kFoundAgainSeconds = 3;

// An error stream that hands on each line written to it.
class LineSink : public std::streambuf {
 public:
  explicit LineSink(std::function<void(std::string)> line) : line_(std::move(line)) {}

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    if (c == '\n') {
      line_(std::exchange(pending_, {}));
    } else {
      pending_ += static_cast<char>(c);
    }
    return c;
  }

 private:
  std::function<void(std::string)> line_;
  std::string pending_;
};

}  // namespace

int AllExitCode(const std::vector<int>& exitCodes) {
  const auto any = [&](int code) { return std::find(exitCodes.begin(), exitCodes.end(), code) != exitCodes.end(); };
  if (std::all_of(exitCodes.begin(), exitCodes.end(), [](int code) { return code == kExitOk; })) return kExitOk;
  if (any(kExitInterrupted)) return kExitInterrupted;
  if (any(kExitRefused)) return kExitRefused;
  return kExitFailed;
}

UpdateAll::UpdateAll(const CliOptions& options, std::ostream& out, std::ostream& err, bool terminal, RigMaker makeRig,
                     std::size_t columns)
    : options_(options), out_(out), err_(err), terminal_(terminal), columns_(columns), makeRig_(std::move(makeRig)) {}

int UpdateAll::Run(CliSession& finder) {
  std::vector<std::string> ids;
  if (const int found = finder.FindMeters(ids); found != kExitOk) return found;
  // The meters found now are the ones updated: one plugged in later is not taken.
  MeterBoard board(ids);
  MeterBoardView view(options_, out_, err_, terminal_, columns_);
  const bool ask = answers_ != nullptr && !options_.yes;
  if (!ask) board.Decide(true);
  std::vector<std::thread> meters;
  for (std::size_t index = 0; index < ids.size(); ++index) {
    meters.emplace_back([this, &board, index, id = ids[index]] { RunMeter(board, index, id); });
  }
  if (ask) {
    while (!board.WaitForQuestion(kRefresh)) PassStops(board, view);
    board.Decide(Asked(board, view));
  }
  while (!board.WaitForEnd(kRefresh)) {
    PassStops(board, view);
    view.Show(board.TakeHappenings(), board.Meters());
  }
  for (std::thread& meter : meters) meter.join();
  const std::vector<MeterBoard::Meter> ended = board.Meters();
  view.Show(board.TakeHappenings(), ended);
  std::vector<int> exitCodes;
  for (const MeterBoard::Meter& meter : ended) exitCodes.push_back(meter.exitCode.value_or(kExitFailed));
  const int exitCode = interruptedAtQuestion_ ? kExitInterrupted : AllExitCode(exitCodes);
  view.Results(ended, exitCode);
  return exitCode;
}

void UpdateAll::RunMeter(MeterBoard& board, std::size_t index, const std::string& id) {
  // The session reports to the board in values; what it writes to its error
  // stream is shown with -v.
  LineSink lines([&board, index](std::string line) { board.Line(index, std::move(line)); });
  std::ostream err(&lines);
  std::ostringstream out;
  UpdateReport report;
  try {
    const std::unique_ptr<MeterRig> rig = makeRig_(id, err);
    if (!rig) {
      report = {.exitCode = kExitNoMeter, .message = Text(options_.language, Msg::DeviceNotFound, {id})};
    } else {
      CliOptions options = options_;
      options.all = false;
      options.device = id;
      options.json = false;
      options.waitSeconds = kFoundAgainSeconds;
      CliSession session(options, rig->RigShell(), rig->Loop(), rig->Platform(), out, err, false,
                         [&rig] { rig->Step(); });
      session.SetStopRequests([this] { return stops_.load(); });
      session.SetUpdateHooks({
          .meterRead = [&board, index](const MeterStatus& status) { board.MeterRead(index, status); },
          .goAhead = [&board, index](const MeterStatus&) { return board.AwaitGo(index); },
          .phase = [&board, index](UpdatePhase phase) { board.PhaseStarted(index, phase); },
          .progress = [&board, index](const ProgressReport& progress) { board.ProgressMade(index, progress); },
          .ended = [&report](const UpdateReport& ended) { report = ended; },
      });
      report.exitCode = session.Run();
    }
  } catch (const std::exception& failure) {
    report = {.exitCode = kExitFailed, .message = failure.what()};
  }
  board.Ended(index, report);
}

void UpdateAll::PassStops(MeterBoard& board, MeterBoardView& view) {
  const int requests = stopRequests_ ? stopRequests_() : 0;
  if (requests > stops_.load()) stops_.store(requests);
  // One request stops at once every meter that has nothing written yet (its
  // session sees it while it saves the settings); the meters already being
  // written go on. The warning is for those, said once one of them is seen
  // writing: also a meter whose mark went out as the request came.
  if (warned_ || stops_.load() != 1) return;
  const std::vector<MeterBoard::Meter> meters = board.Meters();
  const bool writing = std::any_of(meters.begin(), meters.end(), [](const MeterBoard::Meter& m) {
    return !m.exitCode && (m.phase == UpdatePhase::Writing || m.phase == UpdatePhase::Finishing);
  });
  if (!writing) return;
  warned_ = true;
  view.Say(Text(options_.language, Msg::WarningPrefix) + Text(options_.language, Msg::StopWarning));
}

bool UpdateAll::Asked(MeterBoard& board, MeterBoardView& view) {
  std::string question;
  std::size_t count = 0;
  for (const MeterBoard::Meter& meter : board.Meters()) {
    if (!meter.awaitingGo || !meter.status) continue;
    question += AboutToWriteText(options_.language, *meter.status, meter.id);
    ++count;
  }
  if (count == 0) return true;
  std::ostream& asks = questions_ ? *questions_ : err_;
  asks << Text(options_.language, Msg::AllAboutToWrite, {std::to_string(count)}) << '\n'
       << question << Text(options_.language, Msg::AllAskToWrite, {kFirmwareVersionText, std::to_string(count)})
       << std::flush;
  const int stopsBefore = stopRequests_ ? stopRequests_() : 0;
  std::string answer;
  if (!std::getline(*answers_, answer)) asks << '\n' << std::flush;
  // Ctrl-C at the question ends the run as interrupted, with nothing written.
  if (stopRequests_ && stopRequests_() > stopsBefore) {
    interruptedAtQuestion_ = true;
    view.Say(Text(options_.language, Msg::ErrorPrefix) + Text(options_.language, Msg::Interrupted));
    return false;
  }
  return IsYes(answer);
}

}  // namespace lu14::cli
