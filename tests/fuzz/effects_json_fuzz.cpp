// The "effects" array of project and part files, read into a chain.
#include "effects/EffectChain.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static EffectChain* chain = new EffectChain();  // kept: effects are reused across runs
    nlohmann::json root = nlohmann::json::parse(data, data + size, nullptr, false);
    if (root.is_discarded())
        return 0;
    std::string error;
    chain->fromJson(root, nullptr, FileVersion("", 0, 1, 28), &error);
    if (chain->effectCount() > chain->maxEffects || chain->isBusy())
        std::abort();
    for (unsigned i = 0; i < chain->effectCount(); ++i)
        if (!chain->getEffect(i))
            std::abort();
    AudioBlock block;
    for (uint32_t c = 0; c < AudioBlock::kChannels; ++c) {
        block.channelState[c] = ChannelState::Playing;
        block.channel(c)[0] = 1.0f;
    }
    chain->process(block);
    nlohmann::json out = nlohmann::json::object();
    chain->toJson(out);
    return 0;
}
