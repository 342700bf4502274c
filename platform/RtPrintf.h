// Real-time safe console output: rt_printf formats into a preallocated ring
// that a logger thread drains to stdout. While the logger runs, stdout and
// stderr themselves (printf, fprintf(stderr), on any thread) queue there too,
// so a console nobody reads holds no thread: the logger writes only what the
// console takes at once, and at its stop drops what a stalled console will
// not take. Lines lost on the way are counted and said on the console once it
// takes text again (or at the stop). Before the logger runs (and after it
// stops) the text is written directly; so is what goes to the descriptors
// themselves (a sanitizer's report).
#pragma once

#include <cstdarg>
#include <cstddef>

int rt_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int rt_vprintf(const char* format, va_list args);

namespace host {
// Said once a console takes text again after lines were lost on the way to
// it (the count, then "line" or "lines").
inline constexpr const char* kConsoleFellBehind = "The console fell behind: %llu %s dropped\n";

// Starts and stops nest: the logger runs from the first start to the stop
// that matches it, so the process's own start and end may enclose those of
// its audio.
void rtLoggerStart();
void rtLoggerStop();  // the last one drains what is queued, then writes directly again
unsigned rtLoggerDropped();  // lines lost to a full ring or a stalled console, this run
// One line that starts on a line of its own: a newline comes first when the
// console's last text did not end its line.
void rtPrintLine(const char* text, size_t length);
// Waits, a fifth of a second at most, for the logger to write what is
// queued so far on both streams: before a process ends at once (a second
// stop, an abort). Async-signal-safe. False on the logger's own thread,
// which cannot wait for itself.
bool rtLoggerFlush();
// The same wait while the logger goes on, however late it gets a core, short
// of a console that takes nothing: before another process takes the console.
void rtLoggerDrain();
}  // namespace host
