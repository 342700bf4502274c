// Pitch scales: a degree and an octave in a named tuning become a frequency.
#pragma once

#include "parameters/Snapshot.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct PitchScaleInterval {
    float ratio = 1.0f;  // to the octave base; always finite and above 0
    float cents = 0.0f;
    std::string name;
};

class PitchScale {
public:
    float referenceFrequency = 440.0f;
    int32_t referenceStep = 9;
    std::string name;  // empty for built-ins; the file path for a file scale
    std::vector<PitchScaleInterval> intervals;  // ascending by ratio

    PitchScale();

    // Adds a degree when the ratio is finite and above 0; sorts either way.
    void addInterval(float ratio);
    // Replaces the degrees; a last degree of 2.0 (the octave) is dropped.
    void setIntervals(const std::vector<double>& ratios, const std::string& name);
    void buildEqualDivision(int steps, int referenceStep, float referenceFrequency);

    int stepsPerOctave() const { return int(intervals.size()); }
    float frequency(int step, int octave) const;

private:
    void _sort();
};

// The registry of scales by name. Lookups come from the audio thread while a
// tuning load may add a scale, so the map is an immutable snapshot: a load
// copies it, adds to the copy and swaps it in whole.
class PitchScaleManager {
public:
    using ScaleMap = std::map<std::string, PitchScale, std::less<>>;

    PitchScaleManager();
    PitchScaleManager(const PitchScaleManager&) = delete;
    PitchScaleManager& operator=(const PitchScaleManager&) = delete;

    // The scale of exactly that name, or null. On the audio thread the
    // pointer stays valid until the end of the block; on the thread that
    // loads tunings until its next addScale.
    const PitchScale* getScale(std::string_view name) const;

    // Registers the ratios under the path's file name, replacing the degrees
    // of a scale of that name. Refuses (false, with a message in `error`)
    // ratios that leave the scale without a degree.
    bool addScale(const std::string& path, const std::vector<double>& ratios, std::string* error = nullptr);

    std::vector<std::string> scaleNames() const;

private:
    Snapshot<ScaleMap> scales_;
};

namespace DSP {
extern PitchScaleManager scaleManager;
}
