// What the launcher (corvane-launch, which scripts/run.sh execs) and the
// runs it starts tell each other, through the environment of each run.
// The launcher holds the data root for its runs (see HostFolder.h), gives
// each run a parent-death signal of SIGTERM (a run ends, saving, with its
// launcher), and takes the run's exit status from waitpid.
#pragma once

#include <string>

namespace host {

// The run's number (1 the first, 2 after a restart, ...).
constexpr const char* kLauncherRunVariable = "CORVANE_LAUNCHER_RUN";
// A pipe's write end, kept by the run (close-on-exec) to its exit: one byte
// (any) once the run's start is complete (its stop handlers in place), and
// after it a second, kSessionEnds, when the run ends the session: no run
// after it could do better (its output cannot be written). A run that ends
// without the first was refused at its start.
constexpr const char* kStartedFdVariable = "CORVANE_STARTED_FD";
constexpr char kSessionEnds = 'E';

// A run the launcher supervises whose audio output is standard output
// continues the launcher's stream there: the launcher writes the one WAV
// header of the session before the first run, and every run appends whole
// frames to it (see WavWriter::openDescriptor).

// The number of this run when a launcher started it, else 0.
int launcherRun();
bool startedByLauncher();

// At set-up: the launcher's descriptor is kept from whatever this process
// starts.
void followLauncher();

// The start is complete: the launcher is told. Once per run.
void noteStarted();
// This run ends the session: the launcher starts no other. Said after the
// start only (a run refused at its start ends the session anyway).
void noteSessionEnds();

// A standard stream (0, 1, 2) that came closed is opened on /dev/null, so
// no file opened later takes its number (console text written into the
// audio output). The first thing a process of ours does.
void guardStandardStreams();
// Whether `fd` (0, 1 or 2) was closed when guardStandardStreams found it.
bool standardStreamCameClosed(int fd);
// Whether writing `path` writes into the very file or pipe standard error
// led to when guardStandardStreams found it: standard output's names as
// standard output was then (`2>&1`, nohup), any other path as it is now
// (`2> take.wav`). A character device (a terminal, /dev/null) carries many
// streams: never one here.
bool standardErrorLeadsInto(const std::string& path);
// Says `line` on the controlling terminal too, where there is one, standard
// error is still the stream the caller gave (not quieted) and it is not
// that terminal: a refusal that went into a pipe or a file is seen.
void sayOnTerminalToo(const char* line);

}  // namespace host
