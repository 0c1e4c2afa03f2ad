// The signals that ask the console tool to stop (SIGINT, SIGTERM, SIGHUP),
// counted rather than obeyed at once: an update must never be cut inside a
// chunk. A closed standard output (SIGPIPE) is ignored: `lu14 update | head`
// must not stop an update either.
#pragma once

namespace lu14::cli {

// Installs the handlers; call once, before the work begins.
void InstallStopSignals();
// How many stop signals have arrived since.
int StopSignalsReceived();

}  // namespace lu14::cli
