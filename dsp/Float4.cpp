#include "dsp/Float4.h"

#include <cstdio>
#include <new>

void reportMisalignedVectorObject() {
    std::fputs("QuadSVF object is improperly aligned\n", stderr);
    throw std::bad_alloc();
}
