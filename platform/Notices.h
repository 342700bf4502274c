// What the screen tells the player, said on the console too: an offline run's
// screen is seen by nobody, yet its save or load has to say how it went. The
// board has no one at its console and makes this nothing.
#pragma once

namespace host {
// One line, "screen: <text>", on a line of its own, by the console's
// non-blocking path (see RtPrintf.h). Not for the audio thread.
void echoNotice(const char* text);
}  // namespace host
