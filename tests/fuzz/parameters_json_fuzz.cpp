// Parameter values come from project files, the number pad and OSC packets:
// whatever arrives, every value stays finite and inside its range, and the
// only failure is the JSON library's error.
#include "parameters/ModulationManager.h"
#include "parameters/Modulator.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterFraction.h"
#include "parameters/ParameterGroup.h"
#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"
#include "platform/Osc.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

class FuzzModulator : public Modulator {
public:
    FuzzModulator(uint32_t n, const std::string& target, const std::string& group)
        : Modulator(n, target, group), amount("amount", ParameterFloat::Percent, XYMorph | Stored | PerChannel, 0.0f) {
        type = 1;
        parameterGroup.add(&amount);
    }
    float process(uint32_t, bool, bool) override { return amount.getValue(); }
    ParameterFloat amount;
};

class FuzzManager : public ModulationManager {
protected:
    std::shared_ptr<Modulator> _create(ModulatorType, uint32_t n, const std::string& target,
                                       const std::string& group) override {
        return std::make_shared<FuzzModulator>(n, target, group);
    }
};

struct Owner {
    ParameterFloat freq{"freq", ParameterFloat::Hertz, XYMorph | Stored | PerChannel, 440.0f};
    ParameterFloat level{"level", ParameterFloat::Decibels, Stored | MultiSlot | Smoothed, -6.0f};
    ParameterFraction ratio{"ratio", ParameterFraction::Halves, Stored | XYMorph, 1.0f, 16, 16};
    ParameterInt count{"count", 0, Stored | MultiSlot, 4, 1, 8};
    ParameterInt choice{"choice", 2, Stored | XYMorph, 0, ParameterInt::kNoMinimum, ParameterInt::kNoMaximum};
    ParameterString name{"name", ParameterString::Text, Stored | MultiSlot, "x"};
    ParameterString ip{"ip", ParameterString::Address, Stored, "10.0.0.1"};
    ParameterGroup group{"fuzz"};
    Owner() {
        choice.setChoicesWithValues({"a", "b", "c"}, {1, 2, 3}, 0);
        for (Parameter* p : {(Parameter*)&freq, (Parameter*)&level, (Parameter*)&ratio, (Parameter*)&count,
                             (Parameter*)&choice, (Parameter*)&name, (Parameter*)&ip})
            group.add(p);
    }
};

void check(bool ok) {
    if (!ok)
        std::abort();
}

void checkFloat(const ParameterFloat& p) {
    for (unsigned s = 0; s < p.values.size(); ++s)
        check(std::isfinite(p.values[s]) && p.values[s] >= p.minimum && p.values[s] <= p.maximum);
}

void checkAll(Owner& o) {
    checkFloat(o.freq);
    checkFloat(o.level);
    check(o.ratio.getValue() > 0.0f && o.ratio.getValue() <= 16.0f);
    for (unsigned s = 0; s < o.count.values.size(); ++s)
        check(o.count.values[s] >= 1 && o.count.values[s] <= 8);
    o.group.updateBlock();
    for (uint32_t ch = 0; ch < 8; ++ch)
        check(std::isfinite(o.freq.getModulated(ch, false, false)));
    for (Parameter* p : o.group.parameters)
        check(p->toString(false).size() <= SharedText::kCapacity);  // texts are held whole up to the buffer
    nlohmann::json j;
    o.group.toJson(j);
    check(!j.dump().empty());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // the parameters report what they restore; keep the fuzzer's output readable
    std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    Owner o;
    FuzzManager manager;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0: {
        nlohmann::json j = nlohmann::json::parse(rest, nullptr, false);
        if (j.is_discarded())
            return 0;
        try {
            o.group.fromJson(j, &manager, FileVersion::fromText(data[0] & 4 ? "0.1.20" : "0.1.30"));
        } catch (const nlohmann::json::exception&) {
        }
        break;
    }
    case 1:
        for (Parameter* p : o.group.parameters)
            p->setFromString(rest, int(data[0] >> 2) - 1);
        break;
    default: {
        oscpkt::Message m = oscpkt::Message::decode(rest.data(), rest.size());
        for (Parameter* p : o.group.parameters)
            p->setFromOSC(m);
        break;
    }
    }
    checkAll(o);
    return 0;
}
