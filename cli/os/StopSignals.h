// The requests to stop the console tool, counted rather than obeyed at once:
// an update must never be cut inside a chunk (the session warns at the first
// and interrupts between two chunks at the second).
//
// POSIX (StopSignalsPosix.cpp): SIGINT, SIGTERM and SIGHUP; a closed standard
// output (SIGPIPE) is ignored, so `lu14 update | head` does not stop an update.
// Windows (StopSignalsWindows.cpp): the console's Ctrl-C and Ctrl-Break, and
// its closing, through the console control handler.
#pragma once

namespace lu14::cli {

// Installs the handlers; call once, before the work begins.
void InstallStopSignals();
// How many stop requests have arrived since.
int StopSignalsReceived();

}  // namespace lu14::cli
