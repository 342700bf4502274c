// Block processing and the output stage.
#include "instrument/voices/VoiceManager.h"

#include "engines/SynthVoiceCommon.h"
#include "platform/Context.h"
#include "samples/AudioRecorder.h"

#include <algorithm>
#include <cmath>

namespace {
// Sample i of input k (1..4) is platform input channel 4 - k; an input the
// context does not have is silence.
inline const float* inputBase(const BelaContext* c, uint32_t input, uint32_t frames) {
    if (!c || !c->audioIn || input < 1 || input > VoiceManager::kInputs) return nullptr;
    const uint32_t channel = VoiceManager::kInputs - input;
    if (channel >= c->audioInChannels || c->audioFrames < frames) return nullptr;
    return c->audioIn + channel;
}

// An input file may hold anything; nothing that is not a number goes on.
inline float finiteOrZero(float x) { return std::isfinite(x) ? x : 0.0f; }

inline void scaleBlock(AudioBlock& b, float gain) {
    for (uint32_t i = 0; i < AudioBlock::kSamples; ++i) b.samples[i] *= gain;
}
}  // namespace

void VoiceManager::_addInput(const BelaContext* context, uint32_t input, float gain, AudioBlock& block,
                             uint32_t channel) {
    mergeChannelState(block.channelState[channel], ChannelState::Playing);
    const float* in = inputBase(context, input, kFrames);
    if (!in) return;
    const uint32_t stride = context->audioInChannels;
    float* row = block.channel(channel);
    for (uint32_t i = 0; i < kFrames; ++i) row[i] += finiteOrZero(in[i * stride] * gain);
}

void VoiceManager::_gates(uint32_t* gates) {
    for (uint32_t t = 0; t < kTracks; ++t) {
        GateLine& g = gateLines_[t];
        g.pos = (g.pos + 7) % 8;
        g.ring[g.pos] = g.countdown > 0 ? 1 : 0;
        if (g.countdown > -1000000) --g.countdown;
        if (gates) gates[t] = g.ring[(g.pos + 1) % 8];
    }
}

void VoiceManager::_recordInputs(const BelaContext* context, const float gains[kInputs], const RecordingTap::Words& tap) {
    AudioRecorder* recorder = recorder_.load(std::memory_order_acquire);
    // first + count past the four inputs would read outside the frame.
    if (!recorder || tap.count < 1 || tap.first >= kInputs || tap.count > kInputs - tap.first) return;
    alignas(16) float frames[kFrames * kInputs] = {};
    const uint32_t n = tap.count;
    for (uint32_t j = 0; j < n; ++j) {
        const uint32_t input = tap.first + 1 + j;
        const float* in = inputBase(context, input, kFrames);
        if (!in) continue;
        const uint32_t stride = context->audioInChannels;
        const float g = gains[input - 1];
        for (uint32_t i = 0; i < kFrames; ++i) frames[i * n + j] = finiteOrZero(in[i * stride] * g);
    }
    recorder->pushInterleaved(frames, n);
}

void VoiceManager::_tapTrack(uint32_t t, const RecordingTap::Words& tap, const AudioBlock& block) {
    AudioRecorder* recorder = recorder_.load(std::memory_order_acquire);
    // As many channels as the file was started with, or the file is garbled.
    if (tap.mode == RecordingTap::Track && tap.track == t && recorder && tap.count >= 1 &&
        tap.count <= AudioBlock::kChannels)
        recorder->pushBlock(block.samples, 0, tap.count);
}

void VoiceManager::_processTrack(uint32_t t, const BelaContext* context, const float gains[kInputs],
                                 const RecordingTap::Words& tap, AudioBlock& out) {
    TrackVoices& tv = tracks_[t];
    AudioBlock& block = trackBlock_;
    block.clear();
    block.positionCount = std::min(tv.polyphony, tv.unison);
    const TrackLink& link = links_[t];
    // Another thread is changing the track's parameters: nothing of it plays,
    // and a recording of it goes on with the silence.
    if (link.busy && link.busy(link.owner)) {
        _tapTrack(t, tap, block);
        return;
    }

    renderTrackVoices(_typeOf(tv.current), t, block, true);
    if (tv.blocksSinceSwitch < kOverlapBlocks && tv.previous && tv.previous != tv.current)
        renderTrackVoices(_typeOf(tv.previous), t, block, false);
    if (tv.blocksSinceSwitch < kOverlapBlocks) ++tv.blocksSinceSwitch;

    for (uint32_t k = 1; k <= kInputs; ++k) {
        const ParameterInt* route = link.routes[k - 1];
        const int32_t r = route ? route->value.load(std::memory_order_relaxed) : 0;
        if (r > 0 && r <= int32_t(AudioBlock::kChannels)) _addInput(context, k, gains[k - 1] / kMixGain, block, uint32_t(r - 1));
    }

    const bool sendIntoTrack5 = sendRouting.value.load(std::memory_order_relaxed) == 0 && t == kTracks - 1;
    if (link.chain) {
        if (sendIntoTrack5) block.mixIn(sendBlock_, 1.0f);
        link.chain->process(block);
    }

    _tapTrack(t, tap, block);

    SynthVoiceCommon* engine = tv.current;
    scaleBlock(block, engine ? float(engine->trackVolume.output) : 0.0f);
    if (!sendIntoTrack5) sendBlock_.mixIn(block, engine ? float(engine->auxSend.output) : 0.0f);
    out.mixIn(block, kMixGain);
}

void VoiceManager::processBlock(const BelaContext* context, AudioBlock& out, uint32_t frames, uint32_t* gates) {
    frames = kFrames;  // the pools and the table work in 64-frame blocks
    _polyphonyCheck();
    _noteStep(frames);
    _gates(gates);

    float gains[kInputs];
    for (uint32_t k = 0; k < kInputs; ++k) gains[k] = inGains_[k]->converted;

    const RecordingTap::Words tap = tap_.read();
    if (tap.mode == RecordingTap::Inputs) _recordInputs(context, gains, tap);

    out.clear();
    sendBlock_.clear();
    activeVoices_.store(0, std::memory_order_relaxed);

    for (uint32_t t = 0; t < kTracks; ++t) _processTrack(t, context, gains, tap, out);

    const int32_t send = sendRouting.value.load(std::memory_order_relaxed);
    if (send >= 1 && send <= 4) {
        sendBlock_.sumToStereo(2 * uint32_t(send - 1));
        out.mixIn(sendBlock_, 1.0f);
    }

    for (uint32_t k = 1; k <= kInputs; ++k) {
        const int32_t r = inToOuts_[k - 1]->value.load(std::memory_order_relaxed);
        if (r > 0 && r <= int32_t(AudioBlock::kChannels)) _addInput(context, k, gains[k - 1], out, uint32_t(r - 1));
    }

    if (PreviewRender preview = previewer_.load(std::memory_order_acquire)) preview(out);
    masterChain.process(out);

    AudioRecorder* recorder = recorder_.load(std::memory_order_acquire);
    if (tap.mode == RecordingTap::Output && recorder && tap.count >= 1 && tap.first < AudioBlock::kChannels &&
        tap.count <= AudioBlock::kChannels - tap.first)
        recorder->pushBlock(out.samples, tap.first, tap.count);
}
