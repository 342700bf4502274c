// Sample files come from the user's storage: any bytes must load (or not)
// and analyse to finite features, never crash.
#include "samples/AudioResource.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout))  // the console messages would drown the fuzzer
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = "/tmp/corvane-samples-fuzz-" + std::to_string(getpid()) + ".wav";
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    fwrite(data, 1, size, file);
    fclose(file);

    AudioResource r(path);
    if (r.loaded == r.channels.empty() || !(r.sampleRate > 0.0f))
        abort();
    for (const auto& channel : r.channels)
        if (channel.size() != r.frameCount())
            abort();
    r.analyse();
    for (const auto& f : r.frameFeatures)
        if (f.size() != 2 || !std::isfinite(f[0]) || !std::isfinite(f[1]))
            abort();
    return 0;
}
