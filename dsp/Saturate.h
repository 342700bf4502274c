// Float-to-integer conversions that saturate the way the instrument's ARM core
// does: NaN gives 0, values beyond the range give the range's end. A plain cast
// is undefined for those inputs and gives garbage indices on x86.
#pragma once

#include <cmath>
#include <cstdint>

template <typename F>
inline uint32_t saturateToU32(F x) {
    if (!(x > F(0))) return 0;  // also NaN
    if (x >= F(4294967296.0)) return UINT32_MAX;
    return static_cast<uint32_t>(x);
}

template <typename F>
inline int32_t saturateToI32(F x) {
    if (x != x) return 0;
    if (x <= F(-2147483648.0)) return INT32_MIN;
    if (x >= F(2147483648.0)) return INT32_MAX;
    return static_cast<int32_t>(x);
}

// float(saturateToI32(x)) without leaving floating point, for per-sample
// loops: the fraction dropped, the ends at +-2^31 (INT32_MAX rounds to 2^31
// as a float), NaN as 0.
inline float truncSaturated(float x) {
    float t = std::trunc(x);
    t = t < 2147483648.0f ? t : 2147483648.0f;
    t = t > -2147483648.0f ? t : -2147483648.0f;
    return x == x ? t : 0.0f;
}
