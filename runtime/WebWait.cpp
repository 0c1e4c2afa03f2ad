// RealTimeRuntime: waiting in a web page. The page's one thread must go back
// to the browser while the core waits, or the page would freeze and no HID
// transfer could complete; Asyncify unwinds the core's stack meanwhile and
// resumes it when the wait is over.
//
// A timer alone would overshoot: the browser clamps chained setTimeout calls
// to about 4 ms each once they nest a few levels deep, and 3761 chunk ticks of
// 2 ms would each take twice their time. So a long wait sleeps on a timer
// only up to a few milliseconds before its end, and the rest is spent in
// message-channel turns, which the browser runs at once after whatever else
// is waiting (clicks, transfers that completed), against performance.now().
#include <emscripten.h>

#include "runtime/RealTimeRuntime.h"

namespace lu14 {
namespace {

// Timer sleeps end this long before the deadline: a clamped timer overshoots
// by up to about 4 ms.
constexpr double kTimerMarginMs = 5.0;

// Gives the browser one turn: a timer of `sleepMs` when positive, else a
// message-channel round trip.
EM_ASYNC_JS(void, lu14_yield_to_browser, (double sleepMs), {
  if (sleepMs > 0) {
    await new Promise((resolve) => setTimeout(resolve, sleepMs));
    return;
  }
  // One channel for every turn: making a new one costs about 90 us a turn
  // in Chromium, a message on a kept one about 20 us.
  if (!Module.lu14Turns) {
    const channel = new MessageChannel();
    Module.lu14Turns = { channel, resume: null };
    channel.port1.onmessage = () => Module.lu14Turns.resume();
  }
  await new Promise((resolve) => {
    Module.lu14Turns.resume = resolve;
    Module.lu14Turns.channel.port2.postMessage(0);
  });
});

}  // namespace

void RealTimeRuntime::WaitUntil(Clock::time_point deadline) {
  for (;;) {
    const double leftMs = std::chrono::duration<double, std::milli>(deadline - Clock::now()).count();
    if (leftMs <= 0) return;
    lu14_yield_to_browser(leftMs > 2 * kTimerMarginMs ? leftMs - kTimerMarginMs : 0);
  }
}

}  // namespace lu14
