#include "cli/os/StopSignals.h"

#include <csignal>
#include <initializer_list>

namespace lu14::cli {
namespace {

volatile std::sig_atomic_t received = 0;

extern "C" void CountStopSignal(int) { received = received + 1; }

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = CountStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

int StopSignalsReceived() { return received; }

}  // namespace lu14::cli
