// Waiting for a condition in tests under Wine: generous time-outs, polled
// while the thread's messages keep flowing, never a fixed sleep.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>

namespace lu14::win32 {

inline void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Dispatches this thread's messages until `condition` holds or `limit` passes.
inline bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    PumpMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

// Dispatches this thread's messages for `duration` (to show that nothing comes).
inline void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

}  // namespace lu14::win32
