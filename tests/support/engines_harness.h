// Plays the voice manager's part for engine tests and benchmarks: one track
// of eight voices of one engine, notes handed straight to a voice slot, the
// track block cleared and its channel rows rendered every block, fades on
// request. Also a sample-pool double that serves in-memory lists.
#pragma once

#include "dsp/AudioBlock.h"
#include "dsp/Utilities.h"
#include "samples/SamplePool.h"
#include "engines/SynthVoice.h"
#include "engines/SynthVoiceCommon.h"
#include "instrument/NoteEvent.h"
#include "parameters/ParameterInt.h"
#include "samples/AudioResource.h"
#include "samples/AudioSampleGroup.h"

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace enginetest {

// Installs itself as DSP::samplePool for its lifetime.
class TestSamplePool : public SamplePool {
public:
    TestSamplePool() { DSP::samplePool.store(this); }
    ~TestSamplePool() override { DSP::samplePool.store(nullptr); }

    AudioSampleGroupEntryPtr getGroupEntry(std::string_view list, int32_t step, uint32_t order) override {
        auto it = lists.find(std::string(list));
        if (it == lists.end() || it->second.empty()) return {};
        const int32_t count = int32_t(it->second.size());
        const int32_t i = playOrderIndex(step, count, order);
        return i >= 0 && i < count ? it->second[size_t(i)] : AudioSampleGroupEntryPtr{};
    }
    bool loadSample(const std::string& path) override { return resources.count(path) != 0; }
    std::shared_ptr<AudioResource> getResource(const std::string& sample) override {
        auto it = resources.find(sample);
        return it == resources.end() ? nullptr : it->second;
    }
    void registerListParameter(ParameterInt* parameter) override {
        registered.push_back(parameter);
        std::vector<std::string> names{"none"};
        for (const auto& [name, entries] : lists) names.push_back(name);
        parameter->setChoices(names, -1);
    }

    // A resource with the given channels, as if loaded from `name`.
    std::shared_ptr<AudioResource> addResource(const std::string& name, std::vector<std::vector<float>> channels,
                                               float sampleRate) {
        auto r = std::make_shared<AudioResource>(name);
        r->channels = std::move(channels);
        r->sampleRate = sampleRate;
        r->loaded = !r->channels.empty();
        resources[name] = r;
        return r;
    }
    AudioSampleGroupEntryPtr addEntry(const std::string& list, const std::string& sample, uint32_t frames,
                                      float sampleRate, float reference = 440.0f) {
        auto e = std::make_shared<AudioSampleGroupEntry>(sample, frames, sampleRate, reference);
        lists[list].push_back(e);
        return e;
    }

    std::map<std::string, AudioSampleGroupEntries> lists;
    std::map<std::string, std::shared_ptr<AudioResource>> resources;
    std::vector<ParameterInt*> registered;
};

template <class Voice>
class VoiceHarness {
public:
    static constexpr uint32_t kSlots = 8;

    explicit VoiceHarness(SynthVoiceCommon& engine, uint32_t track = 0)
        : common(engine), trackIndex(track), voices(std::make_unique<std::array<Voice, kSlots>>()) {
        settle();
    }

    // Smoothed parameters start from 0 and glide to their values.
    void settle(int blocks = 600) {
        for (int i = 0; i < blocks; ++i) common.updateBlock();
    }

    Voice& voice(uint32_t slot) { return (*voices)[slot]; }

    NoteEvent makeNote(float hz, float level = 1.0f, NoteType kind = NoteType::NoteOn) const {
        NoteEvent e;
        e.type = SynthVoice::kindWord(kind);
        e.engine = &common;
        e.track = trackIndex;
        e.frequency = hz;
        e.gain = level;
        return e;
    }
    // The slot after the last used one, in rotation over "polyphony".
    uint32_t nextSlot() {
        int32_t poly = common.polyphony.value;
        if (poly < 1) poly = 1;
        lastSlot = (lastSlot + 1) % uint32_t(poly);
        return lastSlot;
    }
    uint32_t play(NoteEvent e) { return playAt(e.type == SynthVoice::kindWord(NoteType::NoteSlide) ? lastSlot : nextSlot(), e); }
    uint32_t playAt(uint32_t slot, NoteEvent e) {
        e.voiceInTrack = slot;
        e.voice = trackIndex * kSlots + slot;
        voice(slot).noteOn(e);
        lastSlot = slot;
        return slot;
    }
    void fadeOut(uint32_t slot, uint32_t samples) {
        if (voice(slot).active) voice(slot).fadeOut(samples);
    }

    // One block: clear, preset the states, render the active voices.
    void renderBlock() {
        common.updateBlock();
        common.controlTick();
        block.clear();
        const int32_t poly = common.polyphony.value;
        for (uint32_t c = 0; c < kSlots; ++c)
            block.channelState[c] = int32_t(c) < poly ? ChannelState::Silent : ChannelState::Vacant;
        for (uint32_t c = 0; c < kSlots; ++c) {
            Voice& v = voice(c);
            if (!v.active) continue;
            block.channelState[c] = v.render(block.channel(c), AudioBlock::kFrames) ? ChannelState::Started
                                                                                    : ChannelState::Playing;
        }
    }
    // Renders `blocks` blocks and returns one channel row after another.
    std::vector<float> renderChannel(uint32_t slot, int blocks) {
        std::vector<float> out;
        out.reserve(size_t(blocks) * AudioBlock::kFrames);
        for (int b = 0; b < blocks; ++b) {
            renderBlock();
            const float* row = block.channel(slot);
            out.insert(out.end(), row, row + AudioBlock::kFrames);
        }
        return out;
    }

    SynthVoiceCommon& common;
    uint32_t trackIndex;
    std::unique_ptr<std::array<Voice, kSlots>> voices;
    AudioBlock block;
    uint32_t lastSlot = kSlots - 1;
};

}  // namespace enginetest
