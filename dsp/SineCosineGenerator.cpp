#include "dsp/SineCosineGenerator.h"

#include "dsp/Random.h"

#include <cmath>

SineCosineGenerator::SineCosineGenerator() {
    if (!isAligned(this, 8)) reportMisalignedVectorObject();
    coefficient = drive = sineMix = splat4(0.0f);
    level = splat4(1.0f);
    reset();
}

void SineCosineGenerator::reset() {
    cosine = splat4(1.0f);
    sine = splat4(0.0f);
}

void SineCosineGenerator::randomizePhases() {
    for (int lane = 0; lane < 4; ++lane) {
        float r = DSP::noise.next() * 3.1415f;
        cosine[lane] = std::cos(r);
        sine[lane] = std::sin(r);
    }
}

void SineCosineGenerator::setFrequencies(const float* hz, const float* mix, float* driveInOut) {
    for (int lane = 0; lane < 4; ++lane) {
        // 0 Hz would make the drive infinite, and at Nyquist the rotation
        // stops being stable.
        float f = hz[lane];
        if (!(f >= 1.0f)) f = 1.0f;
        if (f > 23520.0f) f = 23520.0f;
        coefficient[lane] = float(2.0 * std::sin(double(f) * 2.0 * 3.141592653589793 / 96000.0));
        driveInOut[lane] = driveInOut[lane] * 48000.0f / f;
        drive[lane] = driveInOut[lane];
        sineMix[lane] = mix[lane];
        level[lane] = 1.0f - mix[lane] * 0.5f;
    }
}
