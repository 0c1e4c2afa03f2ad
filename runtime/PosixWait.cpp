// RealTimeRuntime: waiting on POSIX systems. A sleep there overshoots by tens
// of microseconds; the last stretch is spun instead.
#include <thread>

#include "runtime/RealTimeRuntime.h"

namespace lu14 {
namespace {
constexpr auto kSpinStretch = std::chrono::microseconds(200);
}  // namespace

void RealTimeRuntime::WaitUntil(Clock::time_point deadline) {
  if (deadline - Clock::now() > kSpinStretch) std::this_thread::sleep_until(deadline - kSpinStretch);
  while (Clock::now() < deadline) {
  }
}

}  // namespace lu14
