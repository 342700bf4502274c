#include "effects/DelayFX.h"

#include "dsp/Float4.h"
#include "dsp/Random.h"
#include "dsp/Saturate.h"
#include "dsp/WaveTable.h"
#include "effects/MixGains.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace {

constexpr float kDigitalGlide = 960.0f;
constexpr float kAnalogGlide = 24000.0f;
constexpr uint32_t kJumpThreshold = 10;
constexpr uint32_t kExternalJumpThreshold = 500;
constexpr float kBucketMaxFeedback = 0.98f;

TempoReading _internalTempo() { return {}; }

int32_t _current(const ParameterInt& p) { return p.value.load(std::memory_order_relaxed); }

}  // namespace

std::atomic<TempoReader> DelayFX::tempoReader{&_internalTempo};

DelayFX::DelayFX()
    : crossfeed(AudioBlock::kFrames, 0.0f),
      sync("sync", ParameterInt::ChoiceMode, Stored, 1),
      time("time", ParameterFloat::Milliseconds, XYMorph | Stored | PerChannel, 600.0f, 2.0f, 3000.0f),
      interval("interval", ParameterFloat::Plain, XYMorph | Stored | PerChannel, 6.0f, 0.1f, 16.0f),
      feedback("feedback", ParameterFloat::Percent, XYMorph | Stored | Smoothed | PerChannel, 0.5f),
      type("type", ParameterInt::ChoiceMode, Stored, 1),
      algo("algo", ParameterInt::ChoiceMode, Stored, 0),
      lowpass("lowpass", ParameterFloat::Hertz, XYMorph | Stored | Smoothed | PerChannel, 6000.0f, 100.0f, 8000.0f),
      quality("quality", ParameterFloat::Percent, XYMorph | Stored | PerChannel, 1.0f),
      multiplier("multiplier", ParameterFraction::Integer, XYMorph | Stored | PerChannel, 1.0f, 8.0f, 8.0f),
      dryWet("dry/wet", ParameterFloat::Percent, XYMorph | Stored | Smoothed | PerChannel, 1.0f) {
    delayLines.reserve(kChannels);
    const uint32_t start = uint32_t(std::lround(600.0 * 48.0));
    for (uint32_t c = 0; c < kChannels; ++c) {
        delayLines.emplace_back(lineLength);
        delaySamples[c].store(start, std::memory_order_relaxed);
        heldDelay[c] = start;
    }
    type.setChoices({"normal", "pingpong"}, 1);
    algo.setChoices({"clean", "digital", "analog", "bucket"}, 0);
    _setup("delay", {&sync, &time, &interval, &feedback, &type, &lowpass, &quality, &algo, &dryWet, &multiplier});
    encoderParameters[0] = &interval;
    encoderParameters[1] = &feedback;
    encoderParameters[3] = &dryWet;
    keyParameters[0] = &sync;
    keyParameters[1] = &type;
    keyParameters[2] = &algo;
}

DelayFX::~DelayFX() = default;

void DelayFX::remapParameters() {
    encoderParameters[0] = _current(sync) != 0 ? static_cast<Parameter*>(&interval) : &time;
    switch (_current(algo)) {
    case Digital:
        encoderParameters[2] = &quality;
        break;
    case Analog:
        encoderParameters[2] = &lowpass;
        break;
    case Bucket:
        encoderParameters[2] = &multiplier;
        break;
    default:
        encoderParameters[2] = nullptr;
    }
}

bool DelayFX::storeSilent(uint32_t c, int32_t algorithm) {
    return algorithm == Bucket ? bucketRings[c].isSilent() : delayLines[c].isSilent();
}

void DelayFX::process(AudioBlock& block) {
    group.updateBlock();
    const bool synced = _current(sync) != 0;
    const bool pingpong = _current(type) == 1;
    const int32_t algorithm = _current(algo);
    const TempoReader reader = tempoReader.load(std::memory_order_relaxed);
    const TempoReading tempo = reader ? reader() : TempoReading{};
    const float bpm = std::round(tempo.bpm);
    const uint32_t frames = std::min(block.frames, AudioBlock::kFrames);
    const uint32_t channels = std::min(block.channels, kChannels);

    for (uint32_t c = 0; c < channels; ++c) {
        const ChannelState s = block.channelState[c];
        if (pingpong ? s == ChannelState::Vacant : !isActive(s) && storeSilent(c, algorithm))
            continue;
        const bool started = s == ChannelState::Started;
        auto read = [&](Parameter& p) { return p.getModulated(c, false, started, 0.0f); };

        // A tempo of 0 would make the time infinite: the last delay holds.
        if (!synced || bpm >= 1.0f) {
            const double ms = synced ? 7500.0 / double(bpm) * double(read(interval)) : double(read(time));
            heldDelay[c] = saturateToU32(std::round(ms * 48.0));
        }
        uint32_t d = heldDelay[c];
        delaySamples[c].store(d, std::memory_order_relaxed);
        float r = std::clamp(float(kBuckets) / float(std::max(d, 1u)) * read(multiplier), 0.0f, 1.0f);
        if (algorithm == Bucket)
            delaySamples[c].store(r > 0.0f ? saturateToU32(float(kBuckets) / r) : lineLength,
                                  std::memory_order_relaxed);
        float f = read(feedback);
        const MixGains mix = MixGains::equalPower(read(dryWet));
        const float lowpassHz = read(lowpass);
        const float q = read(quality);
        const float levels = std::exp2(10.0f + DSP::noise.next() * f + 6.0f * q);

        float* x = block.channel(c);
        DelayLine& line = delayLines[c];
        // The echo fed back: the channel's own, or the previous channel's.
        auto store = [&](uint32_t i, float in, float echo) {
            const float F = pingpong ? crossfeed[i] : echo;
            if (pingpong)
                crossfeed[i] = echo;
            return in + f * F;
        };

        switch (algorithm) {
        case Clean: {
            // A tap of the whole length would read the newest sample.
            const uint32_t target = std::min(d, line.size() - 1);
            const bool external = synced && tempo.clockSource != 0;
            line.setJumpTarget(target, external ? kExternalJumpThreshold : kJumpThreshold);
            if (!line.tapSteady()) {
                for (uint32_t i = 0; i < frames; ++i) {
                    const float in = x[i];
                    const float echo = line.readCrossfading(0);
                    line.writeCountingQuiet(store(i, in, echo));
                    x[i] = mix.wet * echo + mix.dry * in;
                }
                break;
            }
            // No jump under way: the tap is read straight from the buffer.
            float* buffer = line.buffer.data();
            const uint32_t n = line.size();
            const uint32_t tap = std::min(line.currentTap, n - 1);
            const float fade = line.fadeGain, threshold = line.quietThreshold;
            uint32_t w = line.writeIndex;
            int32_t quietChange = 0;
            auto run = [&](auto crossed) {
                for (uint32_t i = 0; i < frames; ++i) {
                    const float in = x[i];
                    const uint32_t r = w + tap;
                    const float echo = fade * buffer[r >= n ? r - n : r];
                    float F = echo;
                    if constexpr (crossed) {
                        F = crossfeed[i];
                        crossfeed[i] = echo;
                    }
                    const float v = in + f * F;
                    w = (w ? w : n) - 1;
                    quietChange += int32_t(std::fabs(v) < threshold) - int32_t(std::fabs(buffer[w]) < threshold);
                    buffer[w] = v;
                    x[i] = mix.wet * echo + mix.dry * in;
                }
            };
            // A tap at least a block long reads nothing this block writes:
            // away from the ends of the buffer the block is read and written
            // as two runs, four samples at a time.
            const uint32_t r0 = w + tap >= n ? w + tap - n : w + tap;
            if (frames % 4 == 0 && tap + 1 >= frames && r0 + 1 >= frames && w >= frames) {
                const float4 gain = splat4(fade), feed = splat4(f), wet = splat4(mix.wet), dry = splat4(mix.dry);
                const float4 limit = splat4(threshold);
                int4 quiet = {0, 0, 0, 0};
                for (uint32_t i = 0; i < frames; i += 4) {
                    const float4 back = loadUnaligned4(buffer + r0 - i - 3);
                    const float4 echo = gain * float4{back[3], back[2], back[1], back[0]};
                    const float4 in = loadUnaligned4(x + i);
                    float4 F = echo;
                    if (pingpong) {
                        F = loadUnaligned4(crossfeed.data() + i);
                        storeUnaligned4(crossfeed.data() + i, echo);
                    }
                    const float4 v = in + feed * F;
                    float* slot = buffer + w - i - 4;
                    const float4 old = loadUnaligned4(slot);
                    quiet += (abs4(old) < limit) - (abs4(v) < limit);
                    storeUnaligned4(slot, float4{v[3], v[2], v[1], v[0]});
                    storeUnaligned4(x + i, wet * echo + dry * in);
                }
                w -= frames;
                quietChange = quiet[0] + quiet[1] + quiet[2] + quiet[3];
            } else if (pingpong) {
                run(std::true_type{});
            } else {
                run(std::false_type{});
            }
            line.writeIndex = w;
            line.quietCount = uint32_t(std::max<int64_t>(int64_t(line.quietCount) + quietChange, 0));
            break;
        }
        case Digital: {
            TimeGlide& glide = timeGlide[c];
            glide.riseDivisor = glide.fallDivisor = kDigitalGlide;
            for (uint32_t i = 0; i < frames; ++i) {
                const float in = x[i];
                glide.current += (float(d) - glide.current) / kDigitalGlide;
                const float echo = std::round(line.read(saturateToU32(glide.current)) * levels) / levels;
                line.writeCountingQuiet(store(i, in, echo));
                x[i] = mix.wet * echo + mix.dry * in;
            }
            break;
        }
        case Analog: {
            TimeGlide& glide = timeGlide[c];
            glide.riseDivisor = glide.fallDivisor = kAnalogGlide;
            OnePole& tone = toneFilter[c];
            tone.setCutoff(lowpassHz);
            // The wow walks both ways: kept inside [0, 1) so it always reads the table.
            float& phase = wobblePhase[c];
            phase += (0.1f + DSP::noise.next()) * 0.002f;
            phase -= std::floor(phase);
            if (!(phase >= 0.0f && phase < 1.0f))
                phase = 0.0f;
            const float depth = std::clamp((float(d) - 2.0f) / 24.0f, 0.001f, 400.0f);
            d = saturateToU32(float(d) + depth * DSP::wavetable.sine(phase));
            delaySamples[c].store(d, std::memory_order_relaxed);
            for (uint32_t i = 0; i < frames; ++i) {
                const float in = x[i];
                glide.current += (float(d) - glide.current) / kAnalogGlide;
                const float echo = tone.tick(line.readInterpolated(glide.current));
                line.writeCountingQuiet(store(i, in, echo));
                x[i] = mix.wet * echo + mix.dry * in;
            }
            break;
        }
        default: {
            toneFilter[c].setCutoff(double(r) * 24000.0);
            f = std::min(f, kBucketMaxFeedback);
            if (r > 0.0f)
                r = std::clamp(r + r * 0.001f * DSP::noise.next(), 0.0f, 1.0f);
            BucketRing& ring = bucketRings[c];
            OnePole& tone = toneFilter[c];
            for (uint32_t i = 0; i < frames; ++i) {
                const float in = x[i];
                const float p = ring.position + 2.0f;
                const uint32_t k = uint32_t(p);
                const float u = p - float(k);
                const float a = ring.buckets[k % kBuckets];
                const float b = ring.buckets[uint32_t(std::ceil(p)) % kBuckets];
                const float echo = tone.tick((1.0f - u) * a + u * b);
                ring.position += r;
                if (ring.position >= float(kBuckets))
                    ring.position = 0.0f;
                float& bucket = ring.buckets[uint32_t(ring.position) % kBuckets];
                const float v = store(i, in, echo);
                if (std::fabs(bucket) < ring.quietThreshold && ring.quietCount > 0)
                    --ring.quietCount;
                if (std::fabs(v) < ring.quietThreshold)
                    ++ring.quietCount;
                bucket = v;
                x[i] = mix.wet * echo + mix.dry * in;
            }
        }
        }
    }

    for (uint32_t c = 0; c < kChannels; ++c) {
        if (block.channelState[c] == ChannelState::Silent && !storeSilent(c, algorithm))
            block.channelState[c] = ChannelState::Playing;
    }
    _storeChannelStates(block);
}

void DelayFX::_drawVisual(MonoGFX* gfx, unsigned x, unsigned y, unsigned size) {
    if (size == 0)
        return;
    for (uint32_t c = 0; c < kChannels; ++c) {
        const int32_t s = channelStates[c].load(std::memory_order_relaxed);
        gfx->setColour(s == int32_t(ChannelState::Silent) ? 4 : s == int32_t(ChannelState::Vacant) ? 2 : 8);
        const unsigned per = std::max(lineLength / size, 1u);
        const unsigned o = std::min(delaySamples[c].load(std::memory_order_relaxed) / per, size);
        gfx->drawLine(int(x + o), int(y + 3 * c), int(x + o), int(y + 3 * c + 1));
    }
}
