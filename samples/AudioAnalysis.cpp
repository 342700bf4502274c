// The sample analysis: per hop a loudness and a spectral centroid, per file
// the extremes the feature tree normalises with, a flatness range, the peak
// and a level overview for drawing.
#include "samples/AudioResource.h"

#include "dsp/WaveTable.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <array>
#include <cmath>

static_assert(AudioResource::kWindowLength == WaveTableBank::kHannSize);

namespace {

float loudnessOf(double level) {
    const double floorLevel = std::pow(10.0, AudioResource::kLoudnessFloor / 20.0);
    if (!(level > floorLevel))  // silence, and NaN from broken sample data
        return AudioResource::kLoudnessFloor;
    const double db = 20.0 * std::log10(level);
    return std::isfinite(db) ? float(db) : AudioResource::kLoudnessFloor;
}

float finiteOrZero(double value) { return std::isfinite(value) ? float(value) : 0.0f; }

void widen(float value, bool first, float& low, float& high) {
    if (first) {
        low = high = value;
        return;
    }
    high = std::max(high, value);
    low = std::min(low, value);
}

}  // namespace

void AudioResource::analyse() {
    if (!loaded || analysed.load(std::memory_order_acquire) || channels.empty())
        return;

    const size_t frames = channels[0].size();
    const size_t channelCount = channels.size();
    const size_t hops = (frames + kHopFrames - 1) / kHopFrames;
    const size_t blocks = (frames + kOverviewBlock - 1) / kOverviewBlock;
    frameFeatures.reserve(hops);
    overview.reserve(blocks);

    fft.setup(kFftSize);
    fftInput.resize(kFftSize, 0.0f);
    const double binWidth = double(sampleRate) / double(kFftSize);
    // The shared 4096-point Hann window; it repeats four times across a frame.
    const float* window = DSP::wavetable.hann();

    constexpr unsigned kBlocksPerFrame = kFftSize / kOverviewBlock;
    std::array<float, kBlocksPerFrame> blockLevels{};

    for (size_t f = 0; f < hops; ++f) {
        const size_t start = f * kHopFrames;

        // Levels over all channels; past the end counts as silence.
        double blockSum = 0.0, frameSum = 0.0;
        for (unsigned i = 0; i < kFftSize; ++i) {
            const size_t n = start + i;
            for (const auto& channel : channels) {
                if (n < channel.size()) {
                    const float v = std::fabs(channel[n]);
                    blockSum += v;
                    if (v > peak)
                        peak = v;
                }
            }
            if (i % kOverviewBlock == kOverviewBlock - 1) {
                frameSum += blockSum;
                const float level = float(blockSum / double(channelCount * kOverviewBlock));
                blockLevels[i / kOverviewBlock] = level;
                if (level > maxBlockLevel)
                    maxBlockLevel = level;
                blockSum = 0.0;
            }
        }
        const double frameLevel = frameSum / double(channelCount * kFftSize);
        // The second half of a frame is the first half of the next one.
        for (unsigned b = 0; b < kBlocksPerFrame / 2 && overview.size() < blocks; ++b)
            overview.push_back(blockLevels[b]);

        const float loudness = loudnessOf(frameLevel);

        const auto& first = channels[0];
        for (unsigned i = 0; i < kFftSize; ++i)
            fftInput[i] = start + i < frames ? window[i % kWindowLength] * first[start + i] : 0.0f;
        fft.fft(fftInput.data());
        const float* bins = fft.interleaved();

        double weighted = 0.0, magnitudes = 0.0, logs = 0.0;
        for (unsigned k = 0; k < kSpectrumBins; ++k) {
            const double re = bins[2 * k], im = bins[2 * k + 1];
            const double m = std::sqrt(re * re + im * im);
            weighted += m * double(k) * binWidth;
            magnitudes += m;
            logs += std::log(m);
        }
        // An all-zero spectrum has neither a centre nor a shape: both are 0.
        float centroid = 0.0f, flatness = 0.0f;
        if (magnitudes > 0.0) {
            centroid = finiteOrZero(weighted / magnitudes);
            flatness = finiteOrZero(std::exp(logs / kSpectrumBins) / (magnitudes / kSpectrumBins));
        }

        widen(loudness, f == 0, loudnessMin, loudnessMax);
        widen(centroid, f == 0, centroidMin, centroidMax);
        widen(flatness, f == 0, flatnessMin, flatnessMax);
        frameFeatures.push_back({loudness, centroid});
    }

    maxLevel = std::pow(10.0f, loudnessMax * 0.05f);
    analysed.store(true, std::memory_order_release);

    rt_printf("AudioResource[%s] analysed: loudness [ %.1f > %.1f ], centroid [ %.2f > %.2f ], "
              "flatness [ %.2f > %.2f ] \n",
              fileName().c_str(), loudnessMin, loudnessMax,
              centroidMin, centroidMax, flatnessMin, flatnessMax);
}
