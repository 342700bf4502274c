#include "effects/FadeDelayFX.h"

#include "dsp/Float4.h"
#include "dsp/Random.h"
#include "dsp/Saturate.h"
#include "dsp/WaveTable.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr uint32_t kNearest = 4000;

}  // namespace

FadeDelayFX::FadeDelayFX()
    : freq("freq", ParameterFloat::Hertz, XYMorph | Stored | Smoothed, 1.0f, 0.1f, 2000.0f),
      feedback("feedback", ParameterFloat::Decibels, XYMorph | Stored | Smoothed, -96.0f, -96.0f, 0.0f),
      shift("shift", ParameterFloat::Percent, XYMorph | Stored, 0.0f),
      dryWet("dry/wet", ParameterFloat::Percent, XYMorph | Stored | Smoothed, 0.2f),
      writeBus(AudioBlock::kFrames, 0.0f),
      fadeLength(AudioBlock::kFrames, 0.0f),
      phaseBuffer(AudioBlock::kFrames, 0.0f),
      fadeLine(kLineLength) {
    highPassLow.setCutoff(40.0);
    ducker.setCutoff(1.0);
    lowPass.setCutoff(10000.0);
    windowSmoother.setCutoff(1.0);
    for (ReadHead& head : heads)
        head.delay.store(kNearest + DSP::random.nextHigh() % (kLineLength - kNearest), kRelaxed);
    _setup("fade delay", {&freq, &feedback, &shift, &dryWet});
    encoderParameters[0] = &freq;
    encoderParameters[1] = &feedback;
    encoderParameters[2] = &shift;
    encoderParameters[3] = &dryWet;
}

FadeDelayFX::~FadeDelayFX() = default;

void FadeDelayFX::process(AudioBlock& block) {
    group.updateBlock();
    float F = freq.output;
    const float G = feedback.output;
    const float x = dryWet.output;
    float dry = 1.0f, wet = 0.0f;
    if (x >= 1.0f) {
        dry = 0.0f, wet = 0.25f;
    } else if (x > 0.0f) {
        dry = std::cos(std::numbers::pi_v<float> * x / 2.0f);
        wet = 0.25f * std::sin(std::numbers::pi_v<float> * x / 2.0f);
    }
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    if (frames == 0)
        return;
    phasor.setFrequency(F);
    const double window = 48000.0 / double(std::max(F, 0.1f));
    for (uint32_t i = 0; i < frames; ++i) {
        phaseBuffer[i] = phasor.next();
        writeBus[i] = 0.0f;
        fadeLength[i] = windowSmoother.tick(float(window));
    }
    F = std::max(F, 0.25f);
    const uint32_t lo = uint32_t(4000.0f + 72000.0f * 0.125f / F);
    const uint32_t range = kLineLength - lo;
    const float shiftChance = shift.getValue();

    const uint32_t channels = std::min(block.channels, kChannels);
    uint32_t count = 0;
    // The heads' places and windows depend only on the frame and one of four
    // phase offsets: worked out once per block.
    float places[4][AudioBlock::kFrames], windows[4][AudioBlock::kFrames];
    for (uint32_t o = 0; o < 4; ++o) {
        const float offset = headPhaseOffsets[o];
        uint32_t i = 0;
        for (; i + 4 <= frames; i += 4) {
            float4 p = loadUnaligned4(phaseBuffer.data() + i) + offset;  // below 2
            p = p >= splat4(1.0f) ? p - 1.0f : p;
            float4 q = p + 0.75f;
            q = q >= splat4(1.0f) ? q - 1.0f : q;
            storeUnaligned4(places[o] + i, p);
            for (uint32_t k = 0; k < 4; ++k)
                windows[o][i + k] = 0.5f + 0.5f * DSP::wavetable.sineInCycle(q[k]);
        }
        for (; i < frames; ++i) {
            float p = phaseBuffer[i] + offset;
            p = p >= 1.0f ? p - 1.0f : p;
            float q = p + 0.75f;
            q = q >= 1.0f ? q - 1.0f : q;
            places[o][i] = p;
            windows[o][i] = 0.5f + 0.5f * DSP::wavetable.sineInCycle(q);
        }
    }
    // For each offset and frame, the next frame from 1 on where the window
    // wraps (frame 0 depends on each head's own last place); frames if none.
    uint32_t nextWrap[4][AudioBlock::kFrames + 1];
    for (uint32_t o = 0; o < 4; ++o) {
        nextWrap[o][frames] = frames;
        for (uint32_t i = frames - 1; i > 0; --i)
            nextWrap[o][i] = places[o][i - 1] - places[o][i] > 0.9f ? i : nextWrap[o][i + 1];
        nextWrap[o][0] = nextWrap[o][1];
    }
    const float* buffer = fadeLine.buffer.data();
    const uint32_t n = fadeLine.size();
    const uint32_t w0 = fadeLine.writeIndex;
    float bus[AudioBlock::kFrames] = {};  // a local: the compiler may keep it apart from the block
    for (uint32_t c = 0; c < channels; ++c) {
        if (block.channelState[c] == ChannelState::Vacant)
            continue;
        ++count;
        float* samples = block.channel(c);
        float in[AudioBlock::kFrames];
        std::copy(samples, samples + frames, in);
        // Head by head over the block: each frame's bus and sum see the heads
        // in the same order as a frame-by-frame walk.
        float sum[AudioBlock::kFrames] = {};
        for (uint32_t h = 0; h < headCount; ++h) {
            const uint32_t t = headsPerChannel * c + h;
            ReadHead& head = heads[t];
            // The offsets repeat every four heads.
            const float* place = places[t % 4];
            const float* window = windows[t % 4];
            uint32_t delay = head.delay.load(kRelaxed);
            uint32_t moving = head.moving;
            float last = head.lastPhase;
            // The still head's place in the buffer, one newer every frame.
            uint32_t r = (w0 + delay) % n;
            const uint32_t* wrapAhead = nextWrap[t % 4];
            uint32_t i = 0;
            while (i < frames) {
                // A still head between window wraps reads four frames at a
                // time, up to the edge of the buffer.
                if (!moving && !(i == 0 && last - place[0] > 0.9f)) {
                    const uint32_t end = std::min(wrapAhead[i], i + r);
                    if (i + 4 <= end) {
                        for (; i + 4 <= end; i += 4) {
                            const float4 back = loadUnaligned4(buffer + r - 3);
                            const float4 s4 = float4{back[3], back[2], back[1], back[0]};
                            const float4 sum4 = loadUnaligned4(sum + i) + loadUnaligned4(window + i) * s4;
                            storeUnaligned4(sum + i, sum4);
                            storeUnaligned4(bus + i, loadUnaligned4(in + i) + loadUnaligned4(bus + i) + sum4 * G);
                            r -= 4;
                        }
                        last = place[i - 1];
                        continue;
                    }
                }
                const float p = place[i];
                if (last - p > 0.9f) {
                    moving = shiftChance > std::fabs(DSP::noise.next()) ? 1 : 0;
                    delay = lo + DSP::random.nextHigh() % range;
                    r = (w0 + delay - i) % n;  // delay - i < n
                }
                last = p;
                const float s = moving ? fadeLine.read(saturateToU32((1.0f - p) * fadeLength[i]) + delay - i) : buffer[r];
                r = (r ? r : n) - 1;
                sum[i] += window[i] * s;
                bus[i] = in[i] + bus[i] + sum[i] * G;
                ++i;
            }
            head.lastPhase = last;
            head.moving = moving;
            head.delay.store(delay, kRelaxed);
            head.gain.store(window[frames - 1], kRelaxed);
        }
        uint32_t i = 0;
        for (; i + 4 <= frames; i += 4)
            storeUnaligned4(samples + i, loadUnaligned4(sum + i) * wet + dry * loadUnaligned4(in + i));
        for (; i < frames; ++i)
            samples[i] = sum[i] * wet + dry * in[i];
    }
    std::copy(bus, bus + frames, writeBus.begin());

    for (uint32_t i = 0; i < frames; ++i) {
        float v = writeBus[i];
        v -= highPassLow.tick(v);
        v = lowPass.tick(v);
        writeBus[i] = v;
        const float a = std::min(1.0f, std::fabs(v * float(count)));
        const float d = ducker.tick(1.0f - a);
        if (i == 0) {
            const uint32_t index = (duckIndex.load(kRelaxed) + kDuckHistory - 1) % kDuckHistory;
            duckHistory[index].store(d, kRelaxed);
            duckIndex.store(index, kRelaxed);
        }
        fadeLine.write(d * v);
    }
    for (uint32_t c = 0; c < kChannels; ++c)
        if (block.channelState[c] != ChannelState::Vacant)
            block.channelState[c] = ChannelState::Playing;
    _storeChannelStates(block);
}

void FadeDelayFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {
    if (size > 5) {
        const unsigned per = std::max(kLineLength / (size - 5), 1u);
        for (uint32_t t = 0; t < kHeads; ++t) {
            const uint32_t c = t / 2;
            if (channelStates[c].load(kRelaxed) == int32_t(ChannelState::Vacant))
                continue;
            gfx->setColour(uint32_t(std::clamp(std::roundf(heads[t].gain.load(kRelaxed) * 8.0f), 0.0f, 8.0f)));
            const int o = int(heads[t].delay.load(kRelaxed) / per);
            gfx->drawLine(int(x) + o, int(y + 3 * c), int(x) + o, int(y + 3 * c + 1));
        }
    }
    gfx->setColour(4);
    gfx->drawLine(int(x + size) - 3, int(y), int(x + size) - 3, int(y + size));
    gfx->setColour(8);
    gfx->drawRect(int(x + size), int(y), int(x + size) - 1, int(float(y) + (1.0f - newestDuckGain()) * float(size)));
}
