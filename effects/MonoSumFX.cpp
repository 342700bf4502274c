#include "effects/MonoSumFX.h"

#include "gui/MonoGFX.h"

#include <algorithm>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

MonoSumFX::MonoSumFX()
    : routing("routing", ParameterInt::PlainInt, Stored | Wrap, 1, 1, 8),
      input("input", ParameterInt::ChoiceMode, Stored | Wrap, 0) {
    input.setChoices({"all", "1", "2", "3", "4", "5", "6", "7", "8"}, 0);
    _setup("mono", {&input, &routing});
    keyParameters[0] = &input;
    keyParameters[2] = &routing;
}

MonoSumFX::~MonoSumFX() = default;

void MonoSumFX::process(AudioBlock& block) {
    group.updateBlock();
    const uint32_t destination = uint32_t(std::clamp(routing.value.load(kRelaxed) - 1, 0, 7));
    const int32_t in = std::clamp(input.value.load(kRelaxed), 0, 8);
    destinationChannel.store(int32_t(destination), kRelaxed);
    float* target = block.channel(destination);

    if (in == 0) {
        mergedState = ChannelState::Silent;
        for (uint32_t c = 0; c < kChannels; ++c) {
            const ChannelState s = block.channelState[c];
            visualStates[c].store(int32_t(s), kRelaxed);
            mergedState = combineChannelStates(mergedState, s);
            if (c == destination)
                continue;
            if (isActive(s)) {
                const float* x = block.channel(c);
                for (uint32_t i = 0; i < AudioBlock::kFrames; ++i)
                    target[i] += x[i];
            }
            block.clearChannel(c);
            block.channelState[c] = ChannelState::Vacant;
        }
    } else {
        const uint32_t source = uint32_t(in - 1);
        sourceChannel.store(int32_t(source), kRelaxed);
        mergedState = block.channelState[source];
        for (uint32_t c = 0; c < kChannels; ++c) {
            visualStates[c].store(int32_t(block.channelState[c]), kRelaxed);
            if (c != destination)
                block.channelState[c] = ChannelState::Vacant;
        }
        if (source != destination)
            std::copy(block.channel(source), block.channel(source) + AudioBlock::kFrames, target);
        for (uint32_t c = 0; c < kChannels; ++c)
            if (c != destination) {
                block.clearChannel(c);
                block.channelState[c] = ChannelState::Vacant;
            }
    }
    block.channelState[destination] = mergedState;
    block.positionCount = 1;
    std::fill(std::begin(block.channelPosition), std::end(block.channelPosition), 0u);
    _storeChannelStates(block);
}

void MonoSumFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {
    gfx->setColour(8);
    const int to = int(y) + 3 * destinationChannel.load(kRelaxed);
    auto sounding = [&](int32_t c) { return isActive(ChannelState(visualStates[c & 7].load(kRelaxed))); };
    if (input.value.load(kRelaxed) == 0) {
        for (int32_t c = 0; c < int32_t(kChannels); ++c)
            if (sounding(c))
                gfx->drawLine(int(x), int(y) + 3 * c, int(x + size), to);
    } else {
        const int32_t source = sourceChannel.load(kRelaxed);
        if (sounding(source))
            gfx->drawLine(int(x), int(y) + 3 * source, int(x + size), to);
    }
}
