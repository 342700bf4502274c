// Sample lists come from project and list files on the user's storage: any
// JSON must give entries that stay inside their samples, or a JSON error.
#include "samples/AudioResource.h"
#include "samples/AudioSampleGroup.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

// Samples whose names start with "s" exist; "sx" ones exist but cannot be read.
class FuzzPool : public SampleSource {
public:
    bool loadSample(const std::string& path) override { return !path.empty() && path[0] == 's'; }
    std::shared_ptr<AudioResource> getResource(const std::string& path) override {
        if (path.empty() || path[0] != 's')
            return nullptr;
        auto& slot = resources[path.substr(0, 2)];
        if (!slot) {
            slot = std::make_shared<AudioResource>("/nonexistent/" + path);
            if (path.compare(0, 2, "sx") != 0) {
                slot->channels.assign(1, std::vector<float>(8192 * 3 + path.size() * 100, 0.0f));
                for (size_t i = 0; i < slot->channels[0].size(); ++i)
                    slot->channels[0][i] = float(std::sin(double(i) * double(path.size()) * 0.01));
                slot->loaded = true;
                slot->sampleRate = 48000.0f;
                slot->analyse();
            }
        }
        return slot;
    }
    std::map<std::string, std::shared_ptr<AudioResource>> resources;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout))  // the console messages would drown the fuzzer
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto value = nlohmann::json::parse(data, data + size, nullptr, false);
    if (value.is_discarded())
        return 0;
    static FuzzPool pool;
    AudioSampleGroup group;
    try {
        group.fromJson(value, pool);
    } catch (const nlohmann::json::exception&) {
        // reported by the file reader; what was read before stays
    }
    for (const auto& e : *group.entries.get()) {
        if (e->startFrame > e->endFrame || e->endFrame > e->frames || !(e->rate > 0.0f) ||
            !std::isfinite(e->volume.load()) || !std::isfinite(e->reference.load()))
            abort();
    }
    group.rebuildTree(pool);
    for (const auto& hit : group.getSampleFromFeatures({0.5f, 0.5f}, 0.3f))
        if (hit.hop > hit.entry->frames / 8192)
            abort();
    const auto written = group.toJson();
    AudioSampleGroup back;
    if (back.fromJson(written, pool) != 0 || back.toJson() != written)
        abort();
    return 0;
}
