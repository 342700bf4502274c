// Real-time safe console output: rt_printf formats into a preallocated ring
// that a logger thread drains to stdout. While the logger runs, stdout itself
// (printf, on any thread) queues there too, so a console nobody reads holds no
// thread: the logger writes only what the console takes at once, and at its
// stop drops what a stalled console will not take. Before the logger runs
// (and after it stops) the text is written directly.
#pragma once

#include <cstdarg>
#include <cstddef>

int rt_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int rt_vprintf(const char* format, va_list args);

namespace host {
void rtLoggerStart();
void rtLoggerStop();  // drains what is queued, then writes directly again
unsigned rtLoggerDropped();  // messages lost to a full ring or a stalled console
// One line that starts on a line of its own: a newline comes first when the
// console's last text did not end its line.
void rtPrintLine(const char* text, size_t length);
// For a process about to end at once (a second stop): waits, a fifth of a
// second at most, for the logger to write what is queued so far. Async-
// signal-safe. False on the logger's own thread, which cannot wait for
// itself.
bool rtLoggerFlushBeforeTheEnd();
}  // namespace host
