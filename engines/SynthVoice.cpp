#include "engines/SynthVoice.h"

#include <cmath>
#include <cstdio>
#include <new>

SynthVoice::SynthVoice() {
    note = NoteEvent{};
    note.type = kindWord(NoteType::Skip);
    note.gain = 1.0f;
    note.flags = 1;
}

SynthVoice::~SynthVoice() = default;

float SynthVoice::glideDivisorFor(uint32_t kind, float slideMs) {
    if (kind != kindWord(NoteType::NoteOnSlide) && kind != kindWord(NoteType::NoteSlide)) return 1.0f;
    const float d = slideMs * 0.075f;
    return d > 1.0f ? d : 1.0f;  // also NaN
}

void SynthVoice::setGlide(uint32_t kind, float slideMs) {
    glideUpDivisor = glideDownDivisor = glideDivisorFor(kind, slideMs);
}

float SynthVoice::glideStep() {
    const float target = std::isfinite(note.frequency) ? note.frequency : 0.0f;
    float f = currentFrequency;
    if (!std::isfinite(f)) f = target;
    const float divisor = target > f ? glideUpDivisor : glideDownDivisor;
    f += (target - f) / divisor;
    if (!std::isfinite(f)) f = target;
    currentFrequency = f;
    return f;
}

void requirePlacement(const void* self, uintptr_t alignment, const char* className) {
    if ((reinterpret_cast<uintptr_t>(self) & (alignment - 1)) == 0) return;
    std::fprintf(stderr, "%s object is improperly aligned\n", className);
    throw std::bad_alloc();
}
