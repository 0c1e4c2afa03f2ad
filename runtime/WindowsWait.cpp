// RealTimeRuntime: waiting on Windows. A plain sleep there waits whole
// scheduler quanta (up to 16 ms for 1), which would stretch each 2 ms chunk
// tick of an update eightfold; the window's precise pause waits instead.
#include "runtime/RealTimeRuntime.h"
#include "os/win32/PreciseTimers.h"

namespace lu14 {

void RealTimeRuntime::WaitUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  if (left.count() > 0) win32::PreciseTimers::PreciseSleep(left);
  while (Clock::now() < deadline) {
  }
}

}  // namespace lu14
