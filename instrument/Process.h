// Process-wide state of the entry module, shared by setup, render, the
// interface and I/O tasks and cleanup. Words that two threads touch are
// atomics.
#pragma once

#include "platform/AuxiliaryTask.h"
#include "platform/CpuMonitor.h"
#include "platform/Gpio.h"

#include <array>
#include <atomic>
#include <cstdint>

struct AudioBlock;
class MonoGFX;

// Timing of the three sections of render (averaged over 750 blocks).
extern BelaCpuData gCpuInterface;
extern BelaCpuData gCpuSequencer;
extern BelaCpuData gCpuSynthesis;

extern uint32_t gUnderrunCount;
extern uint32_t gFramesSinceUnderrun;
// [0], [1]: clock-out pins 6 and 7 while clock output is off; [2..4]: gateOut.
// Audio thread only (the voice manager and the self test write them).
extern uint32_t gGateOutputs[5];
extern std::atomic<bool> gUpdateBaseline;
extern std::atomic<bool> gTakeScreenshot;
extern AuxiliaryTask gInOutTask;
extern AuxiliaryTask gInterfaceTask;
extern std::atomic<uint32_t> gInterfaceFrame;
// Blocks since start, never wrapping (the instrument's block counter is
// 32 bits): the I/O task's millisecond clock.
extern std::atomic<uint64_t> gBlocksElapsed;
extern std::array<Gpio, 3> gateOut;
// Whether each converter started: one that did not is left out of the knob
// and track-button polling (its readings would be phantom presses).
extern std::atomic<bool> gConverterReady[2];
extern AudioBlock outputStream;

// Pins of the clock and gate lines.
constexpr uint32_t kClockInPin = 3;
constexpr uint32_t kResetInPin = 4;
constexpr uint32_t kClockOutPins[2] = {6, 7};
constexpr uint32_t kGateOutGpio[3] = {8, 80, 78};
