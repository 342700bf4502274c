// A stepped run of the panel scanner, debouncers and decoders against the
// simulated panel, recording every event per block.
#pragma once

#include "drivers/Encoder.h"
#include "drivers/KeyDebouncer.h"
#include "drivers/ShiftRegisterIn.h"
#include "platform/Audio.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace paneltest {

struct PanelEventSeen {
    enum Kind { KeyDown, KeyRepeat, Step, PushEdge } kind;
    uint64_t block;
    uint32_t index;
    int32_t step;  // Step: +1 or -1
};

struct PanelRun {
    ShiftRegisterIn scanner;
    std::array<KeyDebouncer, Key::kNumKeys> keys;
    std::array<Encoder, Key::kNumEncoders> encoders;
    std::vector<PanelEventSeen> events;
    uint64_t block = 0;

    // Starts a stepped run (panel script optional); false when init fails.
    bool start(const std::string& root, const std::string& panelScript = "");
    void stop();
    std::vector<PanelEventSeen> take();  // events so far, then forgets them
};

}  // namespace paneltest
