// The console while an offline render shows how far it has come on a
// terminal. The progress is one line rewritten in place; a console line
// printed meanwhile (printf, the rt_printf logger, a sanitizer's report) must
// start on a line of its own. Nobody can tell all those writers, so the host
// owns the terminal for the time: standard error (and standard output when it
// is the same terminal) goes into a pipe, and a small relay process writes
// what arrives to the terminal, clearing the progress line before console
// text and showing it again below.
//
// A process, not a thread: what a crashing instrument writes last (its
// sanitizer report) still reaches the terminal, since the relay reads until
// every writer is gone. It ignores the stop signals that Ctrl-C sends to the
// whole group, so it outlives the instrument's own way out.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace host {

class ConsoleRelay {
public:
    ConsoleRelay() = default;
    ~ConsoleRelay() { end(nullptr, 0); }
    ConsoleRelay(const ConsoleRelay&) = delete;
    ConsoleRelay& operator=(const ConsoleRelay&) = delete;

    // Takes the console when standard error is a terminal; false, with
    // nothing changed, when it is not or the relay cannot be made.
    bool begin();
    bool active() const { return relay_ > 0; }

    // The progress line as it is now (no "\r", no newline). Never waits: an
    // update the relay has no room for is dropped, the next one comes soon.
    void show(const char* line, size_t length);

    // Shows the last progress line (when given) with a newline, gives the
    // console back and waits until the relay has written all it was given,
    // so every later line comes after it. A few seconds at most: a relay
    // that has not ended by then (stopped, or on a terminal that takes
    // nothing) is killed, and the end goes on.
    void end(const char* line, size_t length);

private:
    pid_t relay_ = -1;
    int progress_ = -1;  // write end of the progress channel
    int savedOut_ = -1;  // the terminal's standard output, when taken
    int savedErr_ = -1;
};

}  // namespace host
