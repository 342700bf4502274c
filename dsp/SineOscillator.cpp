#include "dsp/SineOscillator.h"

#include "dsp/WaveTable.h"

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

void SineOscillator::render(float* buffer, uint32_t n, float hz) {
    phaseIncrement = double(hz) / 48000.0;
    const WaveTableBank& table = DSP::wavetable;
    double p = phase;
    const double increment = phaseIncrement;
    for (uint32_t i = 0; i < n; ++i) {
        p = wrapPhase(p + double(buffer[i]) + increment);
        buffer[i] = tableSine(table, p);
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
