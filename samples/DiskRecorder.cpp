#include "samples/DiskRecorder.h"

#include "gui/GuiNotify.h"
#include "platform/Paths.h"
#include "platform/RtPrintf.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

constexpr const char* kFailedToCreate = "Failed to create: ";
constexpr const char* kOpenFailed = "Could not open recording file";
constexpr size_t kBlockFloats = AudioRecorder::kFrames * AudioRecorder::kMaxChannels;

bool hostExists(const std::string& instrumentPath) {
    std::error_code ec;
    return std::filesystem::exists(host::hostPath(instrumentPath), ec);
}

}  // namespace

DiskRecorder::~DiskRecorder() {
    // The shutdown routine stops recordings first; a file still open here
    // gets its header written all the same.
    if (file_)
        sf_close(file_);
}

bool DiskRecorder::setup(bool withTask) {
    const bool piped = pipe_.setup(kPipeName, kPipeBytes, false, false);
    // A task of an earlier set-up is gone with its run: always a new one.
    writeTask_.store(withTask ? Bela_createAuxiliaryTask(writeBuffer, kTaskPriority, "sndfile-write-task", this)
                              : nullptr,
                     std::memory_order_release);
    for (auto& m : meters_) {
        m.rise = 1.0f;
        m.fall = 250.0f;
    }
    return piped && (!withTask || writeTask_.load(std::memory_order_acquire));
}

std::string DiskRecorder::_instrumentPath(const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : std::string(kRecordingsFolder) + path;
}

std::string DiskRecorder::fullPath(const std::string& path) const { return host::hostPath(_instrumentPath(path)); }

void DiskRecorder::_discardPipe() {
    float scratch[kBlockFloats];
    while (pipe_.isOk() && pipe_.readNonRt(scratch, sizeof(scratch)) > 0) {
    }
}

bool DiskRecorder::start(const std::string& requested, uint32_t channels) {
    if (recording_.load(std::memory_order_acquire) || fileOpen_.load(std::memory_order_acquire)) {
        std::printf("[DiskRecorder] can't start recording because it is still/already recording...\n");
        return false;
    }
    if (channels < 1 || channels > kMaxChannels) {
        std::printf("[DiskRecorder] can't record %u channels\n", channels);
        return false;
    }
    if (!pipe_.isOk()) {
        std::printf("[DiskRecorder] not set up\n");
        return false;
    }
    const std::string path = _instrumentPath(requested);
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    if (!hostExists(folder)) {
        std::printf("[DiskRecorder] path to file [%s] that we're recording does not exist\n",
                    host::hostPath(folder).c_str());
        if (folder != kRecordingsFolder)
            return false;
        if (!host::makeFolders(host::hostPath(folder))) {
            Driver::guiNotify.warning(std::string(kFailedToCreate) + folder);
            return false;
        }
    }
    if (hostExists(path)) {
        std::printf("[DiskRecorder] file [%s] already exists\n", host::hostPath(path).c_str());
        return false;
    }

    // Blocks a previous recording left behind belong to no file.
    _discardPipe();
    info_ = SF_INFO{};
    info_.samplerate = kSampleRate;
    info_.channels = int(channels);
    info_.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* opened = sf_open(host::hostPath(path).c_str(), SFM_WRITE, &info_);
    if (!opened) {
        std::printf("[DiskRecorder] could not open [%s]: %s\n", host::hostPath(path).c_str(), sf_strerror(nullptr));
        Driver::guiNotify.warning(kOpenFailed);
        return false;
    }
    // Overs are clipped; without this PCM16 wraps them round.
    sf_command(opened, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    file_ = opened;
    path_ = path;
    channels_.store(channels, std::memory_order_relaxed);
    blocksPushed_.store(0, std::memory_order_relaxed);
    blocksWritten_.store(0, std::memory_order_relaxed);
    blocksDropped_.store(0, std::memory_order_relaxed);
    for (uint32_t c = 0; c < kMaxChannels; ++c) {
        meters_[c].level = 0.0f;
        levels_[c].store(0.0f, std::memory_order_relaxed);
    }
    // Recording before open: a write task that sees the file open must also
    // see the recording on, or it takes the new file for a finished one and
    // closes it under the take.
    recording_.store(true, std::memory_order_release);
    fileOpen_.store(true, std::memory_order_release);
    std::printf("[DiskRecorder] started recording to %s\n", host::hostPath(path).c_str());
    return true;
}

void DiskRecorder::_scheduleWrite() {
    if (AuxiliaryTask task = writeTask_.load(std::memory_order_acquire))
        Bela_scheduleAuxiliaryTask(task);
}

void DiskRecorder::stop() {
    recording_.store(false, std::memory_order_release);
    _scheduleWrite();
}

void DiskRecorder::pushInterleaved(const float* frames, uint32_t channels) {
    // Only blocks of an open file go into the pipe: one pushed earlier would
    // be emptied out by the start.
    if (channels < 1 || channels > kMaxChannels || !fileOpen_.load(std::memory_order_acquire))
        return;
    if (pipe_.writeRt(frames, size_t(channels) * kFrames * sizeof(float)) < 0)
        blocksDropped_.fetch_add(1, std::memory_order_relaxed);
    else
        blocksPushed_.fetch_add(1, std::memory_order_relaxed);
    _scheduleWrite();
}

void DiskRecorder::pushBlock(const float* samples, uint32_t firstChannel, uint32_t channels) {
    if (channels < 1 || channels > kMaxChannels || firstChannel + channels > kMaxChannels)
        return;
    for (uint32_t f = 0; f < kFrames; ++f)
        for (uint32_t c = 0; c < channels; ++c)
            staging_[f * channels + c] = samples[(firstChannel + c) * kFrames + f];
    pushInterleaved(staging_, channels);
}

void DiskRecorder::_writeRecord(const float* samples, size_t count, uint32_t channels) {
    sf_write_float(file_, samples, sf_count_t(count));
    blocksWritten_.fetch_add(1, std::memory_order_relaxed);
    for (uint32_t c = 0; c < channels && c < kMaxChannels; ++c) {
        Meter& m = meters_[c];
        const float x = std::fabs(samples[c]);
        m.level += (x - m.level) / (x > m.level ? m.rise : m.fall);
        levels_[c].store(m.level, std::memory_order_relaxed);
    }
}

void DiskRecorder::drain() {
    if (!fileOpen_.load(std::memory_order_acquire))
        return;
    const uint32_t waiting = blocksPushed_.load(std::memory_order_relaxed) - blocksWritten_.load(std::memory_order_relaxed);
    if (waiting > 3 && waiting < 0x80000000u)
        std::printf("[DiskRecorder] writing %i (!) blocks\n", int(waiting));
    const uint32_t channels = channels_.load(std::memory_order_relaxed);
    const ssize_t blockBytes = ssize_t(channels) * kFrames * sizeof(float);
    float block[kBlockFloats];
    for (;;) {
        // Read the flag before the pipe: after a stop, everything pushed
        // before it is still written to this file.
        const bool still = recording_.load(std::memory_order_acquire);
        // One record at a time: a read takes as many whole records as fit.
        const ssize_t got = pipe_.readNonRt(block, size_t(blockBytes));
        if (got == blockBytes) {
            _writeRecord(block, size_t(got) / sizeof(float), channels);
            continue;
        }
        if (got < 0 || (got > 0 && got != blockBytes)) {
            // A larger record than this file's blocks: not frames of this file.
            pipe_.readNonRt(block, sizeof(block));
            continue;
        }
        if (still)
            return;  // the next push wakes the task again
        break;
    }
    _close();
}

void DiskRecorder::_close() {
    sf_write_sync(file_);
    sf_close(file_);
    file_ = nullptr;
    const uint32_t dropped = blocksDropped_.load(std::memory_order_relaxed);
    if (dropped > 0) {
        std::printf("[DiskRecorder] dropped %u blocks\n", dropped);
        Driver::guiNotify.warning("Recording dropped " + std::to_string(dropped) + " blocks");
    }
    std::printf("[DiskRecorder] stopped recording to %s\n", host::hostPath(path_).c_str());
    fileOpen_.store(false, std::memory_order_release);
}

void writeBuffer(void* arg) { (arg ? static_cast<DiskRecorder*>(arg) : &Driver::audioRecorder)->drain(); }
