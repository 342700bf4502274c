#include "sequencing/PitchScale.h"

#include "platform/RtPrintf.h"

#include <algorithm>
#include <cmath>

namespace {

const char* const kTwelveToneNames[12] = {
    "prime",        "_minor second", "major second",  "_minor third",  "major third",    "perfect fourth",
    "tritone",      "perfect fifth", "_minor sixth",  "major sixth",   "_minor seventh", "major seventh",
};

bool makeInterval(float ratio, PitchScaleInterval& interval) {
    if (!(std::isfinite(ratio) && ratio > 0.0f))
        return false;
    interval.ratio = ratio;
    interval.cents = float(1200.0 * std::log(double(ratio)) / std::log(2.0));
    return true;
}

}  // namespace

PitchScale::PitchScale() { addInterval(1.0f); }

void PitchScale::addInterval(float ratio) {
    PitchScaleInterval interval;
    if (makeInterval(ratio, interval))
        intervals.push_back(std::move(interval));
    _sort();
}

void PitchScale::setIntervals(const std::vector<double>& ratios, const std::string& scaleName) {
    intervals.clear();
    name = scaleName;
    // One sort for the whole file: sorting after every degree made a long
    // scale file take minutes.
    intervals.reserve(ratios.size());
    for (double ratio : ratios) {
        PitchScaleInterval interval;
        if (makeInterval(float(ratio), interval))
            intervals.push_back(std::move(interval));
    }
    _sort();
    if (!intervals.empty() && std::fabs(2.0 - double(intervals.back().ratio)) < 1e-9)
        intervals.pop_back();
}

void PitchScale::buildEqualDivision(int steps, int refStep, float refFrequency) {
    if (steps <= 0)
        return;
    referenceFrequency = refFrequency;
    referenceStep = refStep;
    intervals.clear();
    for (int i = 0; i < steps; ++i)
        addInterval(powf(2.0f, float(i) * (1.0f / float(steps))));
    if (steps == 12)
        for (int i = 0; i < 12; ++i)
            intervals[i].name = kTwelveToneNames[i];
}

float PitchScale::frequency(int step, int octave) const {
    const int64_t n = int64_t(intervals.size());
    if (n == 0) {
        rt_printf("Scale doesn't contain any intervals..\n");
        return 0.0f;
    }
    const int64_t d = int64_t(step) - referenceStep;
    // Floor division, so negative degrees fall into the octaves below.
    int64_t octaves = d / n;
    int64_t index = d % n;
    if (index < 0) {
        index += n;
        --octaves;
    }
    return referenceFrequency * powf(2.0f, float(int64_t(octave) + octaves)) * intervals[size_t(index)].ratio;
}

void PitchScale::_sort() {
    std::sort(intervals.begin(), intervals.end(),
              [](const PitchScaleInterval& a, const PitchScaleInterval& b) { return a.ratio < b.ratio; });
}

PitchScaleManager::PitchScaleManager() {
    auto scales = std::make_shared<ScaleMap>();
    for (int steps : {5, 7, 9, 12, 19, 24}) {
        PitchScale scale;
        scale.buildEqualDivision(steps, 9, 440.0f);
        scales->emplace(std::to_string(steps) + " edo", std::move(scale));
    }
    scales_.publish(std::move(scales));
}

const PitchScale* PitchScaleManager::getScale(std::string_view name) const {
    const ScaleMap* scales = scales_.rt();
    auto it = scales->find(name);
    return it == scales->end() ? nullptr : &it->second;
}

bool PitchScaleManager::addScale(const std::string& path, const std::vector<double>& ratios, std::string* error) {
    const size_t slash = path.rfind('/');
    const std::string key = slash == std::string::npos ? path : path.substr(slash + 1);
    bool added = false;
    scales_.update([&](ScaleMap& scales) {
        auto it = scales.find(key);
        PitchScale scale = it == scales.end() ? PitchScale() : it->second;
        scale.setIntervals(ratios, path);
        if (scale.intervals.empty())
            return;
        scales[key] = std::move(scale);
        added = true;
    });
    if (!added && error)
        *error = "the scale " + key + " has no intervals";
    return added;
}

std::vector<std::string> PitchScaleManager::scaleNames() const {
    auto scales = scales_.get();
    std::vector<std::string> names;
    names.reserve(scales->size());
    for (const auto& entry : *scales)
        names.push_back(entry.first);
    return names;
}
