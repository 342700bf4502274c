// The two service tasks the block loop wakes: "corvane-io" (DIN MIDI and the
// CV expander) and "corvane-gui" (knobs, track buttons, pages, display, LEDs).
#pragma once

#include <cstdint>

void ioTask(void* = nullptr);
void interfaceFunc(void* = nullptr);

// The converters and the volume and send knobs they carry. Set-up reads them
// once too, so the first notes already sound at the knobs' levels.
void readKnobs();
// Knob reading 0..1 to the normalised value of its parameter.
float knobCurve(float v);
// Whole milliseconds since start for a block count, exact and without wrap.
uint64_t blockMilliseconds(uint64_t blocks);
