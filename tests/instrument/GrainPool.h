// A sample pool double whose feature look-ups run on real sample lists and
// their trees: each list holds a few analysed sines of different loudness
// and brightness.
#pragma once

#include "samples/AudioResource.h"
#include "samples/AudioSampleGroup.h"
#include "tests/support/engines_harness.h"

#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <string>

namespace voicetest {

class GrainPool : public enginetest::TestSamplePool {
public:
    std::vector<FeatureHit> getGroupEntriesByFeature(std::string_view list, float a, float b, float radius) override {
        queries.fetch_add(1, std::memory_order_relaxed);
        auto it = groups.find(std::string(list));
        if (it == groups.end()) return {};
        return it->second->getSampleFromFeatures({a, b}, radius);
    }

    // `count` samples of three hops each; rebuilt again by rebuild().
    AudioSampleGroup& makeList(const std::string& name, int count) {
        auto& group = groups[name];
        if (!group) group = std::make_unique<AudioSampleGroup>();
        for (int k = 0; k < count; ++k) {
            const std::string sample = name + "-" + std::to_string(k) + ".wav";
            std::vector<float> x(3 * 8192 + 100);
            const float hz = 200.0f * float(k + 1), level = 0.1f + 0.2f * float(k);
            for (size_t i = 0; i < x.size(); ++i) x[i] = level * std::sin(2.0f * float(M_PI) * hz * float(i) / 48000.0f);
            addResource(sample, {x}, 48000.0f)->analyse();
            group->insert(sample, uint32_t(x.size()), uint32_t(k), 48000.0f, 440.0f);
        }
        group->rebuildTree(*this);
        return *group;
    }

    std::map<std::string, std::unique_ptr<AudioSampleGroup>> groups;
    std::atomic<int> queries{0};
};

}  // namespace voicetest
