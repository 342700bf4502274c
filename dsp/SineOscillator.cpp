#include "dsp/SineOscillator.h"

#include "dsp/WaveTable.h"

#include <cmath>

static inline double wrapPhase(double p) {
    if (__builtin_expect(p >= 0.0 && p < 1.0, 1)) return p;
    p -= std::trunc(p);
    if (p < 0.0) p += 1.0;
    return p;
}

void SineOscillator::render(float* buffer, uint32_t n, float hz) {
    phaseIncrement = double(hz) / 48000.0;
    const WaveTableBank& table = DSP::wavetable;
    for (uint32_t i = 0; i < n; ++i) {
        phase = wrapPhase(phase + double(buffer[i]) + phaseIncrement);
        buffer[i] = table.sine(float(phase));
    }
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
    const WaveTableBank& table = DSP::wavetable;
    for (uint32_t i = 0; i < n; ++i) {
        double m = feedbackSample * double(feedback);
        double p = wrapPhase(m + phase + double(buffer[i]) + phaseIncrement);
        float out = table.sine(float(p));
        buffer[i] = out;
        phase = p - m;
        delay.write(out);
        feedbackSample = delay.readInterpolated(float(d));
    }
    if (!std::isfinite(phase) || !std::isfinite(feedbackSample)) {
        phase = 0.0;
        feedbackSample = 0.0;
    }
}
