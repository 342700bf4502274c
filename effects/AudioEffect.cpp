#include "effects/AudioEffect.h"

#include "gui/MonoGFX.h"

#include <array>

namespace {

// Index = type id; 0 and 1 have no effect.
constexpr std::array<const char*, 17> kTypeNames = {
    nullptr,   nullptr,     "mono",      "circle", "stereo",  "reroute",    "filter",  "equalizer", "multiband",
    "delay",   "fade delay", "reverb",   "drive",  "amp mod", "compressor", "limiter", "degrade",
};
constexpr const char* kUnknownName = "unknown";

}  // namespace

std::string effectTypeName(int32_t id) {
    if (id < 2 || id >= int32_t(kTypeNames.size()))
        return kUnknownName;
    return kTypeNames[size_t(id)];
}

AudioEffectType effectTypeFromName(const std::string& name) {
    for (size_t id = 2; id < kTypeNames.size(); ++id)
        if (name == kTypeNames[id])
            return AudioEffectType(int32_t(id));
    return AudioEffectType::Unknown;
}

void AudioEffect::_storeChannelStates(const AudioBlock& block) {
    for (uint32_t c = 0; c < kChannels; ++c)
        channelStates[c].store(int32_t(block.channelState[c]), std::memory_order_relaxed);
}

void AudioEffect::_setup(const std::string& name, std::initializer_list<Parameter*> parameters) {
    typeName = name;
    group.setName(name);
    for (Parameter* p : parameters)
        group.add(p);
}

int AudioEffect::drawHeader(MonoGFX* gfx, unsigned, int x, int y, bool selected, bool full) {
    const int tx = full ? x + 26 : x + 10;
    for (int c = 0; c < int(kChannels); ++c) {
        const int32_t s = channelStates[c].load(std::memory_order_relaxed);
        gfx->setColour(s == int32_t(ChannelState::Silent)                                        ? 4
                       : s == int32_t(ChannelState::Playing) || s == int32_t(ChannelState::Started) ? 8
                                                                                                  : 0);
        gfx->drawLine(tx, y + 2 + 3 * c, tx + 3, y + 2 + 3 * c);
    }
    gfx->setColour(selected ? 12 : 4);
    if (full) {
        gfx->drawRect(x, y, x + 26, y + 26);
        _drawVisual(gfx, unsigned(x + 2), unsigned(y + 2), 22);
        return 30;
    }
    gfx->drawRect(x, y, x + 10, y + 26);
    gfx->setFont(&font_compact, 1, 0);
    gfx->setColour(8);
    gfx->setTextMode(3);
    gfx->drawText(x + 1, y + 24, typeName);
    gfx->setTextMode(0);
    return 14;
}
