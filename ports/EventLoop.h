// A runtime's message loop: what feeds it from outside the window (a device
// bus that posts device-change notices and whose transfers take time), and
// what drives it without a window (the console tool).
#pragma once

#include <chrono>
#include <functional>

namespace lu14 {

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Queues a message; it is handled before any due timer tick.
  virtual void Post(std::function<void()> message) = 0;
  // Runs `task` once, `delay` from now, as a timer tick runs: only when no
  // posted message is waiting. Tasks due at the same time run in the order
  // they were given.
  virtual void PostAfter(std::chrono::microseconds delay, std::function<void()> task) = 0;
  // A blocking call on the user-interface thread takes this long.
  virtual void Spend(std::chrono::microseconds duration) = 0;
  // Dispatches until `condition` holds (true) or `limit` has passed (false).
  virtual bool RunUntil(const std::function<bool()>& condition, std::chrono::microseconds limit) = 0;
};

}  // namespace lu14
