#include "tests/update/sweep/SweepPoints.h"

#include <cstdlib>
#include <string_view>

namespace lu14::testing {
namespace {

constexpr std::size_t kExamplesKept = 12;

// A check's text without its numbers (addresses, bytes): the check itself.
std::string CheckOf(const std::string& text) {
  std::string check;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      if (check.empty() || check.back() != 'N') check += 'N';
    } else {
      check += c;
    }
  }
  return check;
}

}  // namespace

bool DenseSweeps() {
  const char* dense = std::getenv("LU14_DENSE_SWEEPS");
  return dense != nullptr && std::string_view(dense) == "1";
}

std::vector<std::size_t> SweepPoints(std::size_t first, std::size_t last, std::size_t stride, std::size_t kind) {
  if (DenseSweeps()) stride = 1;
  std::vector<std::size_t> points;
  // A shift that differs from kind to kind and never repeats within a stride's
  // span for the handful of kinds a sweep has.
  const std::size_t offset = stride == 1 ? 0 : (kind * 7) % stride;
  for (std::size_t point = first + offset; point <= last; point += stride) points.push_back(point);
  return points;
}

void SweepFailures::Add(const std::string& run, const std::vector<std::string>& broken) {
  ++runs_;
  if (broken.empty()) return;
  ++failed_;
  for (const std::string& check : broken) ++byCheck_[CheckOf(check)];
  if (examples_.size() >= kExamplesKept) return;
  std::string example = run + ":";
  for (const std::string& check : broken) example += "\n    " + check;
  examples_.push_back(example);
}

std::string SweepFailures::Summary() const {
  std::string summary = sweep_ + ": " + std::to_string(runs_) + " runs, " + std::to_string(failed_) +
                        " broke a check" + (DenseSweeps() ? " (dense)" : " (sampled)");
  for (const auto& [check, times] : byCheck_) summary += "\n  " + std::to_string(times) + " x " + check;
  return summary;
}

std::string SweepFailures::Report() const {
  std::string report = Summary() + "\n  first runs that broke a check:";
  for (const std::string& example : examples_) report += "\n  " + example;
  return report;
}

}  // namespace lu14::testing
