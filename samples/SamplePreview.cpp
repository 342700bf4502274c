#include "samples/SamplePreview.h"

#include "dsp/AudioBlock.h"
#include "platform/Audio.h"
#include "platform/AudioFile.h"
#include "platform/Paths.h"
#include "samples/AudioResource.h"

#include <cstdint>
#include <filesystem>

bool SamplePreview::setup(bool withTask) {
    // What an earlier run loaded may be another root's file of the same
    // name: the new run loads afresh what it previews.
    loadedPath_.clear();
    loaded_.store(false, std::memory_order_release);
    // A task of an earlier set-up is gone with its run: always a new one.
    task_.store(withTask ? Bela_createAuxiliaryTask(loadSampleFunc, kTaskPriority, "corvane-preview-loader", this)
                         : nullptr,
                std::memory_order_release);
    return !withTask || task_.load(std::memory_order_acquire);
}

void SamplePreview::play(const std::string& path) {
    stop();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(host::hostPath(path), ec))
        return;
    {
        std::lock_guard<std::mutex> lock(requestLock_);
        requestedPath_ = path;
        requested_.store(true, std::memory_order_release);
    }
    if (loaded_.load(std::memory_order_acquire))
        fadeOut_.store(true, std::memory_order_release);
}

void SamplePreview::stop() {
    if (loaded_.load(std::memory_order_acquire))
        fadeOut_.store(true, std::memory_order_release);
    requested_.store(false, std::memory_order_release);
}

void SamplePreview::load() {
    loading_.store(true, std::memory_order_release);
    // Taking the request clears it: a short or unreadable file then plays
    // once, not again on every block after it ended.
    auto take = [this] {
        std::lock_guard<std::mutex> lock(requestLock_);
        requested_.store(false, std::memory_order_release);
        taken_.fetch_add(1, std::memory_order_release);
        return requestedPath_;
    };
    std::string path = take();
    while (path != loadedPath_ && !Bela_stopRequested()) {
        loadedPath_ = path;
        const uint32_t next = 1 - current_.load(std::memory_order_relaxed);
        // A block that took this slot before the last switch may still read it.
        Bela_blockFence();
        size_t replaced = 0;
        slots_[next] = AudioFileUtilities::load(host::hostPath(path), kMaxFrames, 0, &replaced);
        reportCleanedSamples(path, replaced);
        current_.store(next, std::memory_order_release);
        if (!requested_.load(std::memory_order_acquire))
            break;
        path = take();  // the newest request, read while this one loaded
    }
    position_.store(0, std::memory_order_relaxed);
    fadeOut_.store(false, std::memory_order_relaxed);
    gain_ = 1.0f;
    loading_.store(false, std::memory_order_release);
    loaded_.store(true, std::memory_order_release);
}

void SamplePreview::scheduleLoader() {
    if (AuxiliaryTask task = task_.load(std::memory_order_acquire))
        Bela_scheduleAuxiliaryTask(task);
}

void SamplePreview::render(AudioBlock& block) {
    auto finish = [this] {
        loaded_.store(false, std::memory_order_release);
        fadeOut_.store(false, std::memory_order_release);
    };
    if (!loaded_.load(std::memory_order_acquire)) {
        if (requested_.load(std::memory_order_acquire) && !loading_.load(std::memory_order_acquire))
            scheduleLoader();
        return;
    }
    if (loading_.load(std::memory_order_acquire))
        return;  // the loader owns the data meanwhile
    // The slot is taken once: the loader writes the other one, and only after
    // a block fence, so this block's data stay whole.
    const Channels& data = slots_[current_.load(std::memory_order_acquire)];
    if (data.empty() || data[0].empty()) {
        finish();  // a failed read holds no channel: it has ended before anything is read
        return;
    }
    const std::vector<float>& left = data[0];
    const std::vector<float>& right = data.size() >= 2 ? data[1] : data[0];
    const uint32_t length = uint32_t(left.size());
    uint32_t position = position_.load(std::memory_order_relaxed);
    bool fading = fadeOut_.load(std::memory_order_acquire);
    // The last 512 frames fade, to silence at the last one; a shorter file plays to its end.
    const uint32_t fadeFrom = length >= kFadeFrames ? length - kFadeFrames : UINT32_MAX;
    if (fading && gain_ < kFadeStep) {
        finish();
        if (requested_.load(std::memory_order_acquire))
            scheduleLoader();
        return;
    }

    const uint32_t frames = block.frames < AudioBlock::kFrames ? block.frames : AudioBlock::kFrames;
    const ChannelState state = position < frames ? ChannelState::Started : ChannelState::Playing;
    mergeChannelState(block.channelState[0], state);
    mergeChannelState(block.channelState[1], state);
    float* out0 = block.channel(0);
    float* out1 = block.channel(1);
    for (uint32_t i = 0; i < frames; ++i) {
        if (position >= length || gain_ <= 0.0001f) {
            finish();
            break;
        }
        if (!fading && position >= fadeFrom) {
            fadeOut_.store(true, std::memory_order_release);
            fading = true;
        }
        out0[i] += left[position] * kGain * gain_;
        out1[i] += right[position] * kGain * gain_;
        if (fading)
            gain_ -= kFadeStep;
        ++position;
    }
    position_.store(position, std::memory_order_relaxed);
}

void loadSampleFunc(void* arg) { (arg ? static_cast<SamplePreview*>(arg) : &DSP::samplePreviewer)->load(); }

void renderSamplePreview(AudioBlock& block) { DSP::samplePreviewer.render(block); }
