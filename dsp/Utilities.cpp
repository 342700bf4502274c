#include "dsp/Utilities.h"

#include "dsp/Random.h"
#include "dsp/Saturate.h"

#include <cmath>
#include <cstdio>

static int32_t positiveModulo(int64_t a, int64_t m) {
    int64_t r = a % m;
    return int32_t(r < 0 ? r + m : r);
}

int32_t playOrderIndex(int32_t step, int32_t count, uint32_t order) {
    if (count < 2) return 0;
    switch (order) {
    case 1:
        return count - 1 - positiveModulo(step, count);
    case 2: {
        int64_t period = 2 * int64_t(count) - 2;
        int32_t p = positiveModulo(step, period);
        return p < count ? p : int32_t(period - p);
    }
    case 3:
        return int32_t(DSP::random.nextHigh() % uint32_t(count));
    default:
        return positiveModulo(step, count);
    }
}

float snapToDivision(int32_t n, float v, float s) {
    // n is tested before it divides anything.
    if (n >= 1 && v < 1.0f / float(n)) v = 1.0f / float(n);
    if (!(s > 0.0f)) return v;  // a step of 0 has no grid
    if (v >= 1.0f) return s * std::round(v / s);
    if (n < 1) return v;
    // The candidates 1/d fall as d rises, so the nearest one to v is one of
    // the two grid points around 1/v; this avoids walking a grid that a tiny
    // step would make endless. Ties go to the smaller d, as a forward search
    // that only replaces on a strictly smaller error would.
    const double last = std::floor((double(n) - 1.0) / double(s));
    double k = std::floor((1.0 / double(v) - 1.0) / double(s));
    k -= 1.0;  // one more below, against rounding in 1/v
    if (k < 0.0) k = 0.0;
    if (k > last) k = last;
    float best = 1.0f;
    float bestError = 20000.0f;
    for (int step = 0; step < 3; ++step) {
        double j = k + double(step);
        if (j > last) break;
        float candidate = 1.0f / (1.0f + float(j) * s);
        float error = std::fabs(candidate - v);
        if (error < bestError) {
            bestError = error;
            best = candidate;
        }
    }
    return best;
}

std::string rateToString(float rate) {
    char text[16];
    if (!(rate > 0.0f) || !std::isfinite(rate)) return "0";
    if (rate < 1.0f) {
        float r = 1.0f / rate;
        if (r - std::trunc(r) < 0.005f)
            std::snprintf(text, sizeof text, "1/%d", saturateToI32(r));
        else
            std::snprintf(text, sizeof text, "1/%.2f", r);
    } else if (rate - std::trunc(rate) < 0.005f) {
        std::snprintf(text, sizeof text, "%d", saturateToI32(rate));
    } else {
        std::snprintf(text, sizeof text, "%.2f", rate);
    }
    return text;
}
