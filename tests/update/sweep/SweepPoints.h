// How densely a fault sweep visits its points, and how it reports what broke.
//
// CI runs every sweep sampled: a stride through the points, shifted for each
// fault kind so that the kinds land on different points. With
// LU14_DENSE_SWEEPS=1 every point is visited.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace lu14::testing {

// True when LU14_DENSE_SWEEPS=1.
bool DenseSweeps();

// The points first..last (inclusive) a sweep visits for the kind numbered
// `kind`: all of them when dense, else every `stride`-th from an offset that
// depends on the kind.
std::vector<std::size_t> SweepPoints(std::size_t first, std::size_t last, std::size_t stride, std::size_t kind);

// The checks a sweep's runs broke. A sweep goes on past a broken run, so that
// its figures say how often a fault breaks a rule, not only that one did.
class SweepFailures {
 public:
  explicit SweepFailures(std::string sweep) : sweep_(std::move(sweep)) {}

  // One run: what it did (for the report) and the checks it broke.
  void Add(const std::string& run, const std::vector<std::string>& broken);
  std::size_t Runs() const { return runs_; }
  std::size_t Failed() const { return failed_; }
  // "<sweep>: N runs, F broke a check", how often each check was broken
  // (checks told apart by their text without its numbers), and the first few
  // runs that broke one.
  std::string Summary() const;
  std::string Report() const;

 private:
  std::string sweep_;
  std::size_t runs_ = 0;
  std::size_t failed_ = 0;
  std::map<std::string, std::size_t> byCheck_;
  std::vector<std::string> examples_;
};

}  // namespace lu14::testing
