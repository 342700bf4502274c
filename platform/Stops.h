// The stop signals of the instrument's process (SIGINT, SIGTERM, SIGHUP).
// The first stop asks the instrument to save and exit; a second ends the
// process at once, as a kill would, even while its exit waits for a save
// or a load that cannot end (a stalled disk). What it had not saved is
// lost; every file it saves is written aside and renamed, so each stays
// whole.
//
// One stop often arrives several times, from several senders and as
// several signals: a Ctrl-C from the terminal and again from the launcher
// passing it on, a closing terminal's hang-up and the shell's, a wrapper
// passing a Ctrl-C on, a service manager's TERM then HUP. So "second" is
// decided by when a stop comes, never by who sends it: every delivery
// within kOneStopNs of the first is that same stop; one that comes later
// is the player asking again.
#pragma once

#include <cstdint>

namespace host {

// How long after the first stop its other deliveries may still come.
constexpr int64_t kOneStopNs = 500'000'000;

// Puts the handlers in place; `firstStop` runs in the signal handler, once.
// Called on the main thread, which takes a second stop that lands on the
// console logger's thread.
void catchStops(void (*firstStop)(int signal));

// Ends the process as `signal`'s default action does (a stop's, an
// abort's), from its handler too: async-signal-safe.
[[noreturn]] void endAtOnce(int signal);

// When the first stop came (CLOCK_MONOTONIC, ns); 0 before any.
int64_t stopTakenAtNs();

}  // namespace host
