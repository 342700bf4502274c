// The voice manager: owns every sounding voice (seven pools of forty), queues
// the tracks' notes until they are due, renders each track's voices through
// its effect chain into the mix with the sends and the audio inputs, runs the
// master output chain ("output FX", also this object's page) and feeds the
// recording taps. It also answers the granular voices' grain look-ups.
//
// Threads: scheduleNote and processBlock run on the audio thread; the page's
// encoder and button handlers too, its draw and the recording overlay on the
// interface task; startRecording and stopRecording on their caller's thread.
#pragma once

#include "dsp/AudioBlock.h"
#include "effects/EffectChain.h"
#include "gui/GuiEditor.h"
#include "instrument/NoteEvent.h"
#include "instrument/voices/GrainLookup.h"
#include "instrument/voices/RecordingTap.h"
#include "instrument/voices/VoicePool.h"
#include "parameters/ParameterFloat.h"
#include "parameters/ParameterInt.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

class AudioRecorder;
class MonoGFX;
class SynthVoiceCommon;
struct BelaContext;

class VoiceManager : public GuiEditor, public NoteScheduler {
public:
    static constexpr uint32_t kTracks = 5;
    static constexpr uint32_t kVoicesPerTrack = VoicePool::kVoicesPerTrack;
    static constexpr uint32_t kEngineTypes = 8;  // 0 "none" has no pool
    static constexpr uint32_t kSlots = 32;
    static constexpr uint32_t kLead = 256;       // a voice fades this long before its note
    static constexpr uint32_t kPolyphonyFade = 1024;
    static constexpr uint32_t kOverlapBlocks = 6;  // the old engine renders this long after a switch
    static constexpr uint32_t kFrames = 64;
    static constexpr uint32_t kInputs = 4;
    static constexpr uint32_t kGateScale = 7;
    static constexpr float kMixGain = 4.0f;
    static constexpr float kInputGainRange = 64.0f;
    // Delays at or above this are negative numbers passed as unsigned: they start at once.
    static constexpr uint32_t kMaxDelay = 0x7FFFFFFFu;
    static constexpr uint32_t kUnprepared = 0xFFFFFFFFu;

    // Renders the sample previewer into the output block.
    using PreviewRender = void (*)(AudioBlock& out);

    VoiceManager();
    ~VoiceManager() override;
    VoiceManager(const VoiceManager&) = delete;
    VoiceManager& operator=(const VoiceManager&) = delete;

    // ---- wiring (start-up, before audio runs)
    // Whether a track is being changed by another thread (a load, an engine
    // switch): its voices and chain are then silent for the block.
    using BusyTest = bool (*)(const void* track);
    // A track's engine at that moment, its effect chain and its four input
    // routes ("in 1 to chan" .. "in 4 to chan"). The engine becomes current
    // only while the track has none yet; a busy test given once stays.
    void attachTrack(uint32_t track, SynthVoiceCommon* engine, EffectChain* chain,
                     std::array<const ParameterInt*, kInputs> inputRoutes, BusyTest busy = nullptr,
                     const void* owner = nullptr);
    void setRecorder(AudioRecorder* recorder) { recorder_.store(recorder, std::memory_order_release); }
    AudioRecorder* recorder() const { return recorder_.load(std::memory_order_acquire); }
    // Replaces the pool of an engine type (tests; an engine built outside the
    // pool list). Not while audio runs.
    void installPool(uint32_t engineType, std::unique_ptr<VoicePool> pool) {
        if (engineType > 0 && engineType < kEngineTypes) pools_[engineType] = std::move(pool);
    }
    void setPreviewer(PreviewRender render) { previewer_.store(render, std::memory_order_release); }

    // ---- notes and voices (audio thread)
    bool scheduleNote(NoteEvent event) override;
    void startVoice(NoteEvent& event);
    void fadeOutVoice(uint32_t engineType, uint32_t track, uint32_t voice, uint32_t samples);
    void limitPolyphony(uint32_t engineType, uint32_t track, uint32_t keep);
    // The first pass of a block sets every channel's state and position; a
    // later pass (the old engine after a switch) only adds and upgrades.
    void renderTrackVoices(uint32_t engineType, uint32_t track, AudioBlock& block, bool firstPass = true);

    // ---- the block (audio thread)
    // gates: five words, 0 or 1 for tracks 1 to 5.
    void processBlock(const BelaContext* context, AudioBlock& out, uint32_t frames, uint32_t* gates);
    void underrun(uint32_t count) {}
    // Not the audio thread: the master chain with only a limiter.
    void resetOutputFX();
    // Before audio runs: no voice sounding, no note waiting, no gate high,
    // the output chain as built, the tracks to be attached again.
    void silence();

    // ---- the "output FX" page
    void encoder(int index, int delta, bool pushed) override;
    void button(int key, int event) override;
    void open() override;
    bool close() override;
    bool isOpen() override { return open_.load(std::memory_order_acquire); }
    void draw(MonoGFX& window) override;

    // ---- recording (interface thread)
    // mode 1 inputs, 2 a track, 3 the main output. An empty path receives the
    // chosen file name.
    bool startRecording(std::string& path, uint32_t mode, uint32_t first, uint32_t count, uint32_t track);
    void stopRecording();
    void drawRecordingOverlay(MonoGFX& window);
    std::string recordingName() const;

    // ---- grain look-up
    bool setupGrainLookup() { return grains.setup(); }
    void releaseGrainLookup() { grains.releaseTask(); }
    void requestGrains(std::string_view list, std::span<const float> point, uint32_t voice, float radius) {
        grains.requestGrains(list, point, voice, radius);
    }
    GrainEntry randomGrainEntry(uint32_t voice) { return grains.randomGrainEntry(voice); }
    void listChanged(const std::string& list) { grains.listChanged(list); }
    void processGrainRequests() { grains.processGrainRequests(); }

    // ---- read-outs
    uint32_t activeVoiceCount() const { return activeVoices_.load(std::memory_order_relaxed); }
    uint32_t overflowCount() const { return overflow_; }
    // Null for a type without a pool or an index past 39.
    SynthVoice* voice(uint32_t engineType, uint32_t index);
    SynthVoiceCommon* currentEngine(uint32_t track) const { return track < kTracks ? tracks_[track].current : nullptr; }
    int32_t nextVoice(uint32_t track) const { return track < kTracks ? tracks_[track].nextVoice : 0; }
    uint32_t selectedEffect() const { return uint32_t(lastTouched_.load() - 16) / 4; }

    // Members in construction order.
    EffectChain masterChain;
    float inputGainRange = kInputGainRange;
    ParameterFloat inGain1, inGain2, inGain3, inGain4;
    ParameterInt sendRouting;
    ParameterInt inToOut1, inToOut2, inToOut3, inToOut4;

private:
    struct TrackVoices {
        SynthVoiceCommon* current = nullptr;
        SynthVoiceCommon* previous = nullptr;
        uint32_t polyphony = 1;
        uint32_t blocksSinceSwitch = kOverlapBlocks;  // nothing to overlap at start
        uint32_t unison = 1;
        int32_t nextVoice = 0;
        uint8_t recent[kVoicesPerTrack] = {};
        uint32_t recentPos = 0;
        bool warned = false;
    };
    struct GateLine {
        int32_t countdown = 0;
        uint8_t ring[8] = {};
        uint32_t pos = 0;
    };
    struct TrackLink {
        EffectChain* chain = nullptr;
        std::array<const ParameterInt*, kInputs> routes{};
        BusyTest busy = nullptr;
        const void* owner = nullptr;
    };

    static uint32_t _typeOf(const SynthVoiceCommon* engine);
    static uint32_t _polyphonyOf(const SynthVoiceCommon& engine);
    void _polyphonyCheck();
    void _noteStep(uint32_t frames);
    void _prepare(NoteEvent& slot);
    void _fire(NoteEvent& slot);
    void _gates(uint32_t* gates);
    void _recordInputs(const BelaContext* context, const float gains[kInputs], const RecordingTap::Words& tap);
    // Hands track t's block to a recording of that track.
    void _tapTrack(uint32_t t, const RecordingTap::Words& tap, const AudioBlock& block);
    void _processTrack(uint32_t t, const BelaContext* context, const float gains[kInputs],
                       const RecordingTap::Words& tap, AudioBlock& out);
    void _addInput(const BelaContext* context, uint32_t input, float gain, AudioBlock& block, uint32_t channel);

    std::array<ParameterFloat*, kInputs> inGains_;
    std::array<ParameterInt*, kInputs> inToOuts_;
    std::array<std::unique_ptr<VoicePool>, kEngineTypes> pools_;
    std::array<uint32_t, VoicePool::kVoices> positions_{};
    std::array<TrackVoices, kTracks> tracks_{};
    std::array<NoteEvent, kSlots> slots_;
    uint32_t overflow_ = 0;
    std::atomic<uint32_t> activeVoices_{0};
    std::array<GateLine, kTracks> gateLines_{};
    std::array<TrackLink, kTracks> links_{};
    AudioBlock trackBlock_;
    AudioBlock sendBlock_;

public:
    GrainLookup grains;

private:
    RecordingTap tap_;
    // Up to seven characters, packed into one word: the overlay reads it on
    // another thread.
    std::atomic<uint64_t> recordingName_{0};
    std::atomic<AudioRecorder*> recorder_{nullptr};
    std::atomic<PreviewRender> previewer_{nullptr};
    std::atomic<bool> open_{false};
    std::atomic<int32_t> lastTouched_{0};
};

namespace DSP {
extern VoiceManager voiceManager;
}  // namespace DSP
