// Wrapping phase accumulator in cycles, stepped per sample or per block.
#pragma once

#include <cmath>
#include <cstdint>

class Phasor {
public:
    float phase = 0.0f;
    float phaseIncrement = 0.0f;
    float perHertz = 1.0f / 48000.0f;

    // Keeps the fraction; a negative frequency wraps into [0, 1) as well, so
    // the phase can always index a table.
    float next() {
        float p = phase + phaseIncrement;
        if (__builtin_expect(!(p >= 0.0f && p < 1.0f), 0)) p = _wrap(p);
        phase = p;
        return p;
    }
    void fill(float* out, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) out[i] = next();
    }
    void setFrequency(float hz) { phaseIncrement = perHertz * hz; }
    // For a phasor stepped once per 64-sample block.
    void setBlockFrequency(float hz) { phaseIncrement = perHertz * (hz * 64.0f); }
    void setPhase(float p) { phase = p >= 0.0f ? p : 0.0f; }

private:
    static float _wrap(float p) {
        p -= std::trunc(p);
        if (p < 0.0f) {
            p += 1.0f;
            if (p >= 1.0f) p = 0.0f;
        }
        return p == p ? p : 0.0f;
    }
};

// Two phasors, the second frequency-modulated by the first: a metallic tone.
class PhasorPair {
public:
    float baseFrequency = 0.0f;
    float modulatedFrequency = 0.0f;
    Phasor first;
    Phasor second;

    PhasorPair() { setTone(0.0f); }

    void setTone(float x) {
        baseFrequency = 1119.0f + 14000.0f * x * x;
        modulatedFrequency = 7001.0f + 6000.0f * x * x * x;
    }
    void reset() {
        first.phase = 0.0f;
        second.phase = 0.0f;
    }
    // 64 samples.
    void render(float* out);
};
