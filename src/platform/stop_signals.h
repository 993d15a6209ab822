// Interruption of a build from outside: SIGINT (Ctrl-C), SIGTERM and SIGHUP only record
// that they came, and the build notices the record at its next run of sectors, so that
// it can remove its temporary file and leave an existing target as it was.
#pragma once

#include <csignal>

namespace vellumcast {

// The number of the first stop signal that came; 0 while none did. Written only by the
// signal handler.
extern volatile std::sig_atomic_t caughtStopSignal;

// Installs the recording handler for SIGINT, SIGTERM and SIGHUP. A signal that was
// ignored when the program started (nohup, a background job of a shell) stays ignored.
void CatchStopSignals();

}  // namespace vellumcast
