// A runtime's message loop as seen by what feeds it from outside the window:
// a device bus that posts device-change notices and whose transfers take time.
#pragma once

#include <chrono>
#include <functional>

namespace lu14 {

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Queues a message; it is handled before any due timer tick.
  virtual void Post(std::function<void()> message) = 0;
  // A blocking call on the user-interface thread takes this long.
  virtual void Spend(std::chrono::microseconds duration) = 0;
};

}  // namespace lu14
