#include "sequencing/MorphController.h"

#include "gui/GuiNotify.h"
#include "platform/Audio.h"
#include "platform/RtPrintf.h"
#include "sequencing/MotionRecorder.h"

#include <cstdio>
#include <stdexcept>
#include <string>

MorphController::BusyGuard::BusyGuard(MorphController& c) : c_(c) {
    c_.busy_.fetch_add(1, std::memory_order_seq_cst);
    Bela_blockFence();
}

MorphController::BusyGuard::~BusyGuard() { c_.busy_.fetch_sub(1, std::memory_order_seq_cst); }

bool MorphController::claim(int track) {
    int none = -1;
    if (recordingTrack_.compare_exchange_strong(none, track, std::memory_order_acq_rel))
        return true;
    // A fixed record on the stack: the audio thread does not allocate.
    char text[GuiNotify::kMaxText + 1];
    std::snprintf(text, sizeof text, "Track %d is still recording", none + 1);
    Driver::guiNotify.warning(text);
    return false;
}

void MorphController::release(int track) {
    const int current = recordingTrack_.load(std::memory_order_acquire);
    if (current != track)
        rt_printf("Requested stop recording on track [%d] that is not recording? [%d]\n", track, current);
    recordingTrack_.store(-1, std::memory_order_release);
}

void MorphController::process(const bool* resetFlags) {
    _applyDeletes();
    if (busy_.load(std::memory_order_seq_cst) != 0)
        return;
    for (int t = 0; t < kTracks; ++t)
        if (MotionRecorder* r = recorders_[size_t(t)].load(std::memory_order_acquire))
            r->process(resetFlags ? resetFlags[t] : false);
}

MotionRecording* MorphController::recording(int slot) { return _valid(slot) ? &recordings_[size_t(slot)] : nullptr; }

const MotionRecording* MorphController::recording(int slot) const {
    return _valid(slot) ? &recordings_[size_t(slot)] : nullptr;
}

void MorphController::requestDelete(int slot) {
    if (_valid(slot))
        deleteRequests_.fetch_or(1u << unsigned(slot), std::memory_order_acq_rel);
}

void MorphController::_applyDeletes() {
    uint32_t bits = deleteRequests_.exchange(0, std::memory_order_acq_rel);
    for (int s = 0; bits != 0; ++s, bits >>= 1)
        if (bits & 1u)
            recordings_[size_t(s)].clear();
}

void MorphController::attach(int track, MotionRecorder* recorder) {
    if (track >= 0 && track < kTracks)
        recorders_[size_t(track)].store(recorder, std::memory_order_release);
}

void MorphController::detach(int track, MotionRecorder* recorder) {
    if (track >= 0 && track < kTracks)
        recorders_[size_t(track)].compare_exchange_strong(recorder, nullptr, std::memory_order_acq_rel);
}

bool MorphController::isEmpty(int slot) const { return !_valid(slot) || recordings_[size_t(slot)].empty(); }

nlohmann::json MorphController::toJson(int slot) const {
    static const MotionRecording kNone;
    return motionRecordingToJson(_valid(slot) ? recordings_[size_t(slot)] : kNone);
}

void MorphController::fromJson(int slot, const nlohmann::json& element) {
    if (!_valid(slot))
        return;
    std::string error;
    bool ok = false;
    {
        BusyGuard busy(*this);
        ok = motionRecordingFromJson(recordings_[size_t(slot)], element, error);
    }
    if (!ok)
        throw std::runtime_error("motion slot " + std::to_string(slot) + ": " + error);
}

bool MorphController::hasRecordings() const {
    for (int s = 1; s < kSlots; ++s)
        if (!recordings_[size_t(s)].empty())
            return true;
    return false;
}

void MorphController::clear() {
    BusyGuard busy(*this);
    for (MotionRecording& r : recordings_)
        r.clear();
}
