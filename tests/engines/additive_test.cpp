// The additive engine: partial frequencies and levels by FFT, the cut at
// half the half rate, odd spacing, a voice's first note against its second,
// the voice's life and the spectrum picture.
#include "engines/additive/AdditiveCommon.h"
#include "engines/additive/AdditiveVoice.h"

#include "gui/MonoGFX.h"
#include "tests/engines/EngineMeasure.h"
#include "tests/support/engines_harness.h"

#include <gtest/gtest.h>

#include <complex>

using namespace enginemeasure;

namespace {

using Harness = enginetest::VoiceHarness<AdditiveVoice>;

void holdAll(AdditiveCommon& c) {
    for (uint32_t i = 0; i < 4; ++i) c.envHold[i].setValue(60000.0f, true);
}

// Four one-pole stages at cutoff fc.
double outputFilterGain(double hz, double fc) {
    const double a = std::exp(-2.0 * M_PI * fc / 48000.0);
    const std::complex<double> z = std::polar(1.0, -2.0 * M_PI * hz / 48000.0);
    return std::pow((1.0 - a) / std::abs(1.0 - a * z), 4.0);
}

long binOf(double hz) { return std::lround(hz * kFftSize / 48000.0); }

TEST(AdditiveVoice, DefaultsGiveHarmonicsFallingAsOneOverK) {
    AdditiveCommon c;
    holdAll(c);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(200.0f));
    const auto x = h.renderChannel(slot, 400);
    ASSERT_TRUE(allFinite(x.data(), x.size()));
    const auto p = power(x, 8192);
    const double f0 = 200.0, top = 32 * f0;
    const double base = linePower(p, f0);
    for (int k = 0; k < 32; ++k) {
        const double fk = f0 * (k + 1);
        long peak = binOf(fk) - 3;
        for (long b = binOf(fk) - 3; b <= binOf(fk) + 3; ++b)
            if (p[size_t(b)] > p[size_t(peak)]) peak = b;
        EXPECT_LE(std::labs(peak - binOf(fk)), 1) << "partial " << k + 1;
        const double expected = (1.0 / (k + 1)) * outputFilterGain(fk, top) / outputFilterGain(f0, top) *
                                std::cos(2 * M_PI * f0 / 48000.0) / std::cos(2 * M_PI * fk / 48000.0);
        EXPECT_NEAR(dB(linePower(p, fk) / base), 20.0 * std::log10(expected), 0.5) << "partial " << k + 1;
    }
}

TEST(AdditiveVoice, PartialsAtTenKilohertzAndAboveAreSilent) {
    AdditiveCommon c;
    holdAll(c);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(400.0f));
    const auto p = power(h.renderChannel(slot, 400), 8192);
    const double base = linePower(p, 400.0);
    double loudest = 0.0;
    for (long b = binOf(10000.0) + 8; b <= binOf(12800.0) + 8; ++b) loudest = std::max(loudest, p[size_t(b)]);
    EXPECT_LT(dB(loudest / base), -80.0);
    EXPECT_GT(dB(linePower(p, 9600.0) / base), -60.0);  // partial 24 still sounds
}

TEST(AdditiveVoice, OddSpaceTwoMovesTheOddPartials) {
    AdditiveCommon c;
    holdAll(c);
    c.oddSpace.setValue(200.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(200.0f));
    const auto p = power(h.renderChannel(slot, 400), 8192);
    const double base = linePower(p, 200.0);
    EXPECT_GT(dB(linePower(p, 1000.0) / base), -20.0);  // partial 3 at 5 f
    EXPECT_GT(dB(linePower(p, 1800.0) / base), -25.0);  // partial 5 at 9 f
    EXPECT_GT(dB(linePower(p, 800.0) / base), -20.0);   // partial 4 stays at 4 f
    EXPECT_LT(dB(linePower(p, 600.0) / base), -60.0);   // nothing left at 3 f
}

TEST(AdditiveVoice, FirstNoteOfAVoiceSoundsLikeItsSecond) {
    AdditiveCommon c;
    holdAll(c);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(200.0f));
    const auto first = h.renderChannel(slot, 300);
    h.playAt(slot, h.makeNote(200.0f));
    const auto second = h.renderChannel(slot, 300);
    const auto a = power(first, 5 * 64), b = power(second, 5 * 64);
    for (int k = 0; k < 32; ++k) {
        const double hz = 200.0 * (k + 1);
        EXPECT_NEAR(dB(linePower(a, hz) / linePower(b, hz)), 0.0, 0.5) << "partial " << k + 1;
    }
}

TEST(AdditiveVoice, SlideToANeverStartedVoiceEnds) {
    AdditiveCommon c;
    c.polyphony.setValue(2, true);
    Harness h(c);
    h.playAt(1, h.makeNote(220.0f, 1.0f, NoteType::NoteSlide));
    h.renderBlock();
    EXPECT_FALSE(h.voice(1).active);
    h.playAt(1, h.makeNote(220.0f));
    h.renderBlock();
    EXPECT_TRUE(h.voice(1).active);
    EXPECT_EQ(h.block.channelState[1], ChannelState::Started);
}

TEST(AdditiveVoice, GroupsAndScatter) {
    const uint32_t groups[] = {0, 1, 2, 1, 2, 3, 2, 1};  // partials 1..8
    for (uint32_t k = 0; k < 8; ++k) EXPECT_EQ(AdditiveVoice::groupOf(k), groups[k]) << k;
    AdditiveCommon c;
    c.scatter.setValue(1000.0f, true);
    Harness h(c);
    const uint32_t slot = h.play(h.makeNote(200.0f));
    int atOnce = 0;
    for (auto& e : h.voice(slot).envelopes) atOnce += e.delaySamples == 0 ? 1 : 0;
    EXPECT_GE(atOnce, 1);
    EXPECT_LT(atOnce, 4);
}

int litDots(const MonoGFX& g, int x, int y) {
    int n = 0;
    for (int yy = y + 10; yy <= y + 40; ++yy)
        for (int xx = x; xx <= x + 44; ++xx) n += g.pixel(xx, yy) == 15 ? 1 : 0;
    return n;
}

TEST(AdditiveCommon, OverviewPlotsOneDotPerPartial) {
    AdditiveCommon c;
    EXPECT_EQ(c.envSlotNames, (std::vector<std::string>{"env 1", "env 2", "env 3", "env 4"}));
    const int x = 100, y = 10;
    MonoGFX g;
    g.init(256, 64);
    c.drawOverview(g, 0, 0, x, y);
    EXPECT_EQ(litDots(g, x, y), 32);
    EXPECT_EQ(g.pixel(x, y + 10), 15u);       // partial 1 at 0 dB on the top line
    EXPECT_EQ(g.pixel(x + 1, y + 10 + 1), 15u);  // partial 2: -6 dB, one row down

    c.oddSpace.setValue(200.0f, true);
    c.evenSpace.setValue(200.0f, true);
    MonoGFX wide;
    wide.init(256, 64);
    c.drawOverview(wide, 0, 0, x, y);
    EXPECT_EQ(litDots(wide, x, y), 23);  // columns 0, 2, .. 44

    c.partials.setValue(1, true);
    MonoGFX one;
    one.init(256, 64);
    c.drawOverview(one, 0, 0, x, y);
    EXPECT_EQ(litDots(one, x, y), 1);
}

}  // namespace

#include "instrument/MainClock.h"
#include "instrument/track/Track.h"

namespace {

TEST(AdditiveCommon, TrackSetupWarmsTheSmoothedValuesUpFiveBlocks) {
    MainClock clock;
    auto track = std::make_unique<Track>(2, &clock);
    track->setup();
    AdditiveCommon reference;
    for (int i = 0; i < 5; ++i) reference.updateBlock();
    for (Parameter* p : {static_cast<Parameter*>(&reference.oddSpace), static_cast<Parameter*>(&reference.comb)}) {
        Parameter* q = track->additiveCommon.parameters.find(p->name);
        ASSERT_NE(q, nullptr) << p->name;
        EXPECT_GT(p->getModulated(0, false, false), 0.1f) << p->name;
        EXPECT_EQ(q->getModulated(0, false, false), p->getModulated(0, false, false)) << p->name;
    }
}

}  // namespace
