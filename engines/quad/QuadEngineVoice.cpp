#include "engines/quad/QuadEngineVoice.h"

#include "dsp/Float4.h"
#include "dsp/Random.h"
#include "engines/ChoiceText.h"
#include "engines/SynthEngineType.h"
#include "engines/quad/QuadEngineCommon.h"

#include <cmath>

QuadEngineVoice::QuadEngineVoice() {
    requirePlacement(this, 8, "QuadEngineVoice");
    for (uint32_t i = 0; i < kBlock; ++i) mainBuffer[i] = auxBuffer[i] = 0.0f;
}

QuadEngineVoice::~QuadEngineVoice() = default;

MiniEngine& QuadEngineVoice::_sub() { return common->subEngines[subEngine]; }

void QuadEngineVoice::_setFilter(int type, float hz, float q) {
    if (type == filterType_ && hz == filterHz_ && q == filterQ_) return;
    filterType_ = type;
    filterHz_ = hz;
    filterQ_ = q;
    noiseFilter.setCoefficients(type, hz, q);
}

void QuadEngineVoice::updateParameters() {
    QuadEngineCommon* c = common;
    if (!c) return;
    const uint32_t ch = note.voiceInTrack;
    const bool trig = started;
    auto read = [&](Parameter& p) { return p.getModulated(ch, false, trig, 0.0f); };
    MiniEngine& s = _sub();

    const float hold = read(c->envHold[subEngine]), decay = read(c->envDecay[subEngine]);
    amplitude.setTimes(read(c->envAttack[subEngine]), hold, decay, 0.0f);
    gain = read(s.volume);
    detuneAmount = read(s.detune);
    detuneSpread = 0.2f * detuneAmount * detuneAmount * detuneAmount;
    switch (subEngineKind) {
    case MiniKick:
    case MiniSnare:
    case MiniRatchet:
    case MiniMetal:
        _drumSettings(s, hold);
        break;
    case MiniSample:
        playbackRate = read(s.rate);
        gain *= 2.0f;
        break;
    case MiniDoubleSample:
        gain *= 2.0f;
        break;
    case MiniSawStack:
    case MiniFM:
        _tonalSettings(s, hold, decay);
        break;
    default:
        break;
    }
}

void QuadEngineVoice::noteOn(NoteEvent event) {
    SynthVoiceCommon* engine = event.engine;
    if (!engine || engine->engineType != EngineQuad) return;
    note = event;
    if (!std::isfinite(note.frequency) || note.frequency < 0.0f) note.frequency = 0.0f;
    if (!std::isfinite(note.gain)) note.gain = 0.0f;
    common = static_cast<QuadEngineCommon*>(engine);
    // The sequencer sends lanes 0..3; a damaged word must not index past the four.
    subEngine = note.lane & 3;
    // The kind as the type parameter names it now, not as the page last applied it.
    subEngineKind = miniEngineTypeFromName(activeChoiceText(common->typeParameters[subEngine]));
    updateParameters();
    const float slideMs = common->slide.getValue();
    if (note.type == kindWord(NoteType::NoteSlide)) {
        setGlide(note.type, slideMs);
        active = true;
        return;
    }
    laneRandom[0] = DSP::noise.next();
    for (uint32_t k = 1; k < 4; ++k) {
        const float x = DSP::noise.next();
        laneRandom[k] = float(double(x) / (double(std::fabs(std::sin(x * 1.57079633f))) + 0.0001));
    }
    drumOsc.phase = 0.0f;
    const ParameterInt& retrig = common->oscRetrig;
    int32_t r = retrig.values[retrig.activeSlot];
    if (const ChoiceList* list = retrig.choiceList.rt(); list && r >= 0 && size_t(r) < list->values.size())
        r = list->values[size_t(r)];
    if (r != 0) {
        metalPair.reset();
        oscBank.reset();
        for (auto& op : operators) op.phase = 0.0;
    } else {
        oscBank.randomizePhases();
    }
    _startKind();
    started = true;
    setGlide(note.type, slideMs);
    active = true;
}

void QuadEngineVoice::fadeOut(uint32_t samples) {
    // All three: the snare's noise runs on the third envelope and keeps the
    // voice sounding after the first has ended.
    amplitude.fastRelease(samples);
    second.fastRelease(samples);
    third.fastRelease(samples);
}

bool QuadEngineVoice::render(float* row, uint32_t frames) {
    if (frames > kBlock) frames = kBlock;
    updateParameters();
    glideStep();
    amplitude.tick();
    second.tick();
    third.tick();
    active = !amplitude.isIdle();
    switch (subEngineKind) {
    case MiniKick: _renderKick(frames); break;
    case MiniSnare: _renderSnare(frames); break;
    case MiniRatchet: _renderRatchet(frames); break;
    case MiniMetal: _renderMetal(frames); break;
    case MiniSample: _renderSample(frames); break;
    case MiniDoubleSample: _renderDoubleSample(frames); break;
    case MiniSawStack: _renderSawStack(frames); break;
    case MiniFM: _renderFM(frames); break;
    case MiniPhysical: break;  // no signal path: silence while the envelope runs
    default: active = false; break;
    }
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        storeUnaligned4(row + i, loadUnaligned4(row + i) + load4(mainBuffer + i));
        store4(mainBuffer + i, splat4(0.0f));
    }
    for (; i < frames; ++i) {
        row[i] += mainBuffer[i];
        mainBuffer[i] = 0.0f;
    }
    const bool first = started;
    started = false;
    return first;
}
