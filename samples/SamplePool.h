// What the sample engines need of the sample pool, beyond what sample lists
// need of it (loading and looking up samples): an entry of a named list by
// step and play order, and keeping a list parameter's choices in step with
// the pool's lists. The pool implements it and installs itself in
// DSP::samplePool; tests install a double.
#pragma once

#include "samples/AudioSampleGroup.h"
#include "samples/SampleSource.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class ParameterInt;

class SamplePool : public SampleSource {
public:
    virtual ~SamplePool() = default;
    // Interface task: the files a player chose to load together; their
    // number that could be loaded. The pool's page then asks where they go.
    virtual int loadSamples(const std::vector<std::string>& paths) {
        int loaded = 0;
        for (const std::string& path : paths)
            loaded += loadSample(path) ? 1 : 0;
        return loaded;
    }
    // Audio thread at note start: no waiting. Empty when the list is missing or empty.
    virtual AudioSampleGroupEntryPtr getGroupEntry(std::string_view list, int32_t step, uint32_t order) = 0;
    virtual void registerListParameter(ParameterInt* parameter) = 0;
    // An engine that goes away takes its parameter back: the pool would
    // otherwise set the choices of a destroyed parameter.
    virtual void unregisterListParameter(ParameterInt* parameter) {}
    // Grain look-up task: the entries of a list whose analysed hops lie
    // within `radius` of (a, b) in the feature plane; empty when none do.
    virtual std::vector<FeatureHit> getGroupEntriesByFeature(std::string_view list, float a, float b,
                                                             float radius) {
        return {};
    }
    // Interface task: the list of that name, without making one; null when
    // there is none. The granular page draws its analysed points.
    virtual const AudioSampleGroup* findGroup(std::string_view list) const {
        (void)list;
        return nullptr;
    }
    // The pool's page: open, and the entry selected in the list it edits
    // (-1 for none). The panel keyboard then previews that entry.
    virtual bool isOpen() const { return false; }
    virtual int32_t selectedEntryIndex() const { return -1; }
};

namespace DSP {
// Null until the pool is built: sample sources then stay silent.
extern std::atomic<SamplePool*> samplePool;
}  // namespace DSP
