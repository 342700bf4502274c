// The quad engine's pitched kinds: a stack of four saw-like oscillators
// through a low-pass filter, and a two-operator phase-modulation voice.
#include "dsp/Float4.h"
#include "engines/quad/QuadEngineCommon.h"
#include "engines/quad/QuadEngineVoice.h"

#include <algorithm>

namespace {
constexpr int kLowPass = 1;
constexpr float kSawStackMaxHz = 15000.0f;
// Below this the modulator is left out.
constexpr float kMinFMAmount = 2e-05f;
}  // namespace

void QuadEngineVoice::_tonalSettings(MiniEngine& s, float hold, float decay) {
    const uint32_t ch = note.voiceInTrack;
    const bool trig = started;
    auto read = [&](Parameter& p) { return p.getModulated(ch, false, trig, 0.0f); };
    if (subEngineKind == MiniSawStack) {
        _setFilter(kLowPass, std::min(read(s.freq), kSawStackMaxHz), 2.5f);
        gain *= 0.15f;
    } else {
        // The modulation falls to a tenth over half the note's hold and decay.
        second.setTimes(0.0f, 0.0f, (hold + decay) * 0.5f, 0.1f);
        fmAmount = read(s.fmAmount);
        fmRatio = read(s.ratio);
        gain *= 0.25f;
    }
}

void QuadEngineVoice::_renderSawStack(uint32_t n) {
    const float f = currentFrequency;
    float hz[4], mix[4] = {1.0f, 1.0f, 1.0f, 1.0f}, drive[4];
    const float level = note.gain, l2 = level * level;
    float q = 4.0f * l2 * l2;
    q = q <= 0.74f ? q + 0.01f : 0.75f;  // quiet notes are softer
    bool same = q == sawDrive_;
    for (uint32_t k = 0; k < 4; ++k) {
        hz[k] = f * (1.0f + laneRandom[k] * detuneSpread);
        drive[k] = q;
        same = same && hz[k] == sawHz_[k];
    }
    // Four sines in double precision: only when a lane's pitch or the drive moved.
    if (!same) {
        oscBank.setFrequencies(hz, mix, drive);
        for (uint32_t k = 0; k < 4; ++k) sawHz_[k] = hz[k];
        sawDrive_ = q;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const float4 v = oscBank.tick();
        mainBuffer[i] = (v[0] + v[1]) + (v[2] + v[3]);
    }
    noiseFilter.process(mainBuffer, n);
    amplitude.applyQuarticGain(mainBuffer, gain);
}

void QuadEngineVoice::_operatorStep(FeedbackSineOscillator& op, float hz, uint32_t n) {
    SineOscillator step{op.phase, op.phaseIncrement};
    step.render(mainBuffer, n, hz);
    op.phase = step.phase;
    op.phaseIncrement = step.phaseIncrement;
}

void QuadEngineVoice::_renderFM(uint32_t n) {
    const float f = currentFrequency;
    if (fmAmount > kMinFMAmount) {
        _operatorStep(operators[1], f * fmRatio, n);  // its input is zero: a plain sine
        second.applyQuarticGain(mainBuffer, fmAmount);
    }
    _operatorStep(operators[0], f, n);
    amplitude.applyQuarticGain(mainBuffer, gain);
}
