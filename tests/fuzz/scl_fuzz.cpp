// Scale files come from the user's storage: any bytes must give a scale with
// playable pitches or an error, never a crash.
#include "sequencing/PitchScale.h"
#include "sequencing/SclReader.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    SclParseResult result = parseSclFile(in);
    if (!result.ok()) {
        if (result.error.empty() || !result.ratios.empty())
            abort();
        return 0;
    }
    static PitchScaleManager manager;
    if (!manager.addScale("fuzz/f.scl", result.ratios))
        return 0;
    const PitchScale* scale = manager.getScale("f.scl");
    if (!scale || scale->stepsPerOctave() < 1)
        abort();
    for (int degree = -40; degree <= 40; degree += 7) {
        float hz = scale->frequency(degree, 0);
        if (!std::isfinite(hz) || hz < 0.0f)
            abort();
    }
    return 0;
}
