// POSIX signal handlers that set one flag (async-signal-safe: nothing else is done).
#include "platform/stop_signals.h"

#include <signal.h>

#include <initializer_list>

namespace vellumcast {

volatile std::sig_atomic_t caughtStopSignal = 0;

namespace {

void RecordStopSignal(int signalNumber) {
  if (caughtStopSignal == 0) caughtStopSignal = signalNumber;
}

}  // namespace

void CatchStopSignals() {
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old = {};
    if (sigaction(signalNumber, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = RecordStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted reads and writes resume: the build itself decides where to stop.
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
  }
}

}  // namespace vellumcast
