// Ratios and clock multipliers: whole numbers or halves above one, 1/n below
// one. The encoder moves the numerator above one and the denominator below,
// crossing one without a jump.
#pragma once

#include "parameters/Parameter.h"

#include <cfloat>
#include <vector>

class ParameterFraction : public Parameter {
public:
    enum DisplayMode : uint32_t {
        Ratio = 0,    // steps of 0.5, no snapping
        Integer = 1,  // whole numbers
        Halves = 2,   // halves
    };

    // min is the largest denominator (the smallest value is 1/min), max the
    // largest value; -FLT_MAX and FLT_MAX mean not given.
    ParameterFraction(const std::string& name, uint32_t displayMode, ParameterFlags flags, float defaultValue,
                      float min = -FLT_MAX, float max = FLT_MAX);

    bool changeBy(int ticks, bool alternate, bool force) override;
    void constrain() override;
    void resetToDefault() override;
    void setNormalised(float x) override;
    bool setFromString(const std::string& text, int slot = -1) override;
    bool setFromOSC(const oscpkt::Message& message) override;
    void morphXY(float x, float y) override;
    void storeSnapshot(unsigned index) override;
    void resetSnapshots() override;
    void selectSlot(unsigned index) override;
    void copySlot(unsigned from, unsigned to) override;
    json toJson() const override;
    void fromJson(json& j, ModulationManager* manager, FileVersion version) override;
    std::string toString(bool alternate = false) const override;
    float getNormalised() const override;
    void updateBlock() override;
    void openEditor() override;
    unsigned slotCount() const override { return unsigned(values.size()); }

    void setValue(float v, bool markOverride);
    // Ranges below 1 are taken as 1.
    void setMin(float v);
    void setMax(float v);
    float getValue() const { return values[activeSlot]; }

    uint32_t displayMode;
    std::vector<Relaxed<float>> values;
    float defaultValue = 1.0f;
    Relaxed<float> numerator{1.0f};
    Relaxed<float> denominator{1.0f};
    Relaxed<float> maxDenominator{-FLT_MAX};
    Relaxed<float> maxNumerator{FLT_MAX};
    float step = 1.0f;
    float alternateStep = 0.1f;
    Relaxed<bool> inverted{false};

private:
    void _derive(float v);
    float _snap(float v) const;
};
