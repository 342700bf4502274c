#include "dsp/AudioBlock.h"

#include "dsp/Float4.h"

ChannelState combineChannelStates(ChannelState a, ChannelState b) {
    if (a == b) return a;
    if (a == ChannelState::Playing || b == ChannelState::Playing) return ChannelState::Playing;
    if (a == ChannelState::Started || b == ChannelState::Started) return ChannelState::Started;
    if (a != ChannelState::Silent && b != ChannelState::Silent) return ChannelState::Vacant;
    return ChannelState::Silent;
}

void mergeChannelState(ChannelState& word, ChannelState other) {
    word = combineChannelStates(word, other);
}

// Samples are zeroed as well: a block mixed before its first clear must not
// carry garbage into the mix.
AudioBlock::AudioBlock() : samples{}, positionCount(1), channelPosition{}, frames(kFrames), channels(kChannels) {
    for (auto& s : channelState) s = ChannelState::Vacant;
}

void AudioBlock::clear() {
    for (uint32_t c = 0; c < _channelCount(); ++c) {
        clearChannel(c);
        channelState[c] = ChannelState::Vacant;
        channelPosition[c] = 0;
    }
    positionCount = 1;
}

void AudioBlock::clearChannel(uint32_t c) {
    if (c >= kChannels) return;
    float* p = channel(c);
    for (uint32_t i = 0; i < _frameCount(); ++i) p[i] = 0.0f;
    if (isActive(channelState[c])) channelState[c] = ChannelState::Silent;
}

void AudioBlock::mixIn(const AudioBlock& source, float gain) {
    bool any = false;
    for (uint32_t c = 0; c < _channelCount(); ++c) {
        mergeChannelState(channelState[c], source.channelState[c]);
        any |= isActive(channelState[c]);
    }
    if (!any) return;

    float* dst = samples;
    const float* src = source.samples;
    uint32_t k = 0;
    // Vector path on aligned groups of four; a block added to itself is fine
    // too (each lane reads and writes the same index). A partial overlap of two
    // distinct blocks can only come from misplaced memory: use the scalar path.
    bool overlapping = dst != src && dst < src + kSamples && src < dst + kSamples;
    if (!overlapping) {
        while (k < kSamples && !(isAligned(dst + k, 16) && isAligned(src + k, 16))) {
            dst[k] += gain == 1.0f ? src[k] : src[k] * gain;
            ++k;
        }
        uint32_t vectorEnd = k + ((kSamples - k) & ~3u);
        if (gain == 1.0f) {
            for (; k < vectorEnd; k += 4) store4(dst + k, load4(dst + k) + load4(src + k));
        } else {
            float4 g = splat4(gain);
            for (; k < vectorEnd; k += 4) store4(dst + k, load4(dst + k) + load4(src + k) * g);
        }
    }
    if (gain == 1.0f) {
        for (; k < kSamples; ++k) dst[k] += src[k];
    } else {
        for (; k < kSamples; ++k) dst[k] += src[k] * gain;
    }
}

float AudioBlock::sumChannelsAt(uint32_t frame) const {
    float sum = 0.0f;
    if (frame >= kFrames) return sum;
    for (uint32_t c = 0; c < _channelCount(); ++c) sum += samples[c * kFrames + frame];
    return sum;
}

float AudioBlock::sumAlternateChannelsAt(uint32_t frame, uint32_t first) const {
    float sum = 0.0f;
    if (frame >= kFrames) return sum;
    for (uint32_t c = first; c < _channelCount(); c += 2) sum += samples[c * kFrames + frame];
    return sum;
}

void AudioBlock::sumToStereo(uint32_t c) {
    // Only the pairs 0/1, 2/3, 4/5, 6/7 exist; anything else would write past
    // the block.
    c &= ~1u;
    if (c > kChannels - 2) c = kChannels - 2;

    for (uint32_t i = 0; i < kFrames; ++i) {
        float even = samples[0 * kFrames + i] + samples[2 * kFrames + i] + samples[4 * kFrames + i] +
                     samples[6 * kFrames + i];
        float odd = samples[1 * kFrames + i] + samples[3 * kFrames + i] + samples[5 * kFrames + i] +
                    samples[7 * kFrames + i];
        samples[c * kFrames + i] = even;
        samples[(c + 1) * kFrames + i] = odd;
    }
    ChannelState left = channelState[0];
    ChannelState right = channelState[1];
    for (uint32_t k = 2; k < kChannels; k += 2) {
        mergeChannelState(left, channelState[k]);
        mergeChannelState(right, channelState[k + 1]);
    }
    for (uint32_t k = 0; k < kChannels; ++k) {
        channelState[k] = ChannelState::Vacant;
        channelPosition[k] = 0;
        // The unfolded channels must not leak into a later mixIn, which adds
        // all 512 samples.
        if (k != c && k != c + 1) {
            float* p = channel(k);
            for (uint32_t i = 0; i < kFrames; ++i) p[i] = 0.0f;
        }
    }
    positionCount = 2;
    channelState[c] = left;
    channelState[c + 1] = right;
    channelPosition[c] = 0;
    channelPosition[c + 1] = 1;
}
