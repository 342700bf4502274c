// A voice manager on the test bench: five stand-in tracks (an engine, an
// effect chain, four input routes each), a context with four audio inputs,
// a recorder that keeps every block it is handed, and a tone voice whose
// engine type a test chooses.
#pragma once

#include "engines/SynthEngineType.h"
#include "engines/SynthVoiceCommon.h"
#include "engines/subtractive/SubtractiveCommon.h"
#include "instrument/voices/VoiceManager.h"
#include "platform/Context.h"
#include "samples/AudioRecorder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace voicetest {

// A sine at the note's pitch and gain; fadeOut ramps it to silence.
class ToneVoice : public SynthVoice {
public:
    void noteOn(NoteEvent e) override {
        note = e;
        active = true;
        started = true;
        gain = e.gain;
        fadeStep = 0.0f;
        ++notes;
    }
    void fadeOut(uint32_t samples) override {
        fadeStep = gain / float(samples ? samples : 1);
        ++fades;
    }
    bool render(float* row, uint32_t frames) override {
        ++renders;
        const bool first = started;
        started = false;
        for (uint32_t i = 0; i < frames; ++i) {
            row[i] += gain * std::sin(phase);
            phase += 2.0f * float(M_PI) * note.frequency / 48000.0f;
            if (fadeStep > 0.0f) gain = std::max(0.0f, gain - fadeStep);
        }
        phase = std::fmod(phase, 2.0f * float(M_PI));
        if (gain <= 0.0f) active = false;
        return first;
    }
    void updateParameters() override {}

    float phase = 0.0f, gain = 0.0f, fadeStep = 0.0f;
    uint32_t notes = 0, fades = 0, renders = 0;
};

class ToneCommon : public SynthVoiceCommon {
public:
    explicit ToneCommon(uint32_t type) { engineType = type; }
    void drawOverview(MonoGFX&, uint32_t, uint32_t, int, int) override {}
    uint32_t envSlots() const override { return 0; }
};

// Keeps every pushed block; no allocation while pushing (the capacity is fixed).
class CaptureRecorder : public AudioRecorder {
public:
    explicit CaptureRecorder(std::string folder, size_t maxBlocks = 4096)
        : folder_(std::move(folder)), data_(maxBlocks * kFrames * kMaxChannels) {}
    bool start(const std::string& path, uint32_t ch) override {
        ++starts;
        if (recording_ || fileOpen_ || refuse || std::filesystem::exists(fullPath(path))) return false;
        startedPath = path;
        channels = ch;
        fileOpen_ = recording_ = true;
        return true;
    }
    void stop() override {
        recording_ = false;
        fileOpen_ = false;
    }
    std::string fullPath(const std::string& path) const override {
        return path.empty() || path[0] == '/' ? path : folder_ + path;
    }
    void pushInterleaved(const float* frames, uint32_t ch) override {
        pushedChannels.store(ch, std::memory_order_relaxed);
        const size_t n = size_t(ch) * kFrames;
        if (used_ + n <= data_.size()) {
            for (size_t i = 0; i < n; ++i) data_[used_ + i] = frames[i];
            used_ += n;
        }
        pushes.fetch_add(1, std::memory_order_release);
    }
    void pushBlock(const float* samples, uint32_t first, uint32_t ch) override {
        float staging[kFrames * kMaxChannels];
        for (uint32_t f = 0; f < kFrames; ++f)
            for (uint32_t c = 0; c < ch; ++c) staging[f * ch + c] = samples[(first + c) * kFrames + f];
        pushInterleaved(staging, ch);
    }
    bool isRecording() const override { return recording_; }
    bool isFileOpen() const override { return fileOpen_; }
    float level(uint32_t c) const override { return c < 8 ? levels[c] : 0.0f; }
    uint32_t blocksPushed() const override { return blocks; }

    // Everything pushed since construction (the audio side must be at rest).
    std::vector<float> captured() const { return std::vector<float>(data_.begin(), data_.begin() + long(used_)); }

    std::atomic<uint32_t> pushes{0};
    std::atomic<uint32_t> pushedChannels{0};
    uint32_t starts = 0;
    uint32_t channels = 0;
    std::string startedPath;
    bool refuse = false;
    float levels[8] = {};
    uint32_t blocks = 0;

private:
    std::string folder_;
    std::vector<float> data_;
    size_t used_ = 0;
    std::atomic<bool> recording_{false};
    std::atomic<bool> fileOpen_{false};
};

struct TrackDouble {
    SubtractiveCommon subtractive;
    EffectChain chain{4};
    std::array<ParameterInt, 4> routes{
        ParameterInt{"in 1 to chan", ParameterInt::PlainInt, Stored, 0, 0, 8},
        ParameterInt{"in 2 to chan", ParameterInt::PlainInt, Stored, 0, 0, 8},
        ParameterInt{"in 3 to chan", ParameterInt::PlainInt, Stored, 0, 0, 8},
        ParameterInt{"in 4 to chan", ParameterInt::PlainInt, Stored, 0, 0, 8}};
    std::atomic<bool> busy{false};
};

class Rig {
public:
    static constexpr uint32_t kFrames = 64;

    explicit Rig(uint32_t inputChannels = 8) : vm(std::make_unique<VoiceManager>()), inputs(inputChannels) {
        for (uint32_t t = 0; t < VoiceManager::kTracks; ++t) {
            TrackDouble& d = tracks[t];
            vm->attachTrack(t, &d.subtractive, &d.chain, {&d.routes[0], &d.routes[1], &d.routes[2], &d.routes[3]},
                            [](const void* d) { return static_cast<const TrackDouble*>(d)->busy.load(); }, &d);
        }
        context.audioInChannels = inputChannels;
        in.assign(size_t(kFrames) * inputChannels, 0.0f);
        context.audioIn = in.data();
        vm->masterChain.clear();  // a plain sum unless a test wants the limiter
        settle();
    }

    // Smoothed volumes start from 0 and glide to their values.
    void settle(int blocks = 800) {
        for (int i = 0; i < blocks; ++i)
            for (auto& d : tracks) d.subtractive.updateBlock();
    }

    NoteEvent note(uint32_t track, float hz, uint32_t delay = 0, NoteType kind = NoteType::NoteOn,
                   SynthVoiceCommon* engine = nullptr) {
        NoteEvent e;
        e.type = uint32_t(kind);
        e.engine = engine ? engine : &tracks[track].subtractive;
        e.track = track;
        e.frequency = hz;
        e.gain = 0.8f;
        e.delay = delay;
        e.flags = 0;
        return e;
    }

    // One block; the input of platform channel c, frame i is inputFn(c, absolute frame).
    template <typename InputFn>
    void block(InputFn&& inputFn) {
        for (uint32_t i = 0; i < kFrames; ++i)
            for (uint32_t c = 0; c < inputs; ++c) in[i * inputs + c] = inputFn(c, frame + i);
        blockCore();
    }
    void block() {
        std::fill(in.begin(), in.end(), 0.0f);
        blockCore();
    }
    void blocks(int n) {
        for (int i = 0; i < n; ++i) block();
    }
    // Output channel c of every block rendered so far.
    std::vector<float> channel(uint32_t c) const {
        std::vector<float> x;
        for (size_t b = 0; b < outs.size(); ++b) x.insert(x.end(), outs[b].begin() + c * kFrames, outs[b].begin() + (c + 1) * kFrames);
        return x;
    }

    std::unique_ptr<VoiceManager> vm;
    std::array<TrackDouble, VoiceManager::kTracks> tracks;
    uint32_t inputs;
    std::vector<float> in;
    BelaContext context;
    AudioBlock out;
    uint32_t gates[5] = {};
    std::vector<std::array<uint32_t, 5>> gateHistory;
    std::vector<std::vector<float>> outs;
    uint64_t frame = 0;
    bool keepHistory = true;  // off where nothing may allocate

private:
    void blockCore() {
        for (uint32_t t = 0; t < VoiceManager::kTracks; ++t)
            if (SynthVoiceCommon* e = vm->currentEngine(t)) e->updateBlock();
        vm->processBlock(&context, out, kFrames, gates);
        frame += kFrames;
        if (!keepHistory) return;
        outs.emplace_back(out.samples, out.samples + AudioBlock::kSamples);
        gateHistory.push_back({gates[0], gates[1], gates[2], gates[3], gates[4]});
    }
};

}  // namespace voicetest
