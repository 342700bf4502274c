#include "engines/SamplePlayer.h"

#include "dsp/Random.h"
#include "samples/SamplePool.h"
#include "engines/SynthVoice.h"
#include "samples/AudioResource.h"
#include "samples/ReleaseQueue.h"

#include <cmath>

namespace {
constexpr uint32_t kBlock = 64;
constexpr float kInverseRate = 1.0f / 48000.0f;
// The end fade starts this many output samples ahead of the end.
constexpr float kEndFadeLead = 270.0f;
}  // namespace

SamplePlayer::SamplePlayer() {
    restGainRamp(gainRamp, 0.0f);  // the first start fades in from silence
}

float SamplePlayer::_detuneFactor(float detune) {
    if (!std::isfinite(detune)) detune = 0.0f;
    return 1.0f + DSP::noise.next() * 0.2f * detune * detune * detune;
}

void SamplePlayer::start(std::string_view list, int32_t step, uint32_t order, float detune) {
    SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire);
    AudioSampleGroupEntryPtr next = pool ? pool->getGroupEntry(list, step, order) : AudioSampleGroupEntryPtr{};
    _letGo();
    entry = std::move(next);
    if (!entry)
        return;
    resource = pool->getResource(entry->sample);
    position = entry->startFromZero ? 0.0f : float(entry->startFrame.load());
    restartPending = false;
    detuneFactor = _detuneFactor(detune);
    gainRamp.set(kBlock, 1.0f);
}

void SamplePlayer::stop() {
    _letGo();
    restartPending = false;
}

void SamplePlayer::_letGo() {
    // The list or the pool may have dropped these meanwhile: the last
    // reference must not go on the audio thread.
    DSP::releaseQueue.retire(entry);
    DSP::releaseQueue.retire(resource);
}

void SamplePlayer::_silence(float* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) out[i] = 0.0f;
    lastSample = 0.0f;
}

bool SamplePlayer::render(float* out, uint32_t n, int32_t channelSelector, float noteHz, float detune, float rate) {
    if (n > kBlock) n = kBlock;
    if (!resource || !entry) {
        _silence(out, n);
        return false;
    }
    const auto& channels = resource->channels;
    const uint32_t channelCount = uint32_t(channels.size());
    if (channelCount == 0) {
        _silence(out, n);
        return false;
    }
    int32_t c = channelSelector % int32_t(channelCount);
    if (c < 0) c += int32_t(channelCount);
    const std::vector<float>& frames = channels[uint32_t(c)];
    // The list's end may lie beyond a file that was replaced by a shorter one.
    uint32_t end = entry->endFrame;
    if (end > frames.size()) end = uint32_t(frames.size());
    const uint32_t last = end == 0 ? 0 : end - 1;

    if (restartPending) {
        position = float(entry->startFrame.load());
        detuneFactor = _detuneFactor(detune);
        gainRamp.set(128, 1.0f);
        restartPending = false;
    }

    float speed = rate * detuneFactor * entry->rate;
    if (entry->pitchTracking) {
        float reference = entry->reference;
        if (!(reference > 0.0f)) reference = 440.0f;
        speed = speed * noteHz / reference;
    }
    const float step = resource->sampleRate * kInverseRate * speed;
    // A stalled, reversed or non-finite speed would never reach the end (or
    // walk off the front): play nothing until the speed is sane again.
    if (!(step > 0.0f) || !std::isfinite(step) || !(position >= 0.0f)) {
        _silence(out, n);
        return false;
    }

    if (position + step * kEndFadeLead >= float(end) && !gainRamp.rampActive) gainRamp.set(256, 0.0f);

    const float volume = std::pow(10.0f, entry->volume * 0.05f);
    const bool looping = entry->looping;
    float value = lastSample;
    uint32_t i = 0;
    // A block whose reads all lie before the last frame needs no bounds: the
    // neighbour of a whole position is weighted 0 there, as when it is not read.
    if (float(n) * step + position < float(last)) {
        const float* data = frames.data();
        for (; i < n; ++i) {
            const uint32_t index = uint32_t(position);
            const float f = position - float(index);
            value = ((1.0f - f) * data[index] + f * data[index + 1]) * volume;
            out[i] = value;
            position += step;
        }
    }
    for (; i < n && position < float(end); ++i) {
        const uint32_t index = uint32_t(position);
        if (index >= end) break;  // float rounding of a very long end
        const float f = position - float(index);
        uint32_t next = f > 0.0f ? index + 1 : index;
        if (next > last) next = last;
        value = ((1.0f - f) * frames[index] + f * frames[next]) * volume;
        out[i] = value;
        position += step;
    }
    if (i < n) {
        for (; i < n; ++i) out[i] = value;
        if (looping)
            restartPending = true;
        else
            DSP::releaseQueue.retire(resource);
    }
    lastSample = value;
    if (n == kBlock) gainRamp.apply(out);
    return true;
}
