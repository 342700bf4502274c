// Sound files made on the spot, through libsndfile.
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace testsupport {

// Interleaved `data` into `path` in `format` (default a float WAV); false
// when the file cannot be written.
inline bool writeSound(const std::string& path, const std::vector<float>& data, int rate = 48000, int channels = 1,
                       int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    sf_writef_float(file, data.data(), sf_count_t(data.size() / size_t(channels)));
    return sf_close(file) == 0;
}

}  // namespace testsupport
