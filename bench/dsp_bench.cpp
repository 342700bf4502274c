// Cost of one 64-frame block of the DSP building blocks (feeds the per-voice
// budget).
#include "dsp/AHDEnvelope.h"
#include "dsp/DelayLine.h"
#include "dsp/LadderFilter.h"
#include "dsp/Phasor.h"
#include "dsp/QuadSVF.h"
#include "dsp/Random.h"
#include "dsp/SVF.h"
#include "dsp/SineOscillator.h"
#include "platform/Audio.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

void fillSignal(float* b, int n) {
    for (int i = 0; i < n; ++i) b[i] = std::sin(0.05f * float(i));
}

void BM_QuadSVFFourChannels(benchmark::State& state) {
    Bela_setFlushToZero();
    QuadSVF filter;
    float shapes[4] = {0, 1, 2, 3}, hz[4] = {300, 1000, 3000, 8000}, qs[4] = {1, 2, 3, 4}, mixes[4] = {1, 1, 1, 1};
    filter.setShapeMix(shapes, hz, qs, mixes);
    alignas(16) float buffer[4 * 64];
    fillSignal(buffer, 4 * 64);
    for (auto _ : state) {
        filter.process4Channels(buffer, 64);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_QuadSVFFourChannels);

void BM_QuadSVFCascade(benchmark::State& state) {
    Bela_setFlushToZero();
    QuadSVF filter;
    filter.setCoefficients({8, 7, 7, 9}, {200, 1000, 3000, 8000}, {0.7f, 1, 1, 0.7f}, {3, -3, 2, 4});
    float buffer[64];
    fillSignal(buffer, 64);
    for (auto _ : state) {
        filter.processCascade(buffer, 64);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_QuadSVFCascade);

void BM_SVF(benchmark::State& state) {
    Bela_setFlushToZero();
    SVF filter(1, 1000.0f, 2.0f);
    float buffer[64];
    fillSignal(buffer, 64);
    for (auto _ : state) {
        filter.process(buffer, 64);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_SVF);

// Resonant and driven past the knee of its saturation, as a voice plays it.
void BM_LadderFilter(benchmark::State& state) {
    Bela_setFlushToZero();
    LadderFilter filter;
    filter.setCutoff(2000.0f, 0.5f);
    float buffer[64];
    for (auto _ : state) {
        fillSignal(buffer, 64);
        filter.process(buffer);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_LadderFilter);

void BM_SineOscillator(benchmark::State& state) {
    SineOscillator osc;
    float buffer[64] = {};
    for (auto _ : state) {
        for (float& s : buffer) s = 0.0f;
        osc.render(buffer, 64, 440.0f);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_SineOscillator);

void BM_Phasor(benchmark::State& state) {
    Phasor phasor;
    phasor.setFrequency(440.0f);
    float buffer[64];
    for (auto _ : state) {
        phasor.fill(buffer, 64);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_Phasor);

void BM_DelayLineInterpolated(benchmark::State& state) {
    Bela_setFlushToZero();
    DelayLine line(48000);
    float buffer[64];
    fillSignal(buffer, 64);
    float d = 1000.3f;
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i) {
            line.write(buffer[i]);
            buffer[i] = line.readInterpolated(d);
            d += 0.01f;
            if (d > 40000.0f) d = 1000.3f;
        }
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_DelayLineInterpolated);

void BM_AHDEnvelope(benchmark::State& state) {
    AHDEnvelope env;
    float buffer[64];
    fillSignal(buffer, 64);
    int blocks = 0;
    for (auto _ : state) {
        if (blocks++ % 2000 == 0) env.trigger(1.0f, 0.0f);
        env.setTimes(20.0f, 10.0f, 500.0f, 0.2f);
        env.tick();
        env.applyQuarticGain(buffer, 0.8f);
        benchmark::DoNotOptimize(buffer);
        for (float& s : buffer) s = 0.5f;
    }
}
BENCHMARK(BM_AHDEnvelope);

// The envelope gain alone, on a ramp (a new value every sample) and held.
void BM_QuarticGain(benchmark::State& state) {
    LinearRamp ramp;
    ramp.level = 1.0f;
    const float step = state.range(0) ? 1.0e-7f : 0.0f;
    alignas(16) float buffer[64];
    for (auto _ : state) {
        for (float& s : buffer) s = 0.5f;
        ramp.value = 0.5f;
        ramp.increment = step;
        ramp.applyQuarticGain(buffer, 0.8f);
        benchmark::DoNotOptimize(buffer);
    }
    state.SetLabel(state.range(0) ? "ramp" : "held");
}
BENCHMARK(BM_QuarticGain)->Arg(1)->Arg(0);

void BM_NoiseFill(benchmark::State& state) {
    Noise noise;
    alignas(16) float buffer[64];
    for (auto _ : state) {
        noise.fill(buffer, 64);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_NoiseFill);

}  // namespace
