#include <windows.h>

#include <atomic>

#include "cli/output/ConsoleBuffersWindows.h"
#include "cli/os/StopSignals.h"

namespace lu14::cli {
namespace {

// The system calls the handler on a thread of its own, while the main thread
// works on.
std::atomic<int> received{0};

// How long a closing console waits for the run to stop between two chunks
// and end: below the system's time-out (some five seconds), after which it
// ends the process whatever the handler does.
constexpr DWORD kCloseGraceMs = 4000;

BOOL WINAPI CountStopRequest(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      received.fetch_add(1);
      // A question waiting for its answer ends now, as a read does on POSIX
      // when SIGINT arrives; Wine's console would wait for Enter.
      CancelConsoleRead();
      return TRUE;
    case CTRL_CLOSE_EVENT:
      // Nobody is left to press Ctrl-C twice: this counts as both presses.
      // When the handler returns the system ends the process, so it waits
      // here; the main thread ends the process sooner once the run is over.
      received.fetch_add(2);
      CancelConsoleRead();
      Sleep(kCloseGraceMs);
      return TRUE;
    default:  // logoff and shutdown reach services only
      return FALSE;
  }
}

}  // namespace

void InstallStopSignals() {
  // A process started with CREATE_NEW_PROCESS_GROUP has Ctrl-C switched off
  // (it inherits the flag); the tool wants it, as its counting makes it safe.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(&CountStopRequest, TRUE);
}

int StopSignalsReceived() { return received.load(); }

}  // namespace lu14::cli
