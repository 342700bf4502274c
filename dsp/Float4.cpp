#include "dsp/Float4.h"

#include <cstdio>
#include <new>

void reportMisalignedVectorObject() {
    std::fputs("QuadSVF object is improperly aligned\n", stderr);
    throw std::bad_alloc();
}

void requirePlacement(const void* self, uintptr_t alignment, const char* className) {
    if (isAligned(self, alignment)) return;
    std::fprintf(stderr, "%s object is improperly aligned\n", className);
    throw std::bad_alloc();
}
