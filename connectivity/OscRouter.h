// Incoming OSC: "/t/seq|syn/name" and "/t/afx|mod/n/name" set a parameter of
// track t (1..5), "/oscv/..." goes to the CV expander client, anything else
// is reported as unhandled. Runs on the receiver's thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace oscpkt {
class Message;
}

// The receiver's callback (no user data).
void on_receive(oscpkt::Message* message, const char* sender, void* userData);

// The instrument's idle counter, cleared by every parameter set over OSC;
// none when null. Set once by the instrument before the receiver starts.
void setOscIdleCounter(std::atomic<uint32_t>* counter);
// Messages reported unhandled so far.
uint32_t oscUnhandledCount();
// The console lines about unhandled messages start a fresh burst.
void resetOscUnhandledLines();
// Says how many of those lines were left out once the burst is over (called
// by a task that runs regularly), and at the end of a run whatever the rate.
void flushOscUnhandledLines(bool endOfRun = false);
