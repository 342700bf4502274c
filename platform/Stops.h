// The stop signals of the instrument's process (SIGINT, SIGTERM, SIGHUP).
// The first stop asks the instrument to save and exit; a second ends the
// process at once, as a kill would, even while its exit waits for a save
// or a load that cannot end (a stalled disk). What it had not saved is
// lost; every file it saves is written aside and renamed, so each stays
// whole.
//
// One Ctrl-C reaches the instrument twice: from the terminal, which signals
// the whole foreground group, and from the launcher, which passes on every
// stop it takes (a kill of the group likewise). So a stop is taken as the
// second when a sender already heard from (the kernel for a terminal, or a
// process) sends again, or when a second sender other than the launcher
// does (`kill` run twice).
#pragma once

namespace host {

// Puts the handlers in place; `firstStop` runs in the signal handler, once.
void catchStops(void (*firstStop)(int signal));

}  // namespace host
