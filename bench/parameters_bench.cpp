// Per-block parameter work: modulated reads per voice channel and a group's
// per-block update.
#include "parameters/ModulationManager.h"
#include "parameters/Modulator.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterGroup.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class ConstantModulator : public Modulator {
public:
    explicit ConstantModulator(float v) : Modulator(8, "target", "group"), value(v) { type = 1; }
    float process(uint32_t channel, bool, bool) override { return value + 0.001f * float(channel); }
    float value;
};

void getModulatedOverEightChannels(benchmark::State& state) {
    ParameterFloat p("cutoff", ParameterFloat::Hertz, Smoothed | PerChannel, 1000.0f);
    p.updateBlock();
    for (int64_t i = 0; i < state.range(0); ++i)
        p.addModulator(std::make_shared<ConstantModulator>(0.01f));
    for (auto _ : state) {
        float sum = 0.0f;
        for (uint32_t ch = 0; ch < 8; ++ch)
            sum += p.getModulated(ch, false, false, 0.0f);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(getModulatedOverEightChannels)->Arg(0)->Arg(1)->Arg(8);

void groupUpdateBlockFiftySmoothed(benchmark::State& state) {
    std::vector<std::unique_ptr<ParameterFloat>> members;
    ParameterGroup group("engine");
    for (int i = 0; i < 50; ++i) {
        members.push_back(std::make_unique<ParameterFloat>("p" + std::to_string(i),
                                                           i % 2 ? ParameterFloat::Hertz : ParameterFloat::Percent,
                                                           Smoothed | Stored, i % 2 ? 440.0f : 0.5f));
        group.add(members.back().get());
    }
    for (auto _ : state) {
        group.updateBlock();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(groupUpdateBlockFiftySmoothed);

}  // namespace
