// Continuous controls: frequencies, times, tempo, levels, proportions,
// transpositions and plain numbers. The display mode decides the stored
// unit, the output unit, the steps and the text.
#pragma once

#include "parameters/Parameter.h"

#include <cfloat>
#include <vector>

class ParameterFloat : public Parameter {
public:
    enum DisplayMode : uint32_t {
        Plain = 0,        // the number
        Semitones = 1,    // stored: semitones; output: frequency ratio
        Hertz = 2,        // stored: log2 of the frequency; output: Hz
        Milliseconds = 3, // stored: ms; output: 1000 / ms Hz
        Bpm = 4,          // stored: BPM; output: Hz
        Decibels = 5,     // stored: dB; output: amplitude
        Percent = 6,      // stored: 0..1; output: the stored proportion
    };

    // The default, min and max are given in Hz for Hertz and in stored units
    // otherwise; -FLT_MAX and FLT_MAX mean not given.
    ParameterFloat(const std::string& name, uint32_t displayMode, ParameterFlags flags, float defaultValue,
                   float min = -FLT_MAX, float max = FLT_MAX);

    bool changeBy(int ticks, bool fine, bool force) override;
    void constrain() override;
    void resetToDefault() override;
    void setNormalised(float x) override;
    bool setFromString(const std::string& text, int slot = -1) override;
    bool setFromOSC(const oscpkt::Message& message) override;
    void morphXY(float x, float y) override;
    void storeSnapshot(unsigned index) override;
    void resetSnapshots() override;
    void copySlot(unsigned from, unsigned to) override;
    json toJson() const override;
    void fromJson(json& j, ModulationManager* manager, FileVersion version) override;
    std::string toString(bool alternate = false) const override;
    float getNormalised() const override;
    void updateBlock() override;
    void openEditor() override;
    unsigned slotCount() const override { return unsigned(values.size()); }

    // v in the units of the constructor (Hz for Hertz, percent for Percent).
    // Non-finite values are refused.
    void setValue(float v, bool markOverride);
    void setMin(float v);
    void setMax(float v);
    void setDefault(float v);
    // Stored value to output units.
    float convert(float v) const;
    // The active slot in stored units.
    float getValue() const { return values[activeSlot]; }

    uint32_t displayMode;
    std::vector<Relaxed<float>> values;
    float defaultValue = 0.0f;
    Relaxed<float> minimum{-FLT_MAX};
    Relaxed<float> maximum{FLT_MAX};
    Relaxed<float> converted{0.0f};
    float coarseStep = 1.0f;
    float fineStep = 0.1f;
    float floorDb = -96.0f;
};
