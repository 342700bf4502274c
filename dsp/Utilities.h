// Small helpers shared by the sample lists, the sequencer and the LFO.
#pragma once

#include <cstdint>
#include <string>

// Index 0 .. count - 1 for a step: order 0 forward (and anything above 3),
// 1 reverse, 2 forward then back, 3 random (from DSP::random).
int32_t playOrderIndex(int32_t step, int32_t count, uint32_t order);

// Snaps a rate to musical divisions: at least 1/n; below 1 the nearest 1/d for
// d = 1, 1 + s, 1 + 2s, ... <= n; from 1 up the nearest multiple of s.
float snapToDivision(int32_t maxDivision, float value, float step);

// "1/4", "1/3.33", "2", "1.50" (at most 15 characters).
std::string rateToString(float rate);
