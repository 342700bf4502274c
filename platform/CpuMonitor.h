// CPU load of sections of the audio thread, averaged over a number of blocks.
// tic/toc read the monotonic clock only (vDSO): real-time safe.
#pragma once

#include <atomic>
#include <cstdint>

struct BelaCpuData {
    uint32_t count = 0;        // blocks to average over
    uint32_t currentCount = 0;
    uint64_t busyNs = 0;       // time inside tic/toc in the current window
    uint64_t ticNs = 0;
    // Of the time the blocks of the last window took; written by the audio
    // thread, read by whoever shows the load.
    std::atomic<float> percentage{0.0f};
};

// Monitoring of the whole render call, averaged over `count` blocks.
int Bela_cpuMonitoringInit(int count);
BelaCpuData* Bela_cpuMonitoringGet();

// Sections: set data->count first (0 is taken as 1).
void Bela_cpuTic(BelaCpuData* data);
void Bela_cpuToc(BelaCpuData* data);
