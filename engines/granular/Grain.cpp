#include "engines/granular/Grain.h"

#include "dsp/Float4.h"
#include "dsp/Random.h"
#include "platform/RtPrintf.h"
#include "samples/AudioResource.h"
#include "samples/ReleaseQueue.h"
#include "samples/SamplePool.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kSamplesPerMs = 48.0;
constexpr double kDefaultReference = 440.0;
}  // namespace

Grain::Grain() {
    for (float& s : buffer) s = 0.0f;
}

Grain::~Grain() {
    _letGo(current);
    _letGo(next);
    DSP::releaseQueue.retire(sample);
}

void Grain::_letGo(FeatureHit& hit) {
    // The list may have dropped the entry meanwhile: never free it here.
    DSP::releaseQueue.retire(hit.entry);
    hit = FeatureHit{};
}

void Grain::setEnvelope(float attackMs, float holdMs, float decayMs, float depth) {
    attack = attackMs;
    hold = holdMs;
    decay = decayMs;
    window.setTimes(attackMs, holdMs, decayMs, 0.0f);
    rateDeviation = 1.0f + depth * 0.2f * r;
}

void Grain::schedule(FeatureHit hit, float offset, float shape_, bool immediate) {
    _letGo(next);
    next = std::move(hit);
    nextShape = shape_;
    nextOffset = double(offset);
    if (immediate) {
        start();
        return;
    }
    window.fastRelease(kScheduleRelease);
    pending = true;
}

void Grain::start() {
    _letGo(current);
    current = std::move(next);
    next = FeatureHit{};
    DSP::releaseQueue.retire(sample);
    if (!current.entry) return;
    SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire);
    if (pool) sample = pool->getResource(current.entry->sample);
    // A resource without frames is no sample either: nothing to read.
    if (!sample || sample->frameCount() == 0) {
        DSP::releaseQueue.retire(sample);
        if (!notices->invalidResource) {
            notices->invalidResource = true;
            rt_printf("%s", kInvalidResource);
        }
        return;
    }
    const double frames = double(sample->frameCount());
    const double length = (double(attack) + double(hold) + double(decay)) * kSamplesPerMs;
    double p = (double(current.hop) + 1.0) * kHopFrames + nextOffset - length * 0.5;
    p = std::min(p, frames - length);
    if (!(p >= 0.0)) p = 0.0;
    position = p;
    window.trigger(1.0f, 0.0f);
    shape = nextShape;
    r = DSP::noise.next();
}

bool Grain::render(float* out, float hz, float ratio) {
    window.tick();
    if (window.isIdle() || !current.entry || !sample) {
        if (pending) {
            start();
            pending = false;
        }
        return false;
    }
    const AudioSampleGroupEntry& entry = *current.entry;
    double inc = double(rateDeviation) * double(ratio) * double(entry.rate.load(std::memory_order_relaxed));
    if (entry.pitchTracking.load(std::memory_order_relaxed)) {
        double reference = entry.reference.load(std::memory_order_relaxed);
        if (!(reference > 0.0)) reference = kDefaultReference;  // NaN too
        inc = inc * double(hz) / reference;
    }
    inc = inc * (double(sample->sampleRate) * (1.0 / 48000.0));

    const std::vector<float>& frames = sample->channels[0];
    const uint32_t count = uint32_t(frames.size());
    // An end frame may lie beyond a sample that was replaced by a shorter one.
    const double end = double(std::min<uint32_t>(entry.endFrame.load(std::memory_order_relaxed), count));
    // A stalled, reversed or non-finite rate never reaches the end: close too.
    if (!(position + inc * kEndLead < end) || !(inc > 0.0) || !std::isfinite(inc)) window.fastRelease(kEndRelease);

    // A block may read far more frames than the window is long (high rates,
    // pitch tracking), and a rate may be reversed or not a number: every read
    // stays inside the frames. A block whose reads all lie inside (the usual
    // case) skips the per-sample bounds.
    const float* data = frames.data();
    const double last = double(count - 1);
    double pos = position;
    if (inc > 0.0 && pos >= 0.0 && pos + double(kBlock - 1) * inc < last) {
        for (uint32_t i = 0; i < kBlock; ++i) {
            const uint32_t a = uint32_t(pos);
            const float f = float(pos - double(a));
            buffer[i] = (1.0f - f) * data[a] + f * data[a + 1];
            pos += inc;
        }
    } else {
        for (uint32_t i = 0; i < kBlock; ++i) {
            double p = pos;
            if (!(p >= 0.0)) p = 0.0;
            if (p > last) p = last;
            const uint32_t a = uint32_t(p);
            const uint32_t b = a + 1 < count ? a + 1 : a;
            const float f = float(p - double(a));
            buffer[i] = (1.0f - f) * data[a] + f * data[b];
            pos += inc;
        }
    }
    position = std::isfinite(pos) ? pos : last;
    window.applyKnee(buffer, shape);
    for (uint32_t i = 0; i < kBlock; i += 4) storeUnaligned4(out + i, loadUnaligned4(out + i) + load4(buffer + i));
    return true;
}
