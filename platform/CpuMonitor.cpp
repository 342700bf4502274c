#include "platform/CpuMonitor.h"

#include <ctime>

namespace {

BelaCpuData gRenderCpu;

uint64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

constexpr double kBlockNs = 64.0 * 1e9 / 48000.0;

}  // namespace

int Bela_cpuMonitoringInit(int count) {
    gRenderCpu.currentCount = 0;
    gRenderCpu.busyNs = 0;
    gRenderCpu.ticNs = 0;
    gRenderCpu.percentage.store(0.0f, std::memory_order_relaxed);
    gRenderCpu.count = count > 0 ? uint32_t(count) : 1;
    return 0;
}

BelaCpuData* Bela_cpuMonitoringGet() { return &gRenderCpu; }

void Bela_cpuTic(BelaCpuData* data) {
    if (data)
        data->ticNs = nowNs();
}

void Bela_cpuToc(BelaCpuData* data) {
    if (!data || data->ticNs == 0)
        return;
    data->busyNs += nowNs() - data->ticNs;
    data->ticNs = 0;
    uint32_t count = data->count ? data->count : 1;
    if (++data->currentCount >= count) {
        data->percentage.store(float(100.0 * double(data->busyNs) / (kBlockNs * count)), std::memory_order_relaxed);
        data->busyNs = 0;
        data->currentCount = 0;
    }
}
