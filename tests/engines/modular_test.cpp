// The modular engine against a recording stand-in of the CV expander client:
// gate timing, pitch glide, CV levels, voice numbers, nothing while
// disconnected; and the "none" engine.
#include "engines/modular/ModularCommon.h"
#include "engines/modular/ModularVoice.h"
#include "engines/none/NoneCommon.h"

#include "gui/MonoGFX.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// Records what the engine hands over, with the block it came in.
class RecordingOSCV : public OSCV {
public:
    struct Note {
        int block;
        uint32_t index;
        bool gate;
        float hz;
    };
    struct Levels {
        int block;
        uint32_t first;
        std::array<int32_t, kCvOuts> levels;
    };
    RecordingOSCV() { Driver::oscv.store(this); }
    ~RecordingOSCV() override { Driver::oscv.store(nullptr); }

    void sendNote(uint32_t index, bool gate, float value) override { notes.push_back({block, index, gate, value}); }
    void sendCvOuts(uint32_t first, const int32_t (&l)[kCvOuts]) override {
        Levels r{block, first, {}};
        std::copy(std::begin(l), std::end(l), r.levels.begin());
        cvs.push_back(r);
    }
    bool isConnected() const override { return connected; }

    bool connected = true;
    int block = 0;
    std::vector<Note> notes;
    std::vector<Levels> cvs;
};

using Harness = enginetest::VoiceHarness<ModularVoice>;

void run(Harness& h, RecordingOSCV& oscv, int blocks) {
    for (int b = 0; b < blocks; ++b, ++oscv.block) h.renderBlock();
}

TEST(ModularVoice, GateOnForItsLengthPitchEverySecondBlockAndSilence) {
    RecordingOSCV oscv;
    ModularCommon c;
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(220.0f));
    run(h, oscv, 24);
    ASSERT_EQ(oscv.notes.size(), 12u);
    for (const auto& n : oscv.notes) {
        EXPECT_EQ(n.block % 2, 0);
        EXPECT_EQ(n.gate, n.block <= 14) << n.block;  // 20 ms: 15 blocks
        EXPECT_EQ(n.hz, 220.0f);
        EXPECT_EQ(n.index, slot);
    }
    for (int i = 0; i < 64; ++i) ASSERT_EQ(h.block.channel(slot)[i], 0.0f);
    EXPECT_TRUE(h.voice(slot).active);

    h.fadeOut(slot, 256);
    run(h, oscv, 6);
    EXPECT_FALSE(h.voice(slot).active);
}

TEST(ModularVoice, SlideGlidesByItsDivisorOtherKindsJump) {
    RecordingOSCV oscv;
    ModularCommon c;  // "slide" 50 ms: 3.75
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(100.0f, 1.0f, NoteType::NoteOnSlide));
    run(h, oscv, 1);
    EXPECT_EQ(oscv.notes.back().hz, 100.0f);
    h.play(h.makeNote(200.0f, 1.0f, NoteType::NoteSlide));
    EXPECT_FLOAT_EQ(h.voice(slot).glideUpDivisor, 3.75f);
    run(h, oscv, 2);  // blocks 1 (not sent) and 2
    EXPECT_NEAR(oscv.notes.back().hz, 200.0f - 100.0f * (1 - 1 / 3.75f) * (1 - 1 / 3.75f), 1e-3f);
    EXPECT_TRUE(oscv.notes.back().gate);  // the slide kept the note's gate and counter
}

TEST(ModularVoice, OverlappingNotesDriveOutputsOfTheirOwn) {
    RecordingOSCV oscv;
    ModularCommon c;
    c.polyphony.setValue(8, true);
    EXPECT_EQ(c.polyphony.value, 4);
    c.polyphony.setValue(2, true);
    Harness h(c);
    h.play(h.makeNote(220.0f));
    h.play(h.makeNote(330.0f));
    run(h, oscv, 2);
    std::set<std::pair<uint32_t, float>> sent;
    for (const auto& n : oscv.notes) sent.insert({n.index, n.hz});
    EXPECT_EQ(sent, (std::set<std::pair<uint32_t, float>>{{0, 220.0f}, {1, 330.0f}}));
}

TEST(ModularCommon, LevelsEverySecondBlockNothingWhileDisconnected) {
    RecordingOSCV oscv;
    ModularCommon c;
    c.cvOut[0].setValue(2.5f, true);
    c.cvOut[7].setValue(0.0004f, true);
    Harness h(c);
    h.play(h.makeNote(220.0f));
    run(h, oscv, 10);
    ASSERT_EQ(oscv.cvs.size(), 5u);
    for (size_t i = 1; i < oscv.cvs.size(); ++i) EXPECT_EQ(oscv.cvs[i].block - oscv.cvs[i - 1].block, 2);
    EXPECT_EQ(oscv.cvs[0].first, 9u);
    EXPECT_EQ(oscv.cvs[0].levels[0], 2500);
    EXPECT_EQ(oscv.cvs[0].levels[7], 0);

    oscv.connected = false;
    oscv.notes.clear();
    oscv.cvs.clear();
    h.play(h.makeNote(220.0f));
    run(h, oscv, 10);
    EXPECT_TRUE(oscv.notes.empty());
    EXPECT_TRUE(oscv.cvs.empty());
}

int lit(const MonoGFX& g, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) n += g.pixel(x, y) ? 1 : 0;
    return n;
}

TEST(ModularCommon, PageAndConnectionShown) {
    ModularCommon c;
    EXPECT_EQ(c.parameters.find("gate length")->name, "gate length");
    EXPECT_EQ(c.exposedParameters[7].load(), &c.cvOut[7]);
    EXPECT_EQ(c.exposedParameters[8].load(), &c.gateLength);
    EXPECT_EQ(c.exposedParameters[11].load(), &c.detune);
    EXPECT_EQ(c.envSlots(), 0u);
    MonoGFX none;
    none.init(256, 64);
    c.drawOverview(none, 0, 0, 100, 10);  // no client at all: "..."
    RecordingOSCV oscv;
    MonoGFX connected;
    connected.init(256, 64);
    c.drawOverview(connected, 0, 0, 100, 10);
    EXPECT_GT(lit(connected, 100, 22, 144, 30), lit(none, 100, 22, 144, 30));
}

TEST(NoneCommon, OnlyTheTrackVolumeAndASayingPage) {
    NoneCommon c;
    ASSERT_EQ(c.parameters.parameters.size(), 1u);
    EXPECT_EQ(c.parameters.parameters[0], &c.trackVolume);
    EXPECT_EQ(c.parameters.find("detune"), nullptr);
    EXPECT_EQ(c.engineType, 0u);
    EXPECT_EQ(c.envSlots(), 0u);
    for (auto& place : c.exposedParameters) EXPECT_EQ(place.load(), nullptr);
    MonoGFX g;
    g.init(256, 64);
    c.drawOverview(g, 0, 0, 100, 10);
    EXPECT_GT(lit(g, 102, 10, 144, 17), 10);  // "no synth"
    EXPECT_GT(lit(g, 102, 20, 144, 27), 10);  // "edit+track"
}

}  // namespace
