// Standard output as the audio output (--audio-out /dev/stdout | sox ...):
// then it carries the WAV stream and nothing else.
#pragma once

#include <string>

namespace host {

// True when writing to `path` writes into this process's standard output:
// one of its names (/dev/stdout, /dev/fd/1, /proc/self/fd/1) or another
// path to the same pipe or file.
bool leadsToStandardOutput(const std::string& path);

// When `path` leads to standard output, keeps a descriptor of it for the
// audio and points standard output at standard error, so that every console
// line (printf, rt_printf) goes there; once taken, the same names lead to
// the kept descriptor. Returns it, or -1 when `path` leads elsewhere.
int takeStandardOutputFor(const std::string& path);

// True when `path` is one of standard output's own names (/dev/stdout,
// /dev/fd/1, ...), whatever it leads to.
bool namesStandardOutput(const std::string& path);

// Whether the pipe or socket behind `fd` has lost its reader (a player quit,
// `| head` done): a write there could never be read.
bool readerGone(int fd);

}  // namespace host
