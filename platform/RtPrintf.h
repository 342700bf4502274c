// Real-time safe console output: rt_printf formats into a preallocated ring
// that a logger thread drains to stdout. Before the logger runs (and after it
// stops) the text is written directly.
#pragma once

#include <cstdarg>

int rt_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int rt_vprintf(const char* format, va_list args);

namespace host {
void rtLoggerStart();
void rtLoggerStop();  // drains what is queued, then writes directly again
unsigned rtLoggerDropped();  // messages lost to a full ring
}  // namespace host
