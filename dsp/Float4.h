// Four-lane float vector used by the multi-lane filters, oscillators and block
// arithmetic. GCC vector extensions give real SIMD on x86 (SSE) and ARM (NEON);
// the vector type is 16-byte aligned, so members of this type align their owner.
#pragma once

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <cstdint>
#include <cstring>

typedef float float4 __attribute__((vector_size(16)));
typedef int32_t int4 __attribute__((vector_size(16)));

inline float4 splat4(float x) {
    return float4{x, x, x, x};
}

// p must be 16-byte aligned.
inline float4 load4(const float* p) {
    return *reinterpret_cast<const float4*>(__builtin_assume_aligned(p, 16));
}
inline void store4(float* p, float4 v) {
    *reinterpret_cast<float4*>(__builtin_assume_aligned(p, 16)) = v;
}

inline float4 loadUnaligned4(const float* p) {
    float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void storeUnaligned4(float* p, float4 v) {
    std::memcpy(p, &v, sizeof v);
}

inline float4 abs4(float4 v) {
    int4 bits = (int4)v & int4{0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff};
    return (float4)bits;
}

// Rows to columns: after the call a holds the first lanes of a, b, c, d, etc.
inline void transpose4(float4& a, float4& b, float4& c, float4& d) {
#if defined(__SSE__)
    __m128 r0 = (__m128)a, r1 = (__m128)b, r2 = (__m128)c, r3 = (__m128)d;
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    a = (float4)r0, b = (float4)r1, c = (float4)r2, d = (float4)r3;
#else
    const float4 A = a, B = b, C = c, D = d;
    a = float4{A[0], B[0], C[0], D[0]};
    b = float4{A[1], B[1], C[1], D[1]};
    c = float4{A[2], B[2], C[2], D[2]};
    d = float4{A[3], B[3], C[3], D[3]};
#endif
}

// Fast reciprocal estimate (about 12 bits on SSE, 8 on NEON): callers must not
// rely on its exact value.
inline float4 reciprocalEstimate4(float4 v) {
#if defined(__SSE__)
    return (float4)_mm_rcp_ps((__m128)v);
#else
    return splat4(1.0f) / v;
#endif
}

inline bool isAligned(const void* p, uintptr_t alignment) {
    return (reinterpret_cast<uintptr_t>(p) & (alignment - 1)) == 0;
}

// Objects holding vector state check their placement at construction: on
// failure they print this text and throw std::bad_alloc.
void reportMisalignedVectorObject();

