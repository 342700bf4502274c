// Engine switches and part-like reloads of a track from another thread
// while the audio thread runs the track's per-block work.
#include "tests/support/realtime_stepped.h"
#include "tests/support/wait.h"
#include "instrument/MainClock.h"
#include "instrument/track/Track.h"
#include "platform/Audio.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

struct NoteCounter : NoteScheduler {
    std::atomic<long> notes{0};
    bool scheduleNote(NoteEvent) override {
        notes.fetch_add(1);
        return true;
    }
};

struct Shared {
    MainClock clock;
    NoteCounter counter;
    std::unique_ptr<Track> track;
    std::atomic<long> blocks{0};
    std::atomic<bool> badEngine{false};
    std::atomic<bool> audioSwitches{true};
};
Shared* gShared = nullptr;

void trackRender(BelaContext*, void*) {
    Shared& s = *gShared;
    Track& t = *s.track;
    const long n = s.blocks.load();
    t.blockUpdate();
    if (n % 5 == t.index)
        t.engineTick();
    SynthVoiceCommon* e = t.currentEngine();
    const auto held = t.engines();
    if (std::find(held.begin(), held.end(), e) == held.end())
        s.badEngine = true;
    t.midiIn({uint32_t(MIDIMsgType::NoteOn), 0, uint32_t(40 + n % 40), 100});
    t.encoder(16 + int(n % 12), n % 2 ? 1 : -1, false);
    // The settings page switches the engine on the audio thread too.
    if (n % 97 == 0 && s.audioSwitches.load())
        t.synthesis.setValue(int32_t(n / 97) % 2, false);
    s.blocks.fetch_add(1);
}

}  // namespace

TEST(TrackThreaded, EngineSwitchesAndReloadsWhileTheAudioThreadRunsTheTrack) {
    Shared shared;
    shared.track = std::make_unique<Track>(0, &shared.clock);
    shared.track->setNoteScheduler(&shared.counter);
    shared.track->setup();
    shared.track->midiNoteIn.setValue(1, false);
    shared.track->configureMidiFilter();
    gShared = &shared;
    ASSERT_TRUE(testsupport::startStepped(trackRender, "track-root"));
    testsupport::SteppingAudio audio;
    Track& t = *shared.track;

    testing::internal::CaptureStdout();
    for (int round = 0; round < 300; ++round) {
        const long seen = shared.blocks.load();
        switch (round % 4) {
        case 0:  // the synthesis section of a part file
            t.synthesis.setValue(round % 8 == 0 ? 1 : 0, false);
            t.applySynthesis();
            break;
        case 1:  // a part load from scratch
            t.resetSynthesis(round % 3 == 0);
            break;
        case 2: {
            Track::BusySection loading(t);
            t.sequencerImpl.group.resetToDefaults();
            t.currentEngine()->parameters.resetToDefaults();
            t.refreshSlotChoices();
            break;
        }
        case 3:  // the settings page's apply callback, while notes arrive
            t.midiInLowest.setValue(round % 7, false);
            t.configureMidiFilter();
            [[fallthrough]];
        default:  // the interface task's run
            t.serviceRequests();
            t.resetEffects(round % 2 == 1);
            break;
        }
        // Let the audio thread run a little between rounds.
        ASSERT_TRUE(testsupport::waitUntil([&] { return shared.blocks.load() >= seen + 3; }));
    }
    // The final choice holds once the audio thread has seen it.
    shared.audioSwitches = false;
    const long switchesOff = shared.blocks.load();
    ASSERT_TRUE(testsupport::waitUntil([&] { return shared.blocks.load() >= switchesOff + 2; }));
    t.synthesis.setValue(1, false);
    t.applySynthesis();
    const long last = shared.blocks.load();
    ASSERT_TRUE(testsupport::waitUntil([&] { return shared.blocks.load() >= last + 200; }));
    audio.stop();
    testing::internal::GetCapturedStdout();
    Bela_cleanupAudio();
    gShared = nullptr;
    t.serviceRequests();
    EXPECT_GT(shared.blocks.load(), last + 100);
    EXPECT_FALSE(shared.badEngine.load());
    EXPECT_FALSE(t.isBusy());
    EXPECT_GT(shared.counter.notes.load(), 0);
    EXPECT_EQ(t.synthesis.toString(), t.engineName);
    EXPECT_EQ(t.currentEngine()->engineType, 4u);
    EXPECT_EQ(t.slot.choiceCount(), 3u);
}

namespace {

void learntRender(BelaContext*, void*) {
    Shared& s = *gShared;
    Track& t = *s.track;
    t.blockUpdate();
    t.midiIn({uint32_t(MIDIMsgType::ControlChange), 0, 21, 127});
    t.midiIn({uint32_t(MIDIMsgType::ControlChange), 0, 22, 127});
    s.blocks.fetch_add(1);
}

}  // namespace

TEST(TrackThreaded, LearntEffectAndModulatorControlsWhileTheChainAndModulatorsChange) {
    Shared shared;
    shared.track = std::make_unique<Track>(0, &shared.clock);
    shared.track->setup();
    gShared = &shared;
    ASSERT_TRUE(testsupport::startStepped(learntRender, "learnt-root"));
    testsupport::SteppingAudio audio;
    Track& t = *shared.track;
    ParameterFloat& cutoff = t.subtractiveCommon.filtFreq;

    testing::internal::CaptureStdout();
    std::shared_ptr<Modulator> lfo;
    for (int round = 0; round <= 200; ++round) {
        if (round % 2 == 0) {
            ASSERT_TRUE(t.effectChain.insertEffect(AudioEffectType::Filter, 0));
            ASSERT_TRUE(t.effectChain.getEffect(0)->group.addMidiMapping({0, 21, -1}, "freq"));
            lfo = t.modulation.addModulatorTo("LFO", cutoff);
            ASSERT_TRUE(lfo && lfo->parameterGroup.addMidiMapping({0, 22, -1}, "amount"));
        } else {
            ASSERT_TRUE(t.effectChain.removeEffect(0));
            std::shared_ptr<Modulator> m = cutoff.removeModulator(0);
            t.modulation.removeModulator(m);
            lfo.reset();
        }
        // Counted from here: the block under way may have taken its controller
        // messages before the last mapping was made.
        const long seen = shared.blocks.load();
        ASSERT_TRUE(testsupport::waitUntil([&] { return shared.blocks.load() >= seen + 2; }));
    }
    audio.stop();
    testing::internal::GetCapturedStdout();
    Bela_cleanupAudio();
    gShared = nullptr;
    // The last ones answered their controllers.
    EXPECT_FLOAT_EQ(t.effectChain.getEffect(0)->group.find("freq")->getNormalised(), 1.0f);
    EXPECT_FLOAT_EQ(lfo->amount.getNormalised(), 1.0f);
}
