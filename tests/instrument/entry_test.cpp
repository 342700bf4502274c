#include "instrument/Entry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// render writes 64 frames of 8 outputs and reads four inputs: a context that
// cannot hold them is refused before anything is set up.
TEST(Entry, SetupRefusesAContextRenderWouldOverrun) {
    std::vector<float> in(64 * 8), out(64 * 8);
    std::vector<uint32_t> digital(64);
    struct Shape {
        uint32_t frames, inputs, outputs;
    };
    for (Shape shape : {Shape{32, 8, 8}, Shape{128, 8, 8}, Shape{64, 2, 8}, Shape{64, 8, 6}}) {
        BelaContext c;
        c.audioIn = in.data();
        c.audioOut = out.data();
        c.digital = digital.data();
        c.audioFrames = shape.frames;
        c.digitalFrames = shape.frames;
        c.audioInChannels = shape.inputs;
        c.audioOutChannels = shape.outputs;
        EXPECT_FALSE(setup(&c, nullptr)) << shape.frames << " frames, " << shape.inputs << " in, " << shape.outputs
                                         << " out";
    }
}

}  // namespace
