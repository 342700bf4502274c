#include "dsp/SineOscillator.h"

#include "dsp/Float4.h"
#include "dsp/WaveTable.h"

#include <climits>
#include <cmath>

static inline double wrapPhase(double p) {
    if (__builtin_expect(p >= 0.0 && p < 1.0, 1)) return p;
    p -= std::trunc(p);
    if (p < 0.0) p += 1.0;
    return p;
}

// wrapPhase leaves [0, 1) for any finite phase; a NaN or infinite one reads
// the table's zero, as the wrapping read would.
static inline float tableSine(const WaveTableBank& table, double p) {
    if (!(p >= 0.0 && p < 1.0)) p = 0.0;
    return table.sineInCycle(float(p));
}

// Four table reads at once: sineInCycle for phases in [0, 1] (a phase below
// one half reads below index 2048, so the mask of the upper half serves both).
static inline float4 tableSine4(const WaveTableBank& table, float4 phase) {
    const int4 index = __builtin_convertvector(phase * 4096.0f, int4) & 2047;
    const float* t = table.halfSine();
    const float4 v = {t[index[0]], t[index[1]], t[index[2]], t[index[3]]};
    const int4 upper = ~(phase < splat4(0.5f)) & int4{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
    return (float4)((int4)v ^ upper);
}

void SineOscillator::render(float* buffer, uint32_t n, float hz) {
    phaseIncrement = double(hz) / 48000.0;
    const WaveTableBank& table = DSP::wavetable;
    double p = phase;
    const double increment = phaseIncrement;
    // The phase runs sample by sample; the table is read afterwards, four
    // samples at a time, from the phases as tableSine would pass them.
    constexpr uint32_t kChunk = 64;
    alignas(16) float phases[kChunk];
    for (uint32_t start = 0; start < n; start += kChunk) {
        const uint32_t count = n - start < kChunk ? n - start : kChunk;
        float* out = buffer + start;
        for (uint32_t i = 0; i < count; ++i) {
            p = wrapPhase(p + double(out[i]) + increment);
            phases[i] = p >= 0.0 && p < 1.0 ? float(p) : 0.0f;
        }
        uint32_t i = 0;
        for (; i + 4 <= count; i += 4)
            storeUnaligned4(out + i, tableSine4(table, load4(phases + i)));
        for (; i < count; ++i)
            out[i] = table.sineInCycle(phases[i]);
    }
    phase = p;
    // A NaN modulator would otherwise freeze the oscillator for good.
    if (!std::isfinite(phase)) phase = 0.0;
}

void FeedbackSineOscillator::render(float* buffer, uint32_t n, float hz, float feedback, float periods) {
    phaseIncrement = double(hz) / 48000.0;
    // Keep the tap inside the line: a low or zero pitch would ask for a delay
    // longer than the line (or an infinite one).
    double d = hz > 0.0f ? (1.0 / double(hz)) * (double(periods) * 48000.0) : 0.0;
    const double maxDelay = double(delay.size()) - 2.0;
    if (!(d > 0.0)) d = 0.0;
    if (d > maxDelay) d = maxDelay > 0.0 ? maxDelay : 0.0;
    const DelayLine::Tap tap = delay.tap(float(d));
    const WaveTableBank& table = DSP::wavetable;
    double p0 = phase, fed = feedbackSample;
    const double increment = phaseIncrement, amount = double(feedback);
    DelayLine::Cursor line(delay);
    for (uint32_t i = 0; i < n; ++i) {
        double m = fed * amount;
        double p = wrapPhase(m + p0 + double(buffer[i]) + increment);
        float out = tableSine(table, p);
        buffer[i] = out;
        p0 = p - m;
        line.write(out);
        fed = line.readTap(tap);
    }
    phase = p0;
    feedbackSample = fed;
    if (!std::isfinite(phase) || !std::isfinite(feedbackSample)) {
        phase = 0.0;
        feedbackSample = 0.0;
    }
}
