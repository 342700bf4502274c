#include "engines/modular/ModularVoice.h"

#include "connectivity/OSCV.h"
#include "dsp/Float4.h"
#include "dsp/Random.h"
#include "dsp/Saturate.h"
#include "engines/SynthEngineType.h"
#include "engines/modular/ModularCommon.h"

#include <cmath>

ModularVoice::ModularVoice() : placementChecked_((requirePlacement(this, 4, "ModularVoice"), true)) {
    restGainRamp(gainRamp, 1.0f);
}

ModularVoice::~ModularVoice() = default;

void ModularVoice::updateParameters() {
    ModularCommon* c = common;
    if (!c) return;
    const float ms = c->gateLength.getValue();  // no modulation: a plain stored time
    gateBlocks = float(saturateToU32(ms * 0.75f));
}

void ModularVoice::noteOn(NoteEvent event) {
    SynthVoiceCommon* engine = event.engine;
    if (!engine || engine->engineType != EngineModular) return;
    note = event;
    common = static_cast<ModularCommon*>(engine);
    noteOutput = note.voiceInTrack;
    updateParameters();
    // Only a slide glides here; every other kind jumps to its pitch.
    const bool slide = note.type == kindWord(NoteType::NoteSlide);
    glideUpDivisor = glideDownDivisor = slide ? glideDivisorFor(note.type, common->slide.getValue()) : 1.0f;
    if (note.type != kindWord(NoteType::NoteSlide)) {
        const float d = common->detune.getValue();
        detuneFactor = 1.0f + DSP::noise.next() * 0.2f * d * d * d;
        gainRamp.set(0, 1.0f);
        started = true;
        gate = true;
        blockCounter = 0;
    }
    active = true;
}

void ModularVoice::fadeOut(uint32_t samples) {
    gainRamp.set(samples, 0.0f);
    gate = false;
}

bool ModularVoice::render(float* row, uint32_t frames) {
    if (frames > kBlock) frames = kBlock;
    updateParameters();
    const float f = glideStep();
    if (float(blockCounter) > gateBlocks) gate = false;
    if ((blockCounter & 1u) == 0)
        if (OSCV* client = Driver::oscv.load(std::memory_order_acquire); client && client->isConnected())
            client->sendNote(noteOutput, gate, f);
    ++blockCounter;

    // The voice's audio is silence: the ramp only times its life, and adding
    // the zeros into the row would change nothing.
    gainRamp.apply(silentBuffer);
    (void)row;
    active = gainRamp.gain != 0.0f;

    const bool first = started;
    started = false;
    return first;
}
