#include "platform/AudioInput.h"

#include "platform/AudioFile.h"
#include "platform/SampleValues.h"

#include <samplerate.h>

#include <cmath>
#include <cstdio>

namespace host {

size_t inputChannelForFileChannel(size_t c) { return c < 4 ? 3 - c : c; }

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
    size_t replaced = 0;
    std::vector<std::vector<float>> file = AudioFileUtilities::load(path, -1, 0, &replaced);
    if (rate <= 0 || file.empty()) {
        fprintf(stderr, "Audio input %s cannot be read\n", path.c_str());
        return {};
    }
    if (replaced > 0)
        fprintf(stderr, "Audio input %s: %zu values replaced (not finite or beyond %g)\n", path.c_str(), replaced,
                double(kSampleValueBound));
    if (unsigned(rate) != kHostSampleRate) {
        for (auto& channel : file) {
            if (!resampleChannel(channel, unsigned(rate), kHostSampleRate)) {
                fprintf(stderr, "Audio input %s is at %d Hz and cannot be converted to %u Hz\n", path.c_str(), rate,
                        kHostSampleRate);
                return {};
            }
            // The converter's ringing may pass the bound by a hair: that is
            // not a value of the file, so it is bounded without a word.
            cleanSamples(channel.data(), channel.size());
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
