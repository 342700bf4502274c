// Holds for tests: a process test keeps a step of the firmware waiting at a
// named point while it acts (say, stops the run) and then lets it go on,
// instead of hoping to hit a short window by timing.
#pragma once

namespace host {
// Returns at once unless CORVANE_HOLD_AT names `point`: then prints
// "hold: <point>", opens the FIFO named by CORVANE_HOLD_FIFO for reading
// (which waits for the test to open it) and reads it to its end (the test
// closes it). Not for the audio thread.
void holdPoint(const char* point);
}  // namespace host
