// The voice manager with the subtractive engine (and a tone voice where a
// second engine type is needed), stepped block by block and measured.
#include "engines/quad/QuadEngineCommon.h"
#include "tests/instrument/VoiceRig.h"

#include "dsp/Random.h"
#include "gui/MonoGFX.h"
#include "instrument/track/Track.h"
#include "platform/Paths.h"
#include "samples/DiskRecorder.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <regex>

namespace DSP {
extern Random random;
}  // namespace DSP

namespace {

using voicetest::Rig;
using voicetest::ToneCommon;
using voicetest::ToneVoice;

// First frame whose magnitude exceeds the threshold, or -1.
long onset(const std::vector<float>& x, float threshold = 1e-7f) {
    for (size_t i = 0; i < x.size(); ++i)
        if (std::fabs(x[i]) > threshold) return long(i);
    return -1;
}

bool allFinite(const Rig& rig) {
    for (const auto& b : rig.outs)
        for (float s : b)
            if (!std::isfinite(s)) return false;
    return true;
}

// ---- scheduling

TEST(VoiceScheduling, NoteStartsExactlyAtItsDueFrame) {
    for (uint32_t delay : {0u, 63u, 64u, 200u, 640u}) {
        Rig rig;
        ASSERT_TRUE(rig.vm->scheduleNote(rig.note(0, 440.0f, delay)));
        rig.blocks(20);
        // Due (delay + 256) frames later, truncated to a whole block.
        const long due = long((delay + 256) & ~63u);
        EXPECT_EQ(onset(rig.channel(0)), due) << "delay " << delay;
        EXPECT_TRUE(allFinite(rig));
    }
}

TEST(VoiceScheduling, TableHoldsThirtyTwoNotesAndRefusesBadOnes) {
    Rig rig;
    for (int i = 0; i < 32; ++i) EXPECT_TRUE(rig.vm->scheduleNote(rig.note(0, 100.0f + i, 64)));
    EXPECT_FALSE(rig.vm->scheduleNote(rig.note(0, 99.0f)));
    EXPECT_EQ(rig.vm->overflowCount(), 1u);

    Rig fresh;
    NoteEvent skip = fresh.note(0, 100.0f, 0, NoteType::Skip);
    NoteEvent noQueue = fresh.note(0, 100.0f);
    noQueue.flags = 0x301;  // low byte set: not to be queued
    NoteEvent badTrack = fresh.note(0, 100.0f);
    badTrack.track = 5;
    EXPECT_FALSE(fresh.vm->scheduleNote(skip));
    EXPECT_FALSE(fresh.vm->scheduleNote(noQueue));
    EXPECT_FALSE(fresh.vm->scheduleNote(badTrack));
    // A negative delay passed as unsigned starts at once, a wrapping
    // countdown never takes over the caller's voice index.
    NoteEvent negative = fresh.note(1, 300.0f, uint32_t(-5));
    negative.voice = 9999;
    EXPECT_TRUE(fresh.vm->scheduleNote(negative));
    fresh.blocks(8);
    EXPECT_EQ(onset(fresh.channel(0)), 256);  // track 2, voice 0
}

TEST(VoiceScheduling, PolyphonyRotatesVoicesAndIsClamped) {
    Rig rig;
    rig.tracks[0].subtractive.polyphony.setValue(3, true);
    std::vector<int32_t> taken;
    for (int n = 0; n < 5; ++n) {
        ASSERT_TRUE(rig.vm->scheduleNote(rig.note(0, 220.0f)));
        rig.blocks(5);
        taken.push_back(rig.vm->nextVoice(0));
    }
    EXPECT_EQ(taken, (std::vector<int32_t>{1, 2, 0, 1, 2}));
    // The fourth note reused voice 1: it was faded before starting again.
    SynthVoice* v1 = rig.vm->voice(EngineSubtractive, 1);
    ASSERT_NE(v1, nullptr);
    EXPECT_TRUE(v1->active);

    // A slot holding polyphony 0 (a damaged file) plays as polyphony 1.
    rig.tracks[1].subtractive.polyphony.setMin(0);
    rig.tracks[1].subtractive.polyphony.setValue(0, false);
    ASSERT_TRUE(rig.vm->scheduleNote(rig.note(1, 220.0f)));
    rig.blocks(5);
    EXPECT_EQ(rig.vm->nextVoice(1), 0);

    // Quad lanes: lane 2 with unison index 1 takes voice 5; a lane past 3 is masked.
    QuadEngineCommon quad;
    for (uint32_t lane : {2u, 6u}) {
        NoteEvent e = rig.note(2, 220.0f, 0, NoteType::NoteOn, &quad);
        e.lane = lane;
        e.unisonIndex = 1;
        ASSERT_TRUE(rig.vm->scheduleNote(e));
        rig.blocks(5);
        EXPECT_EQ(rig.vm->nextVoice(2), 5) << "lane " << lane;
    }
}

TEST(VoiceScheduling, LoweringPolyphonyKeepsTheMostRecentVoices) {
    Rig rig;
    rig.vm->installPool(EngineFM, std::make_unique<VoicePoolOf<ToneVoice>>());
    ToneCommon fm(EngineFM);
    fm.polyphony.setValue(8, true);
    for (int n = 0; n < 6; ++n) {
        ASSERT_TRUE(rig.vm->scheduleNote(rig.note(0, 200.0f + 50.0f * n, 0, NoteType::NoteOn, &fm)));
        rig.blocks(1);
    }
    rig.blocks(6);
    fm.polyphony.setValue(2, true);
    rig.blocks(1);
    // Voices 1..6 were started; 5 and 6 are the two most recent.
    for (uint32_t v = 1; v <= 6; ++v) {
        auto* tone = static_cast<ToneVoice*>(rig.vm->voice(EngineFM, v));
        EXPECT_EQ(tone->fadeStep > 0.0f, v < 5) << "voice " << v;
        if (v < 5) {
            EXPECT_NEAR(tone->fadeStep, 0.8f / 1024.0f, 1e-6f);
        }
    }
}

TEST(VoiceScheduling, EachVoiceRendersOncePerBlock) {
    // At start the previous engine equals the current one: no second pass.
    Rig rig;
    rig.vm->installPool(EngineFM, std::make_unique<VoicePoolOf<ToneVoice>>());
    ToneCommon fm(EngineFM);
    ASSERT_TRUE(rig.vm->scheduleNote(rig.note(3, 440.0f, 0, NoteType::NoteOn, &fm)));
    rig.blocks(14);
    auto* tone = static_cast<ToneVoice*>(rig.vm->voice(EngineFM, 3 * 8 + 0));
    EXPECT_EQ(tone->renders, 10u);
}

TEST(VoiceScheduling, EngineSwitchFadesTheOldVoicesWhileTheNewNoteSounds) {
    Rig rig;
    rig.vm->installPool(EngineFM, std::make_unique<VoicePoolOf<ToneVoice>>());
    ToneCommon fm(EngineFM);
    SubtractiveCommon& sub = rig.tracks[0].subtractive;
    ASSERT_TRUE(rig.vm->scheduleNote(rig.note(0, 1000.0f, 0, NoteType::NoteOn, &fm)));
    rig.blocks(10);
    auto* old = static_cast<ToneVoice*>(rig.vm->voice(EngineFM, 0));
    ASSERT_TRUE(old->active);
    const uint32_t rendersBefore = old->renders;

    ASSERT_TRUE(rig.vm->scheduleNote(rig.note(0, 220.0f, 0, NoteType::NoteOn, &sub)));
    rig.blocks(1);  // the preparing step hands the track over
    EXPECT_EQ(rig.vm->currentEngine(0), &sub);
    EXPECT_NEAR(old->fadeStep, 0.8f / 256.0f, 1e-6f);
    rig.blocks(3);
    EXPECT_FALSE(old->active);  // faded out over its 256 samples
    EXPECT_EQ(old->renders - rendersBefore, 4u);

    // Both notes on voice 0 of the track: the new engine is heard from its first block.
    const size_t start = rig.outs.size();
    rig.blocks(2);
    const std::vector<float> ch0 = rig.channel(0);
    EXPECT_EQ(onset(std::vector<float>(ch0.begin() + long(start) * 64, ch0.end())), 0);
    EXPECT_TRUE(rig.vm->voice(EngineSubtractive, 0)->active);
}

TEST(VoiceScheduling, StealingAFullTrackFadesWithoutAClick) {
    Rig rig;
    SubtractiveCommon& sub = rig.tracks[0].subtractive;
    sub.polyphony.setValue(1, true);
    for (int i = 0; i < 3; ++i) sub.envHold[i].setValue(60000.0f, true);
    rig.settle(50);
    for (int n = 0; n < 6; ++n) {
        ASSERT_TRUE(rig.vm->scheduleNote(rig.note(0, n % 2 ? 330.0f : 220.0f)));
        rig.blocks(24);
    }
    const std::vector<float> x = rig.channel(0);
    // Largest step between neighbouring samples: in steady tone vs anywhere.
    float steady = 0.0f, worst = 0.0f;
    for (size_t i = 1; i < x.size(); ++i) {
        const float d = std::fabs(x[i] - x[i - 1]);
        worst = std::max(worst, d);
        if (i % (24 * 64) > 12 * 64) steady = std::max(steady, d);
    }
    ASSERT_GT(steady, 0.0f);
    EXPECT_LT(worst, 1.5f * steady) << "a steal clicks";
    EXPECT_TRUE(allFinite(rig));
}

TEST(VoiceScheduling, ABusyTrackIsSilentUntilItIsFree) {
    Rig rig;
    ASSERT_TRUE(rig.vm->scheduleNote(rig.note(3, 440.0f)));
    rig.blocks(6);
    rig.tracks[3].busy = true;
    rig.blocks(3);
    rig.tracks[3].busy = false;
    rig.blocks(3);
    auto level = [&](size_t b) {
        float peak = 0.0f;
        for (uint32_t i = 0; i < 64; ++i) peak = std::max(peak, std::fabs(rig.outs[b][i]));
        return peak;
    };
    EXPECT_GT(level(5), 0.0f);
    for (size_t b = 6; b < 9; ++b) EXPECT_EQ(level(b), 0.0f) << b;
    EXPECT_GT(level(10), 0.0f);
}

TEST(VoiceScheduling, NoteOnAnEngineOfNoTypeWarnsAndStaysSilent) {
    Rig rig;
    ToneCommon none(EngineNone);
    ASSERT_TRUE(rig.vm->scheduleNote(rig.note(4, 440.0f, 0, NoteType::NoteOn, &none)));
    rig.blocks(8);
    EXPECT_EQ(onset(rig.channel(0)), -1);
    EXPECT_TRUE(allFinite(rig));
}

// ---- the signal path

float sine(uint64_t frame, float hz, float level) { return level * std::sin(2.0f * float(M_PI) * hz * float(frame) / 48000.0f); }

TEST(VoiceSignalPath, InputsReachTheirOutputsWithTheirGains) {
    Rig rig;
    rig.vm->inToOut1.setValue(1, true);
    rig.vm->inToOut2.setValue(3, true);
    rig.vm->inToOut3.setValue(6, true);
    rig.vm->inToOut4.setValue(8, true);
    rig.vm->inGain2.setValue(6.0f, true);
    rig.vm->inGain4.setValue(-64.0f, true);
    const float hz[4] = {100.0f, 200.0f, 300.0f, 400.0f};
    // Input k is platform channel 4 - k.
    auto input = [&](uint32_t c, uint64_t f) { return c < 4 ? sine(f, hz[3 - c], 0.25f) : 0.0f; };
    for (int b = 0; b < 4; ++b) rig.block(input);
    const float g2 = std::pow(10.0f, 6.0f / 20.0f), g4 = std::pow(10.0f, -64.0f / 20.0f);
    const struct { uint32_t out, input; float gain; } routes[] = {{0, 1, 1.0f}, {2, 2, g2}, {5, 3, 1.0f}, {7, 4, g4}};
    for (const auto& r : routes) {
        const std::vector<float> x = rig.channel(r.out);
        for (size_t i = 0; i < x.size(); ++i)
            ASSERT_NEAR(x[i], sine(i, hz[r.input - 1], 0.25f) * r.gain, 1e-5f) << "out " << r.out << " frame " << i;
    }
}

TEST(VoiceSignalPath, InputIntoATrackIsAQuarterInsideAndWholeOutside) {
    Rig rig;
    rig.tracks[1].routes[0].setValue(2, true);  // in 1 -> channel 2 of track 2
    rig.tracks[1].subtractive.auxSend.setValue(-96.0f, true);
    rig.settle();
    std::vector<float> recorded;
    voicetest::CaptureRecorder rec(testsupport::tempDir() + "/");
    rig.vm->setRecorder(&rec);
    std::string path = "/dev/null/never";  // not generated; the double does not write
    rec.refuse = false;
    ASSERT_TRUE(rig.vm->startRecording(path, 2, 0, 2, 1));
    auto input = [](uint32_t c, uint64_t f) { return c == 3 ? sine(f, 500.0f, 0.5f) : 0.0f; };
    for (int b = 0; b < 4; ++b) rig.block(input);
    const std::vector<float> tap = rec.captured();  // channels 1 and 2 of the track block
    const std::vector<float> out = rig.channel(1);
    ASSERT_EQ(tap.size(), 4u * 64u * 2u);
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_NEAR(tap[i * 2 + 1], sine(i, 500.0f, 0.5f) / 4.0f, 1e-6f);
        EXPECT_NEAR(out[i], sine(i, 500.0f, 0.5f), 1e-4f);
    }
}

TEST(VoiceSignalPath, InputsMissingFromTheContextAreSilence) {
    Rig rig(2);  // only platform channels 0 and 1: inputs 4 and 3
    rig.vm->inToOut1.setValue(1, true);
    rig.vm->inToOut4.setValue(2, true);
    rig.tracks[0].routes[1].setValue(3, true);
    auto input = [](uint32_t c, uint64_t f) { return c == 0 ? 0.5f : std::nanf(""); };
    for (int b = 0; b < 3; ++b) rig.block(input);
    EXPECT_EQ(onset(rig.channel(0)), -1);
    EXPECT_NEAR(rig.channel(1)[100], 0.5f, 1e-6f);
    // Input 3 (platform channel 1) carries NaN: it never reaches an output.
    rig.vm->inToOut3.setValue(4, true);
    for (int b = 0; b < 3; ++b) rig.block(input);
    EXPECT_TRUE(allFinite(rig));
}

TEST(VoiceSignalPath, SendsFoldIntoAnOutputPairOrThroughTrackFive) {
    Rig rig;
    rig.vm->inToOut1.setValue(0, true);
    for (auto& d : rig.tracks) d.subtractive.trackVolume.setValue(-96.0f, true);
    rig.tracks[0].subtractive.trackVolume.setValue(0.0f, true);
    rig.tracks[0].routes[0].setValue(3, true);  // in 1 -> channel 3 (even index 2)
    rig.tracks[0].routes[1].setValue(4, true);  // in 2 -> channel 4 (odd index 3)
    rig.settle();
    rig.vm->sendRouting.setValue(2, true);  // output 3+4
    auto input = [](uint32_t c, uint64_t) { return c == 3 ? 0.25f : c == 2 ? -0.125f : 0.0f; };
    rig.block(input);
    rig.block(input);
    // Even channels fold into output 3, odd into output 4, at gain 1.0 (aux send 0 dB),
    // on top of the track's own mix (x4) into outputs 3 and 4.
    EXPECT_NEAR(rig.outs.back()[2 * 64 + 10], 0.25f / 4 * 4 + 0.25f / 4, 1e-5f);
    EXPECT_NEAR(rig.outs.back()[3 * 64 + 10], -0.125f / 4 * 4 - 0.125f / 4, 1e-5f);

    // "track 5": the sends pass track 5's volume before the mix.
    rig.vm->sendRouting.setValue(0, true);
    rig.tracks[4].subtractive.trackVolume.setValue(-6.0f, true);
    rig.settle();
    rig.block(input);
    const float v5 = std::pow(10.0f, -6.0f / 20.0f);
    EXPECT_NEAR(rig.outs.back()[2 * 64 + 10], 0.25f + 0.25f / 4 * v5 * 4, 1e-4f);
}

TEST(VoiceSignalPath, MasterChainLimitsTheMix) {
    Rig rig;
    rig.vm->resetOutputFX();
    ASSERT_EQ(rig.vm->masterChain.effectCount(), 1u);
    rig.vm->inToOut1.setValue(1, true);
    rig.vm->inGain1.setValue(24.0f, true);
    auto input = [](uint32_t c, uint64_t f) { return c == 3 ? sine(f, 200.0f, 0.9f) : 0.0f; };
    for (int b = 0; b < 200; ++b) rig.block(input);
    float peak = 0.0f;
    const std::vector<float> x = rig.channel(0);
    for (size_t i = x.size() - 4800; i < x.size(); ++i) peak = std::max(peak, std::fabs(x[i]));
    EXPECT_GT(peak, 0.1f);
    EXPECT_LT(peak, 0.9f * std::pow(10.0f, 24.0f / 20.0f) * 0.5f);
}

TEST(VoiceSignalPath, GatesFollowNotesForOneToEightBlocks) {
    for (float volume : {-96.0f, 0.0f}) {
        Rig rig;
        rig.tracks[2].subtractive.trackVolume.setValue(volume, true);
        ASSERT_TRUE(rig.vm->scheduleNote(rig.note(2, 440.0f)));
        rig.blocks(16);
        std::vector<uint32_t> gate;
        for (const auto& g : rig.gateHistory) gate.push_back(g[2]);
        // Started in block 4; the gate rises with the block after it.
        const uint32_t length = volume < 0.0f ? 1 : 8;
        for (uint32_t b = 0; b < gate.size(); ++b)
            EXPECT_EQ(gate[b], b >= 5 && b < 5 + length ? 1u : 0u) << "volume " << volume << " block " << b;
        for (const auto& g : rig.gateHistory) EXPECT_EQ(g[0] + g[1] + g[3] + g[4], 0u);
    }
}

// ---- recording

TEST(VoiceRecording, TapsDeliverExactlyTheFramesPlayed) {
    const std::string folder = testsupport::tempDir() + "/";
    Rig rig;
    voicetest::CaptureRecorder rec(folder);
    rig.vm->setRecorder(&rec);
    rig.vm->inToOut2.setValue(2, true);
    ASSERT_TRUE(rig.vm->scheduleNote(rig.note(0, 330.0f)));
    auto input = [](uint32_t c, uint64_t f) { return c == 2 ? sine(f, 700.0f, 0.3f) : c == 1 ? 0.1f : 0.0f; };
    rig.blocks(2);

    std::string path;
    ASSERT_TRUE(rig.vm->startRecording(path, 3, 0, 2, 0));  // OUT12
    const size_t first = rig.outs.size();
    for (int b = 0; b < 20; ++b) rig.block(input);
    rig.vm->stopRecording();
    rig.blocks(2);
    const std::vector<float> tap = rec.captured();
    ASSERT_EQ(tap.size(), 20u * 64u * 2u);
    for (size_t b = 0; b < 20; ++b)
        for (uint32_t f = 0; f < 64; ++f)
            for (uint32_t c = 0; c < 2; ++c) ASSERT_EQ(tap[(b * 64 + f) * 2 + c], rig.outs[first + b][c * 64 + f]);

    // Inputs 2 and 3 (platform channels 2 and 1) with their gains.
    rig.vm->inGain3.setValue(-6.0f, true);
    path.clear();
    ASSERT_TRUE(rig.vm->startRecording(path, 1, 1, 2, 0));
    const uint64_t start = rig.frame;
    for (int b = 0; b < 5; ++b) rig.block(input);
    rig.vm->stopRecording();
    std::vector<float> in = rec.captured();
    ASSERT_EQ(in.size(), tap.size() + 5u * 64u * 2u);
    in.erase(in.begin(), in.begin() + long(tap.size()));
    const float g3 = std::pow(10.0f, -6.0f / 20.0f);
    for (size_t i = 0; i < 5 * 64; ++i) {
        EXPECT_FLOAT_EQ(in[i * 2], sine(start + i, 700.0f, 0.3f));
        EXPECT_FLOAT_EQ(in[i * 2 + 1], 0.1f * g3);
    }
}

// The audio thread may run a block while the disk recorder starts: nothing
// it hands over is lost to the start, and the file holds every block handed over.
TEST(VoiceRecording, ABlockRunDuringTheStartIsNotLostToIt) {
    static int runs = 0;  // a root of each run's own: repeats find no take of the one before
    ASSERT_TRUE(host::setRoot(testsupport::tempDir() + "start-race-" + std::to_string(++runs)));
    DiskRecorder disk;
    ASSERT_TRUE(disk.setup(false));
    struct Racing : AudioRecorder {
        explicit Racing(DiskRecorder& d) : disk(d) {}
        bool start(const std::string& path, uint32_t channels) override {
            if (during) during();
            return disk.start(path, channels);
        }
        void stop() override { disk.stop(); }
        std::string fullPath(const std::string& path) const override { return disk.fullPath(path); }
        void pushInterleaved(const float* frames, uint32_t channels) override {
            ++handed;
            disk.pushInterleaved(frames, channels);
        }
        void pushBlock(const float* samples, uint32_t first, uint32_t channels) override {
            ++handed;
            disk.pushBlock(samples, first, channels);
        }
        bool isRecording() const override { return disk.isRecording(); }
        bool isFileOpen() const override { return disk.isFileOpen(); }
        float level(uint32_t channel) const override { return disk.level(channel); }
        uint32_t blocksPushed() const override { return disk.blocksPushed(); }

        DiskRecorder& disk;
        std::function<void()> during;
        uint32_t handed = 0;
    } rec(disk);
    Rig rig;
    rig.vm->setRecorder(&rec);
    rec.during = [&] { rig.block(); };
    std::string path = "race.wav";
    ASSERT_TRUE(rig.vm->startRecording(path, 2, 0, 2, 0));  // track 1
    rec.during = nullptr;
    rig.blocks(10);
    rig.vm->stopRecording();
    disk.drain();
    ASSERT_FALSE(disk.isFileOpen());
    EXPECT_GE(rec.handed, 10u);
    EXPECT_EQ(testsupport::shellOutput("soxi -s '" + disk.fullPath(path) + "' 2>&1"),
              std::to_string(rec.handed * 64) + "\n");
}

TEST(VoiceRecording, NamesFilesAndSetsTheTapOnlyWhileRecording) {
    const std::string folder = testsupport::tempDir() + "/";
    Rig rig;
    voicetest::CaptureRecorder rec(folder);
    rig.vm->setRecorder(&rec);

    // The first name the generator makes exists where the recorder writes.
    DSP::random.seed(12345);
    std::string taken;
    ASSERT_TRUE(rig.vm->startRecording(taken, 2, 0, 2, 2));
    EXPECT_TRUE(std::regex_match(taken, std::regex("TRK3-[A-Za-z0-9]{8}\\.wav"))) << taken;
    EXPECT_EQ(rig.vm->recordingName(), "TRK3");
    // A second start while recording is refused.
    std::string other;
    EXPECT_FALSE(rig.vm->startRecording(other, 3, 0, 2, 0));
    rig.vm->stopRecording();
    std::ofstream(folder + taken) << "x";
    DSP::random.seed(12345);
    std::string next;
    ASSERT_TRUE(rig.vm->startRecording(next, 2, 0, 2, 2));
    EXPECT_NE(next, taken);
    rig.vm->stopRecording();

    // A refused start leaves nothing tapped.
    rec.refuse = true;
    std::string path;
    EXPECT_FALSE(rig.vm->startRecording(path, 3, 0, 2, 0));
    rig.blocks(3);
    EXPECT_EQ(rec.pushes.load(), 0u);
    // Inputs past the fourth are never read.
    rec.refuse = false;
    path.clear();
    ASSERT_TRUE(rig.vm->startRecording(path, 1, 3, 2, 0));
    EXPECT_EQ(rig.vm->recordingName(), "IN45");
    rig.blocks(3);
    EXPECT_EQ(rec.pushes.load(), 0u);
    rig.vm->stopRecording();
    // A one-channel output recording gets one-channel blocks.
    path.clear();
    ASSERT_TRUE(rig.vm->startRecording(path, 3, 0, 1, 0));
    rig.blocks(1);
    EXPECT_EQ(rec.pushedChannels.load(), 1u);
    rig.vm->stopRecording();
}

TEST(VoiceRecording, OverlayDrawsBarsAndTime) {
    Rig rig;
    voicetest::CaptureRecorder rec(testsupport::tempDir() + "/");
    rig.vm->setRecorder(&rec);
    MonoGFX gfx;
    gfx.init(256, 64);
    rig.vm->drawRecordingOverlay(gfx);  // nothing recording: nothing drawn
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) ASSERT_EQ(gfx.pixel(x, y), 0u);

    std::string path;
    ASSERT_TRUE(rig.vm->startRecording(path, 3, 0, 2, 0));
    rec.levels[0] = 1.0f;   // 0 dB: 20 pixels
    rec.levels[1] = 0.1f;   // -20 dB: 8 pixels in colour 8
    rec.blocks = 45000;
    rig.vm->drawRecordingOverlay(gfx);
    // x0 = 255 - (w + 50) and the meter starts at x0 + w + 4, whatever the name.
    const int x1 = 209;
    EXPECT_EQ(gfx.pixel(x1 + 16, 9), 4u);  // a scale line the short bar leaves free
    EXPECT_NE(gfx.pixel(x1 + 19, 4), 0u);  // channel 1 bar, rows 3..7, 20 long
    EXPECT_EQ(gfx.pixel(x1 + 8, 9), 8u);   // channel 2 bar, rows 7..11, 8 long
    EXPECT_EQ(gfx.pixel(x1 + 12, 9), 0u);
    rig.vm->stopRecording();
}

}  // namespace

namespace {

TEST(VoiceOutputPage, ClosesOnlyWhileTheMasterChainIsAtRestAndDrawsItsCells) {
    Rig rig;
    rig.vm->resetOutputFX();
    rig.vm->open();
    EXPECT_TRUE(rig.vm->isOpen());
    rig.vm->masterChain.mode.store(EffectChain::ChoosingPosition);
    EXPECT_FALSE(rig.vm->close());
    rig.vm->masterChain.mode.store(EffectChain::Idle);
    EXPECT_TRUE(rig.vm->close());
    EXPECT_FALSE(rig.vm->isOpen());

    for (int i = 0; i < 8; ++i) rig.vm->encoder(18, 1, false);  // the limiter's "release"
    EXPECT_EQ(rig.vm->selectedEffect(), 0u);
    MonoGFX gfx;
    gfx.init(256, 64);
    rig.vm->draw(gfx);
    auto lit = [&](int x0, int y0, int x1, int y1) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (gfx.pixel(x, y)) return true;
        return false;
    };
    EXPECT_TRUE(lit(0, 0, 50, 8));           // "output FX"
    EXPECT_TRUE(lit(67, 44, 67 + 47, 63));   // cell 8: the limiter's first parameter
    EXPECT_EQ(gfx.pixel(67 + 2 * 47 + 2, 46), 2u);  // cell 10 lit: its encoder was turned last
}

}  // namespace

namespace {

TEST(VoiceManagerGlobal, HoldsTheTracksEnginesFromTheStart) {
    for (uint32_t t = 0; t < VoiceManager::kTracks; ++t)
        EXPECT_EQ(DSP::voiceManager.currentEngine(t), DSP::track[t].currentEngine()) << t;
    EXPECT_EQ(DSP::voiceManager.masterChain.effectCount(), 1u);  // the limiter
}

}  // namespace
