// Four state-variable filters in one vector: four independent lanes (channels
// or bands), or a four-stage series cascade pipelined one sample per stage.
// Responses 1..9 add bell and shelves to the scalar SVF's; per-lane dry/wet.
#pragma once

#include "dsp/Float4.h"

#include <array>
#include <cstdint>

class QuadSVF {
public:
    float4 lanes;  // cascade lane samples, lane 0 newest
    float4 two;
    float4 dry, wet;
    float4 band, low, diff;
    float4 a1, a2, a3;
    float4 m0, m1, m2;
    float4 ic1eq, ic2eq;

    QuadSVF();

    // Lane by lane; a lane with a type outside 1..9 keeps its coefficients.
    void setCoefficients(const int* types, const float* hz, const float* qs, const float* gainsDb);
    void setCoefficients(std::array<int, 4> types, std::array<float, 4> hz, std::array<float, 4> qs,
                         std::array<float, 4> gainsDb) {
        setCoefficients(types.data(), hz.data(), qs.data(), gainsDb.data());
    }
    // Morph per lane plus an equal-power dry/wet; negative shapes are written
    // back as 0.
    void setShapeMix(float* shapes, const float* hz, const float* qs, const float* mixes);

    void tick4(float4& x) {
        diff = x - ic2eq;
        band = a1 * ic1eq + a2 * diff;
        low = ic2eq + a2 * ic1eq + a3 * diff;
        ic1eq = two * band - ic1eq;
        ic2eq = two * low - ic2eq;
        x = m0 * x + m1 * band + m2 * low;
    }
    void tick4Mix(float4& x) {
        float4 in = x;
        tick4(x);
        x = in * dry + wet * x;
    }
    // Four filters in series, each lane one sample behind the previous.
    float tickCascade(float x) {
        lanes = float4{x, lanes[0], lanes[1], lanes[2]};
        tick4(lanes);
        return lanes[3];
    }
    void processCascade(float* buffer, uint32_t n);
    // Four channels of n samples one after another in buffer.
    void process4Channels(float* buffer, uint32_t n);
    void reset();

private:
    void _sanitize();
    void _setLane(int lane, const float* c6);
};

// Four one-pole low-pass lanes, mostly used as a four-pole cascade.
class QuadOnePole {
public:
    float4 lanes;
    float4 b;  // 1 - a
    float4 a;  // pole
    float4 y;

    QuadOnePole();

    // fraction = cutoff / 48000
    void setCutoff(float fraction);
    void process4(float4& x) {
        y = x * b + y * a;
        x = y;
    }
    float tickCascade(float x) {
        lanes = float4{x, lanes[0], lanes[1], lanes[2]};
        process4(lanes);
        return lanes[3];
    }
    void reset();
};
