// Single-instance guard: one running copy per program path and user logon.
//
// The guard is a named semaphore (count 1 of 1) whose name is the program path
// with forward slashes. A copy that cannot take the unit within 50 ms, or cannot
// make the semaphore at all, is turned away with a box.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ports/Shell.h"

namespace lu14 {

// The semaphore name for a program path: the path as it fits the 256-unit
// name buffer (255 code units; never splitting a surrogate pair), with every
// "\" replaced by "/".
std::u16string MakeInstanceName(std::u16string_view programPath);

class InstanceGuard {
 public:
  explicit InstanceGuard(Shell& shell);
  ~InstanceGuard();  // runs EndInstanceGuard if it has not run yet
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // true when another copy holds the guard or the guard cannot be made. Keeps
  // the semaphore handle either way.
  bool IsAlreadyRunning();

  // Runs the test at start-up. true: this copy goes on. false: it was turned
  // away; the box has been shown and dismissed, and the program ends with 0.
  bool StartInstanceGuard();

  // Exit step: gives InstanceReleaseCount units back and closes the handle.
  void EndInstanceGuard();

  const std::u16string& InstanceName() const { return instanceName_; }
  std::int32_t InstanceReleaseCount() const { return instanceReleaseCount_; }

 private:
  Shell& shell_;
  std::u16string instanceName_;
  std::unique_ptr<NamedSemaphore> instanceSemaphore_;
  std::int32_t instanceReleaseCount_ = 0;
  bool ended_ = false;
};

}  // namespace lu14
