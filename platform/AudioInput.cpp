#include "platform/AudioInput.h"

#include "platform/AudioFile.h"

#include <samplerate.h>

#include <cmath>
#include <cstdio>

namespace host {

size_t inputChannelForFileChannel(size_t c) { return c < 4 ? 3 - c : c; }

size_t cleanSamples(std::vector<float>& samples) {
    size_t replaced = 0;
    for (float& x : samples) {
        float y = x;
        if (!std::isfinite(y))
            y = 0.0f;
        else if (y > 1.0f)
            y = 1.0f;
        else if (y < -1.0f)
            y = -1.0f;
        if (y != x) {  // true for a NaN too
            x = y;
            ++replaced;
        }
    }
    return replaced;
}

bool resampleChannel(std::vector<float>& samples, unsigned fromRate, unsigned toRate) {
    if (fromRate == toRate)
        return true;
    const double ratio = double(toRate) / double(fromRate);
    if (fromRate == 0 || !src_is_valid_ratio(ratio))
        return false;
    if (samples.empty())
        return true;
    std::vector<float> out(size_t(std::ceil(double(samples.size()) * ratio)) + 16);
    SRC_DATA data{};
    data.data_in = samples.data();
    data.input_frames = long(samples.size());
    data.data_out = out.data();
    data.output_frames = long(out.size());
    data.end_of_input = 1;
    data.src_ratio = ratio;
    if (src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 1) != 0)
        return false;
    out.resize(size_t(data.output_frames_gen));
    samples.swap(out);
    return true;
}

std::vector<std::vector<float>> loadAudioInput(const std::string& path, size_t contextChannels) {
    const int rate = AudioFileUtilities::getSampleRate(path);
    std::vector<std::vector<float>> file = AudioFileUtilities::load(path);
    if (rate <= 0 || file.empty()) {
        fprintf(stderr, "Audio input %s cannot be read\n", path.c_str());
        return {};
    }
    size_t replaced = 0;
    for (auto& channel : file)
        replaced += cleanSamples(channel);
    if (replaced > 0)
        fprintf(stderr, "Audio input %s: %zu values replaced (not finite or beyond full scale)\n", path.c_str(),
                replaced);
    if (unsigned(rate) != kHostSampleRate) {
        for (auto& channel : file) {
            if (!resampleChannel(channel, unsigned(rate), kHostSampleRate)) {
                fprintf(stderr, "Audio input %s is at %d Hz and cannot be converted to %u Hz\n", path.c_str(), rate,
                        kHostSampleRate);
                return {};
            }
            // The converter's ringing may pass full scale by a hair: that is
            // not a value of the file, so it is bounded without a word.
            cleanSamples(channel);
        }
        fprintf(stderr, "Audio input %s: %d Hz converted to %u Hz\n", path.c_str(), rate, kHostSampleRate);
    }
    std::vector<std::vector<float>> inputs(contextChannels);
    for (size_t c = 0; c < file.size(); ++c) {
        const size_t to = inputChannelForFileChannel(c);
        if (to < contextChannels)
            inputs[to] = std::move(file[c]);
    }
    return inputs;
}

}  // namespace host
