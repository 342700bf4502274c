// Sample files come from the user's storage: any bytes must load (or not)
// and analyse to finite features, never crash; the values they load are
// finite and bounded.
#include "platform/SampleValues.h"
#include "samples/AudioResource.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The decoders behind the file reader (MPEG above all) print a note on
// stderr for every broken frame, which drowns the fuzzer's log and slows it
// down. libFuzzer's own option closes the target's stderr while keeping its
// messages and the sanitizers' reports on a copy; it goes first, so a flag
// given on the command line still wins. The console messages of stdout go
// the same way.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> args;
    static char quiet[] = "-close_fd_mask=3";
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + (args.empty() ? 0 : 1), quiet);
    args.push_back(nullptr);
    *argc = int(args.size()) - 1;
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        const char* tmp = getenv("TMPDIR");
        return std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-samples-fuzz-" + std::to_string(getpid()) + ".wav";
    }();
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    fwrite(data, 1, size, file);
    fclose(file);

    AudioResource r(path);
    std::remove(path.c_str());  // read whole by now; a run leaves nothing in the temp folder
    if (r.loaded == r.channels.empty() || !(r.sampleRate > 0.0f))
        abort();
    // Whatever the file holds, what plays is finite and bounded.
    for (const auto& channel : r.channels) {
        if (channel.size() != r.frameCount())
            abort();
        for (float v : channel)
            if (!(std::fabs(v) <= kSampleValueBound))
                abort();
    }
    r.analyse();
    for (const auto& f : r.frameFeatures)
        if (f.size() != 2 || !std::isfinite(f[0]) || !std::isfinite(f[1]))
            abort();
    return 0;
}
