#include "cli/fleet/MeterBoard.h"

#include <algorithm>

namespace lu14::cli {

MeterBoard::MeterBoard(const std::vector<std::string>& ids) {
  for (const std::string& id : ids) {
    Meter meter;
    meter.id = id;
    meters_.push_back(std::move(meter));
  }
}

void MeterBoard::MeterRead(std::size_t meter, const MeterStatus& status) {
  const std::lock_guard<std::mutex> hold(mutex_);
  meters_.at(meter).status = status;
}

bool MeterBoard::AwaitGo(std::size_t meter) {
  std::unique_lock<std::mutex> hold(mutex_);
  meters_.at(meter).awaitingGo = true;
  changed_.notify_all();
  changed_.wait(hold, [&] { return go_.has_value(); });
  meters_.at(meter).awaitingGo = false;
  return *go_;
}

void MeterBoard::PhaseStarted(std::size_t meter, UpdatePhase phase) {
  const std::lock_guard<std::mutex> hold(mutex_);
  meters_.at(meter).phase = phase;
  meters_.at(meter).percent = 0;
  happenings_.push_back({.meter = meter, .kind = Happening::Kind::Phase, .progress = {.phase = phase}});
}

void MeterBoard::ProgressMade(std::size_t meter, const ProgressReport& progress) {
  const std::lock_guard<std::mutex> hold(mutex_);
  meters_.at(meter).percent = progress.percent;
  happenings_.push_back({.meter = meter, .kind = Happening::Kind::Progress, .progress = progress});
}

void MeterBoard::Line(std::size_t meter, std::string line) {
  const std::lock_guard<std::mutex> hold(mutex_);
  happenings_.push_back({.meter = meter, .kind = Happening::Kind::Line, .line = std::move(line)});
}

void MeterBoard::Ended(std::size_t meter, const UpdateReport& report) {
  const std::lock_guard<std::mutex> hold(mutex_);
  meters_.at(meter).exitCode = report.exitCode;
  meters_.at(meter).report = report;
  changed_.notify_all();
}

void MeterBoard::Decide(bool go) {
  const std::lock_guard<std::mutex> hold(mutex_);
  go_ = go;
  changed_.notify_all();
}

bool MeterBoard::AllEnded() const {
  return std::all_of(meters_.begin(), meters_.end(), [](const Meter& m) { return m.exitCode.has_value(); });
}

bool MeterBoard::WaitForQuestion(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, limit, [&] {
    return std::all_of(meters_.begin(), meters_.end(),
                       [](const Meter& m) { return m.awaitingGo || m.exitCode.has_value(); });
  });
}

bool MeterBoard::WaitForEnd(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, limit, [&] { return AllEnded(); });
}

std::vector<MeterBoard::Meter> MeterBoard::Meters() const {
  const std::lock_guard<std::mutex> hold(mutex_);
  return meters_;
}

std::vector<MeterBoard::Happening> MeterBoard::TakeHappenings() {
  const std::lock_guard<std::mutex> hold(mutex_);
  return std::exchange(happenings_, {});
}

}  // namespace lu14::cli
