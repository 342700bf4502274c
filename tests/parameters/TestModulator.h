// A modulator that returns a settable value, and a manager that creates it
// for every known type name, standing in for the real kinds.
#pragma once

#include "parameters/ModulationManager.h"
#include "parameters/Modulator.h"
#include "parameters/ParameterFloat.h"

#include <atomic>
#include <memory>
#include <initializer_list>
#include <vector>

class TestModulator : public Modulator {
public:
    TestModulator(ModulatorType kind, uint32_t channels, const std::string& target, const std::string& group)
        : Modulator(channels, target, group),
          amount("amount", ParameterFloat::Percent, XYMorph | Stored | PerChannel, 0.0f) {
        type = kind;
        parameterGroup.add(&amount);
        parameterGroup.setName(modulatorTypeName(kind));
    }

    float process(uint32_t channel, bool trigA, bool trigB) override {
        calls.fetch_add(1, std::memory_order_relaxed);
        lastChannel = channel;
        lastTrigA = trigA;
        lastTrigB = trigB;
        return value;
    }

    ParameterFloat amount;
    float value = 0.0f;
    std::atomic<int> calls{0};
    uint32_t lastChannel = 0;
    bool lastTrigA = false;
    bool lastTrigB = false;
};

class TestManager : public ModulationManager {
protected:
    std::shared_ptr<Modulator> _create(ModulatorType type, uint32_t channels, const std::string& target,
                                       const std::string& group) override {
        return std::make_shared<TestModulator>(type, channels, target, group);
    }
};

inline std::shared_ptr<TestModulator> makeTestModulator(float value, uint32_t channels = 8,
                                                        ModulatorType type = 1) {
    auto m = std::make_shared<TestModulator>(type, channels, "target", "group");
    m->value = value;
    return m;
}

// The value slots as plain numbers, for comparisons.
template <typename T>
std::vector<T> plain(const std::vector<Relaxed<T>>& values) {
    return std::vector<T>(values.begin(), values.end());
}

template <typename T>
void setSlots(std::vector<Relaxed<T>>& values, std::initializer_list<T> list) {
    size_t i = 0;
    for (T v : list)
        values.at(i++) = v;
}
