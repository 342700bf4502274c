// The launcher's run loop: starts the instrument, passes stops on, and
// starts it again when it ends, as the board's launcher does.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace launcher {

// Lines of the launcher's own, on standard error.
void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The stops the launcher takes: INT, TERM, HUP. With SIGCHLD they are
// blocked from the launcher's first step and read from one descriptor, so
// a stop and a run's end are taken in the order they come, never lost.
sigset_t takenSignals();
// A process about to exec: every signal at its default and none blocked.
void restoreSignals();

// What the launcher runs; the root is held (or cannot be) for all of it.
struct Plan {
    std::string program;            // the instrument
    std::vector<std::string> args;  // its options, the same for every run
    std::string root;               // the data root
    std::string output;             // the output file, as the instrument names it
    unsigned channels = 0;          // of the output
    // The output is standard output: the session is one WAV stream there,
    // its header written here once, every run continuing it.
    bool streamsToStandardOutput = false;
};

class Supervisor {
public:
    explicit Supervisor(Plan plan);
    // Runs until a stop, a power-off, a refused start or too many restarts;
    // the launcher's exit status.
    int run();

private:
    bool _start(int run);
    int _waitForEnd();
    void _takeSignal(int signal);
    void _takePendingSignals();
    void _afterRun(int status);
    bool _tooManyRestarts();
    bool _startStream();
    bool _readerGone() const;
    void _keepOutput();

    Plan plan_;
    int signals_ = -1;  // signalfd of takenSignals()
    pid_t child_ = -1;
    int startedPipe_ = -1;  // read end: a byte once the run has started
    int stop_ = 0;          // the first stop taken, 0 until one comes
    std::deque<std::chrono::steady_clock::time_point> restarts_;
};

}  // namespace launcher
