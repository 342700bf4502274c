#include "instrument/voices/GrainLookup.h"

#include "platform/Audio.h"
#include "platform/RtPrintf.h"
#include "samples/SamplePool.h"
#include "dsp/Random.h"

#include <cstdio>
#include <cstring>

namespace DSP {
extern Random random;
}  // namespace DSP

namespace {
constexpr const char* kNoList = "none";

void grainTreeLookupFunc(void* lookup) { static_cast<GrainLookup*>(lookup)->processGrainRequests(); }

bool sameName(const GrainRequest& r, std::string_view name) {
    return std::strncmp(r.name, name.data(), GrainRequest::kNameSize) == 0 ||
           (name.size() < GrainRequest::kNameSize && std::strlen(r.name) == name.size() &&
            std::memcmp(r.name, name.data(), name.size()) == 0);
}
}  // namespace

bool sameGrainRequest(const GrainRequest& x, const GrainRequest& y) {
    return std::strncmp(x.name, y.name, GrainRequest::kNameSize) == 0 && x.a == y.a && x.b == y.b && x.c == y.c;
}

GrainLookup::GrainLookup() {
    auto blank = std::make_shared<const Answer>();
    for (uint32_t v = 0; v < kVoices; ++v) {
        owned_[v] = blank;
        published_[v].store(blank.get(), std::memory_order_relaxed);
        forgetPending_[v].store(false, std::memory_order_relaxed);
    }
}

GrainLookup::~GrainLookup() { pipe_.cleanup(); }

bool GrainLookup::setup() {
    if (!pipe_.isOk() && !pipe_.setup(kPipeName, kPipeSize, false, false)) return false;
    // A task of an earlier set-up was freed when that run stopped: always a
    // new one, never the one kept from before.
    task_.store(Bela_createAuxiliaryTask(grainTreeLookupFunc, kTaskPriority, kTaskName, this),
                std::memory_order_release);
    return task_.load(std::memory_order_acquire) != nullptr;
}

void GrainLookup::requestGrains(std::string_view list, std::span<const float> point, uint32_t voice, float radius) {
    if (voice >= kVoices) return;
    if (list.size() >= GrainRequest::kNameSize) {
        // A cut name would look up another list.
        if (!warnedName_.exchange(true))
            rt_printf("VoiceManager: list name too long for a grain request [%.*s]\n", int(list.size()), list.data());
        return;
    }
    if (forgetPending_[voice].exchange(false, std::memory_order_acq_rel)) pending_[voice] = GrainRequest{};

    GrainRequest r;
    std::memcpy(r.name, list.data(), list.size());
    r.a = point.size() > 0 ? point[0] : 0.0f;
    r.b = point.size() > 1 ? point[1] : 0.0f;
    r.c = radius;
    r.voice = voice;

    const Answer* answered = published_[voice].load(std::memory_order_acquire);
    if (sameGrainRequest(r, answered->request) || sameGrainRequest(r, pending_[voice])) return;
    if (!pipe_.isOk() || !pipe_.writeRt(r)) return;  // not pending: the next call tries again
    pending_[voice] = r;
    sent_.fetch_add(1, std::memory_order_relaxed);
    if (AuxiliaryTask task = task_.load(std::memory_order_acquire)) Bela_scheduleAuxiliaryTask(task);
}

GrainEntry GrainLookup::randomGrainEntry(uint32_t voice) {
    if (voice >= kVoices) return {};
    const Answer* answer = published_[voice].load(std::memory_order_acquire);
    const size_t n = answer->hits.size();
    if (n == 0) return {};
    return answer->hits[DSP::random.nextHigh() % n];
}

void GrainLookup::listChanged(const std::string& list) {
    std::printf("listChanged(%s)\n", list.c_str());
    {
        std::lock_guard<std::mutex> lock(changedLock_);
        changedLists_.push_back(list);
    }
    if (AuxiliaryTask task = task_.load(std::memory_order_acquire)) Bela_scheduleAuxiliaryTask(task);
}

void GrainLookup::_publish(uint32_t voice, std::shared_ptr<const Answer> answer,
                           std::vector<std::shared_ptr<const Answer>>& retired) {
    published_[voice].store(answer.get(), std::memory_order_release);
    retired.push_back(std::move(owned_[voice]));
    owned_[voice] = std::move(answer);
}

void GrainLookup::processGrainRequests() {
    std::vector<std::shared_ptr<const Answer>> retired;

    std::vector<std::string> changed;
    {
        std::lock_guard<std::mutex> lock(changedLock_);
        changed.swap(changedLists_);
    }
    if (!changed.empty()) {
        auto blank = std::make_shared<const Answer>();
        for (uint32_t v = 0; v < kVoices; ++v) {
            for (const std::string& name : changed) {
                if (!sameName(owned_[v]->request, name)) continue;
                _publish(v, blank, retired);
                forgetPending_[v].store(true, std::memory_order_release);
                break;
            }
        }
    }

    // At most one request per voice, in order of first arrival, the latest winning.
    std::vector<GrainRequest> requests;
    if (pipe_.isOk()) {
        GrainRequest r;
        while (!Bela_stopRequested() && pipe_.readNonRt(r)) {
            if (r.voice >= kVoices) continue;
            r.name[GrainRequest::kNameSize - 1] = '\0';
            bool replaced = false;
            for (GrainRequest& q : requests) {
                if (q.voice == r.voice) {
                    q = r;
                    replaced = true;
                    break;
                }
            }
            if (!replaced) requests.push_back(r);
        }
    }

    SamplePool* pool = DSP::samplePool.load(std::memory_order_acquire);
    for (const GrainRequest& r : requests) {
        auto answer = std::make_shared<Answer>();
        answer->request = r;
        if (pool) answer->hits = pool->getGroupEntriesByFeature(r.name, r.a, r.b, r.c);
        if (answer->hits.empty() && std::strcmp(r.name, kNoList) != 0)
            std::printf("VoiceManager: getGroupEntriesByFeature() returned zero points [%s]...\n", r.name);
        _publish(r.voice, std::move(answer), retired);
    }

    // The audio thread may still be reading a replaced answer in this block.
    if (!retired.empty()) Bela_blockFence();
    retired.clear();
}

GrainRequest GrainLookup::answeredRequest(uint32_t voice) const {
    // Only the task writes owned_; this reads the published object.
    return voice < kVoices ? published_[voice].load(std::memory_order_acquire)->request : GrainRequest{};
}
