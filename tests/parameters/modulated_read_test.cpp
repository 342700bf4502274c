// A parameter without modulators is read on a short path: it must agree
// with the full walk over a list whose modulators add nothing.
#include "TestModulator.h"
#include "parameters/ParameterFloat.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectSame(float a, float b, const char* what) {
    if (std::isnan(a) || std::isnan(b))
        EXPECT_TRUE(std::isnan(a) && std::isnan(b)) << what;
    else
        EXPECT_EQ(a, b) << what;
}

TEST(ParameterModulation, ShortPathMatchesTheFullWalk) {
    ParameterFloat bare("bare", ParameterFloat::Plain, NoFlags, 0.0f);
    ParameterFloat walked("walked", ParameterFloat::Plain, NoFlags, 0.0f);
    auto silent = makeTestModulator(0.0f);
    walked.addModulator(silent);

    const float extras[] = {0.0f, -0.0f, 0.3f, -2.5f, NAN, INFINITY};
    const float outputs[] = {0.0f, 0.4f, -3.0f, 700.0f, NAN};
    for (uint32_t mode : {0u, 1u, 2u}) {
        for (float depth : {1.0f, 11.0f, -0.5f}) {
            for (float out : outputs) {
                for (float extra : extras) {
                    walked.updateBlock();  // a block of its own: its modulator runs again
                    for (ParameterFloat* p : {&bare, &walked}) {
                        p->modulationMode = mode;
                        p->modulationDepth = depth;
                        p->modulationMin = -10.0f;
                        p->modulationMax = 1000.0f;
                        p->output = out;
                    }
                    const int callsBefore = silent->calls.load();
                    expectSame(bare.getModulated(2, false, true, extra), walked.getModulated(2, false, true, extra),
                               "mode, depth, output, extra");
                    // The full walk really asked the modulator.
                    EXPECT_EQ(silent->calls.load(), mode < 2 ? callsBefore + 1 : callsBefore);
                }
            }
        }
    }
}

TEST(ParameterModulation, BusyListIsSkippedInEitherMode) {
    ParameterFloat p("freq", ParameterFloat::Plain, NoFlags, 0.0f);
    p.modulationMax = 20000.0f;
    p.output = 440.0f;
    p.modulationDepth = 2.0f;
    auto m = makeTestModulator(1.0f);
    p.addModulator(m);
    p.busy = true;
    for (uint32_t mode : {0u, 1u}) {
        p.modulationMode = mode;
        // Only the extra input counts: 440 + 0.5 x 2, or 440 x 2^(0.5 x 2).
        EXPECT_FLOAT_EQ(p.getModulated(0, false, false, 0.5f), mode ? 880.0f : 441.0f);
    }
    EXPECT_EQ(m->calls.load(), 0);
    p.busy = false;
    EXPECT_FLOAT_EQ(p.getModulated(0, false, false, 0.5f), 3520.0f);  // 440 x 2^((1 + 0.5) x 2)
    EXPECT_EQ(m->calls.load(), 1);
}

}  // namespace
