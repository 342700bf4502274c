#include "engines/granular/GranularVoice.h"

#include "dsp/Float4.h"
#include "engines/ChoiceText.h"
#include "engines/SynthEngineType.h"
#include "engines/granular/GranularCommon.h"

#include <cmath>

namespace {
constexpr double kSamplesPerMs = 48.0;
// Half a grain in blocks per ms of grain: 48 / 64 / 2.
constexpr double kPeriodPerMs = 0.375;
}  // namespace

GranularVoice::GranularVoice() : grainSource(&voiceManagerGrains()) {
    for (float& s : mix) s = 0.0f;
    for (Grain& g : grains) g.notices = &notices;
}

GranularVoice::~GranularVoice() = default;

void GranularVoice::updateParameters() {
    GranularCommon* c = common;
    if (!c) return;
    const uint32_t ch = note.voiceInTrack;
    const bool trig = started;
    auto read = [&](Parameter& p) { return p.getModulated(ch, false, trig, 0.0f); };

    const uint32_t amp = GranularCommon::kAmplitude, win = GranularCommon::kGrainWindow;
    amplitude.setTimes(read(c->envAttack[amp]), read(c->envHold[amp]), read(c->envDecay[amp]), 0.0f);
    offset = float(double(read(c->offset)) * kSamplesPerMs);
    shape = read(c->envShape);
    volume = read(c->volume);
    ratio = read(c->ratio);
    target[0] = read(c->loudness);
    target[1] = read(c->brightness);
    variation = read(c->variation);
    const float a = read(c->envAttack[win]), h = read(c->envHold[win]), d = read(c->envDecay[win]);
    const double blocks = (double(a) + double(h) + double(d)) * kPeriodPerMs;
    // Saturating: a modulated time out of range must not make the conversion undefined.
    period = blocks >= 0.0 ? (blocks < 4294967295.0 ? uint32_t(blocks) : uint32_t(-1)) : 0u;
    const float dt = read(c->detune);
    detuneDepth = dt * dt * dt * 0.2f;
    for (Grain& g : grains) g.setEnvelope(a, h, d, detuneDepth);
}

void GranularVoice::noteOn(NoteEvent event) {
    SynthVoiceCommon* engine = event.engine;
    if (!engine || engine->engineType != EngineGranular) return;
    note = event;
    if (!std::isfinite(note.frequency) || note.frequency < 0.0f) note.frequency = 0.0f;
    if (!std::isfinite(note.gain)) note.gain = 0.0f;
    common = static_cast<GranularCommon*>(engine);
    updateParameters();
    if (note.type != kindWord(NoteType::NoteSlide)) {
        amplitude.trigger(note.gain, 0.0f);
        counter = kRestart;
        period = kStartPeriod;
        slot = 0;
        started = true;
    }
    setGlide(note.type, common->slide.getValue());
    active = true;
}

void GranularVoice::fadeOut(uint32_t samples) { amplitude.fastRelease(samples); }

bool GranularVoice::render(float* row, uint32_t frames) {
    if (frames > kBlock) frames = kBlock;
    updateParameters();
    const float hz = glideStep();
    amplitude.tick();
    active = !amplitude.isIdle();

    if (common) {
        uint32_t u = counter;
        if (u < period) {
            if (u == period - 2)
                grainSource->requestGrains(activeChoiceText(common->samples), std::span<const float>(target.data(), 2),
                                           note.voice, variation);
        } else {
            slot = (slot + 1) & 1;
            u = 0;
            grains[slot].schedule(grainSource->randomGrainEntry(note.voice), offset, shape, started);
        }
        counter = u + 1;
    }

    for (uint32_t i = 0; i < kBlock; i += 4) store4(mix + i, splat4(0.0f));
    grains[0].render(mix, hz, ratio);
    grains[1].render(mix, hz, ratio);
    amplitude.applyQuarticGain(mix, volume);
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) storeUnaligned4(row + i, loadUnaligned4(row + i) + load4(mix + i));
    for (; i < frames; ++i) row[i] += mix[i];

    const bool first = started;
    started = false;
    return first;
}
