// An engine for driving the sequencer in tests: only its voice counts and type.
#pragma once

#include "engines/SynthVoiceCommon.h"

namespace testsupport {

struct SequencerTestEngine : SynthVoiceCommon {
    void drawOverview(MonoGFX&, uint32_t, uint32_t, int, int) override {}
    uint32_t envSlots() const override { return 0; }
    void set(int32_t voices, int32_t copies, uint32_t type = 0) {
        polyphony.setValue(voices, false);
        unison.setValue(copies, false);
        engineType = type;
    }
};

}  // namespace testsupport
