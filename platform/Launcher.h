// What the instrument and its launcher (scripts/run.sh) tell each other
// through the environment the launcher gives each run.
#pragma once

namespace host {

// A run started by the launcher ends with it: SIGTERM (the instrument
// saves, as on any stop) once the launcher has gone. False when it has
// gone already, so the run does not start. The run's exit status is noted
// for the launcher at its exit.
bool followLauncher();

// The start is complete (the stop handlers are in place): the launcher is
// told, so that a run which ends before this is taken for a refusal of its
// options rather than a crash. Once per run.
void noteStarted();

}  // namespace host
