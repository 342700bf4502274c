// The launcher's standard error. Its lines never wait on a console that
// takes nothing (a paused pager, a full pipe that nobody reads): a stop or a
// crash must still be taken at once. They queue here, bounded, and go out
// when poll says standard error has room, in pieces a pipe with room takes
// whole, through a descriptor of the console's own that never waits on a
// terminal (host::consoleDescriptor); the caller's stays as it was.
// Lines lost on the way are counted and said once the console takes text
// again; at the launcher's end, what a console that has taken nothing for a
// quarter of a second has not taken is dropped.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace launcher {

class Console {
public:
    // From here on what the launcher prints on stderr (the platform's lines
    // among them) queues too.
    void takeStandardError();

    // Queues text and writes what the console takes now; text beyond the
    // bound is lost, with the rest of its line.
    void put(const char* text, size_t length);

    // Text waits for room: the launcher's wait polls standard error for it.
    bool pending() const { return done_ < text_.size(); }

    // Writes what standard error takes now, never waiting.
    void writeSome();

    // At the launcher's end, or before it execs: writes what the console
    // takes; what it has not taken after a quarter of a second without
    // progress is dropped.
    void finish();

private:
    void _lose(const char* text, size_t length);
    void _dropQueued();
    void _sayTheLoss();
    void _leave();

    std::string text_;  // queued, from done_ on
    size_t done_ = 0;
    unsigned long long written_ = 0;  // bytes, for progress at the end
    unsigned long long lost_ = 0;     // lines lost and not yet said
    bool cut_ = false;     // the line in progress lost a piece: its rest goes too
    bool openLine_ = false;  // the last text queued did not end its line
    bool gone_ = false;      // standard error's reader left: nothing more is written
    int fd_ = -1;            // standard error, for the console's writes
};

// The launcher's one console.
Console& console();

}  // namespace launcher
