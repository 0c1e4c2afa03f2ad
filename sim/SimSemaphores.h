// A namespace of named semaphores shared by simulated program copies, so tests
// can start several copies of the program against one another.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "ports/Shell.h"

namespace lu14::sim {

class SimSemaphoreNamespace {
 public:
  // Creates the semaphore or opens the existing one (keeping its count). Null
  // when the name belongs to an object of another kind.
  std::unique_ptr<NamedSemaphore> Open(const std::u16string& name, std::int32_t initialCount,
                                       std::int32_t maximumCount);

  // --- faults ---
  void RefuseName(const std::u16string& name) { refusedNames_.insert(name); }
  void FailWaits(bool fail) { failWaits_ = fail; }

  // --- inspection ---
  // Current count, or nothing when no handle keeps the semaphore alive.
  std::optional<std::int32_t> Count(const std::u16string& name) const;
  int Handles(const std::u16string& name) const;

 private:
  struct Entry {
    std::int32_t count;
    std::int32_t maximum;
    int handles = 0;
  };
  class Handle;

  std::map<std::u16string, std::weak_ptr<Entry>> entries_;
  std::set<std::u16string> refusedNames_;
  bool failWaits_ = false;
};

}  // namespace lu14::sim
