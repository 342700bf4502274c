#include "samples/AudioSampleGroup.h"

#include "dsp/Random.h"
#include "platform/RtPrintf.h"
#include "samples/AudioResource.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr const char* kKeySample = "sample";
constexpr const char* kKeyPitchTracking = "pitch tracking";
constexpr const char* kKeyReference = "reference";
constexpr const char* kKeyLooping = "looping";
constexpr const char* kKeyStartFromZero = "start from zero";
constexpr const char* kKeyVolume = "volume";
constexpr const char* kKeyRate = "rate";
constexpr const char* kKeyStartTime = "start time";
constexpr const char* kKeyEndTime = "end time";
constexpr const char* kNoList = "none";

constexpr float kDefaultReference = 440.0f;
constexpr float kHopScale = 0.0001220703125f;  // 1 / 8192
constexpr float kNearestOnlyRadius = 0.0001f;

// Frame positions: any number, or a boolean taken as 0 or 1.
double frameValue(const nlohmann::json& object, const char* key, double fallback) {
    const auto it = object.find(key);
    if (it == object.end())
        return fallback;
    return it->is_boolean() ? double(it->get<bool>()) : it->get<double>();
}

template <class T>
T valueOr(const nlohmann::json& object, const char* key, T fallback) {
    const auto it = object.find(key);
    return it == object.end() ? fallback : it->template get<T>();
}

}  // namespace

// ---- entries

AudioSampleGroupEntry::AudioSampleGroupEntry(const std::string& path, uint32_t frameCount, float rateHz,
                                             float referenceHz)
    : reference(referenceHz), endFrame(frameCount), sample(path), sampleRate(rateHz), frames(frameCount) {}

AudioSampleGroupEntry::AudioSampleGroupEntry(const AudioSampleGroupEntry& o)
    : reference(o.reference.load()),
      pitchTracking(o.pitchTracking.load()),
      looping(o.looping.load()),
      startFromZero(o.startFromZero.load()),
      volume(o.volume.load()),
      rate(o.rate.load()),
      startFrame(o.startFrame.load()),
      endFrame(o.endFrame.load()),
      firstHop(o.firstHop.load()),
      lastHop(o.lastHop.load()),
      selected(o.selected.load()),
      sample(o.sample),
      sampleRate(o.sampleRate),
      frames(o.frames) {}

void AudioSampleGroupEntry::setRate(float value) {
    rate = std::isnan(value) ? 1.0f : std::clamp(value, kMinRate, kMaxRate);
}

void AudioSampleGroupEntry::setVolume(float value) {
    volume = std::isnan(value) ? 0.0f : std::clamp(value, kMinVolume, kMaxVolume);
}

void AudioSampleGroupEntry::setReference(float value) {
    reference = std::isfinite(value) ? value : kDefaultReference;
}

void AudioSampleGroupEntry::setRange(double start, double end) {
    const double length = frames;
    end = std::isnan(end) ? length : std::clamp(end, 0.0, length);
    start = std::isnan(start) ? 0.0 : std::clamp(start, 0.0, end);
    endFrame = uint32_t(end);
    startFrame = uint32_t(start);
}

// ---- list names

std::string AudioSampleGroup::listNameFor(std::string_view requested) {
    // A shortened name would make grain look-ups find another list (or none).
    if (requested.empty() || requested == kNoList || requested.size() > kMaxNameLength)
        return {};
    return std::string(requested);
}

// ---- the list

AudioSampleGroup::AudioSampleGroup(const AudioSampleGroup& other)
    : entries(other.entries.get()), dirty(other.dirty.load()), featureSet(other.featureSet.get()) {}

AudioSampleGroup& AudioSampleGroup::operator=(const AudioSampleGroup& other) {
    if (this != &other) {
        entries.publish(other.entries.get());
        featureSet.publish(other.featureSet.get());
        dirty = other.dirty.load();
    }
    return *this;
}

template <class Edit>
void AudioSampleGroup::_edit(Edit&& edit) {
    entries.update(edit);
    dirty.store(true, std::memory_order_release);
}

size_t AudioSampleGroup::size() const {
    return Bela_isAudioThread() ? entries.rt()->size() : entries.get()->size();
}

AudioSampleGroupEntryPtr AudioSampleGroup::entryAt(size_t index) const {
    return pickEntry([index](size_t) { return index; });
}

void AudioSampleGroup::insert(const std::string& sample, uint32_t frames, uint32_t index, float sampleRate,
                              float reference) {
    auto entry = std::make_shared<AudioSampleGroupEntry>(sample, frames, sampleRate, reference);
    _edit([&](AudioSampleGroupEntries& list) {
        list.insert(index < list.size() ? list.begin() + index : list.end(), std::move(entry));
    });
}

void AudioSampleGroup::appendCopy(const AudioSampleGroupEntry& entry) {
    auto copy = std::make_shared<AudioSampleGroupEntry>(entry);
    _edit([&](AudioSampleGroupEntries& list) { list.push_back(std::move(copy)); });
}

void AudioSampleGroup::insertRange(int32_t index, const AudioSampleGroupEntries& range) {
    _edit([&](AudioSampleGroupEntries& list) {
        const size_t at = index < 0 ? 0 : std::min<size_t>(size_t(index), list.size());
        list.insert(list.begin() + at, range.begin(), range.end());
    });
}

bool AudioSampleGroup::remove(uint32_t index) {
    if (index >= entries.get()->size())
        return false;
    _edit([&](AudioSampleGroupEntries& list) { list.erase(list.begin() + index); });
    return true;
}

bool AudioSampleGroup::swap(uint32_t i, uint32_t j) {
    if (std::max(i, j) >= entries.get()->size())
        return false;
    _edit([&](AudioSampleGroupEntries& list) { std::swap(list[i], list[j]); });
    return true;
}

// From the instrument's own generator, so that an offline run repeats.
void AudioSampleGroup::shuffle() {
    _edit([&](AudioSampleGroupEntries& list) {
        for (size_t i = list.size(); i > 1; --i)
            std::swap(list[i - 1], list[DSP::random.nextHigh() % i]);
    });
}

// ---- feature tree

bool AudioSampleGroup::rebuildTree(SampleSource& pool) {
    if (!dirty.load(std::memory_order_acquire) || entries.get()->empty())
        return false;
    // Cleared before reading the entries: an edit made during the build sets it again.
    dirty.store(false, std::memory_order_seq_cst);
    const auto list = entries.get();
    if (list->empty()) {
        dirty.store(true, std::memory_order_release);
        return false;
    }

    auto next = std::make_shared<FeatureSet>();
    for (const auto& entry : *list) {
        const auto resource = pool.getResource(entry->sample);
        if (!resource || !resource->analysed.load(std::memory_order_acquire) || resource->frameFeatures.empty())
            continue;
        const auto& features = resource->frameFeatures;
        const uint32_t lastAvailable = uint32_t(features.size() - 1);
        const uint32_t first = std::min(uint32_t(float(entry->startFrame.load()) * kHopScale), lastAvailable);
        const uint32_t last = std::min(uint32_t(float(entry->endFrame.load()) * kHopScale), lastAvailable);
        entry->firstHop = first;
        entry->lastHop = last;
        if (first > last)
            continue;
        next->spans.push_back({entry, first, last - first + 1, uint32_t(next->points.size())});
        for (uint32_t hop = first; hop <= last; ++hop)
            next->points.push_back(features[hop]);
    }

    // Normalise each dimension to 0..1 over the list; anything not finite becomes 0.
    if (!next->points.empty()) {
        for (size_t d = 0; d < next->points.front().size(); ++d) {
            float low = std::numeric_limits<float>::max(), high = -std::numeric_limits<float>::max();
            for (const auto& p : next->points) {
                if (std::isfinite(p[d])) {
                    low = std::min(low, p[d]);
                    high = std::max(high, p[d]);
                }
            }
            const float scale = high > low ? 1.0f / (high - low) : 0.0f;
            for (auto& p : next->points)
                p[d] = high > low && std::isfinite(p[d]) ? (p[d] - low) * scale : 0.0f;
        }
    }
    next->tree = KDTree(next->points);

    rt_printf("AudioSampleGroup: KDTree (re)built with %d points\n", int(next->points.size()));
    featureSet.publish(std::move(next));
    return true;
}

std::vector<FeatureHit> AudioSampleGroup::getSampleFromFeatures(const std::vector<float>& point, float radius) const {
    std::vector<FeatureHit> hits;
    if (entries.get()->empty()) {
        rt_printf("AudioSampleGroup::getSampleFromFeatures(): sample list is empty \n");
        return hits;
    }
    const auto set = featureSet.get();
    std::vector<uint32_t> indices;
    // A query point must have every dimension of the tree's points.
    const bool fits = !set->points.empty() && point.size() == set->points.front().size();
    if (fits) {
        if (radius > kNearestOnlyRadius)
            indices = set->tree.withinRadius(point, radius);
        if (indices.empty())
            if (const auto nearest = set->tree.nearest(point))
                indices.push_back(*nearest);
    }

    hits.reserve(indices.size());
    for (const uint32_t index : indices) {
        const auto span = std::upper_bound(set->spans.begin(), set->spans.end(), index,
                                           [](uint32_t i, const FeatureSet::Span& s) { return i < s.firstPoint; });
        if (span == set->spans.begin())
            continue;
        const auto& s = *(span - 1);
        if (index - s.firstPoint < s.count)
            hits.push_back({s.entry, s.firstHop + (index - s.firstPoint), index});
    }
    if (hits.size() < indices.size() || indices.empty())
        rt_printf("AudioSampleGroup::getSampleFromFeatures(): not all KDTree indices could be resolved to hops in "
                  "samples...\n");
    return hits;
}

// ---- JSON

nlohmann::json AudioSampleGroup::toJson() const {
    const auto list = entries.get();
    if (list->empty())
        return nullptr;
    nlohmann::json out = nlohmann::json::array();
    for (const auto& e : *list) {
        out.push_back({
            {kKeySample, e->sample},
            {kKeyPitchTracking, e->pitchTracking.load()},
            {kKeyReference, e->reference.load()},
            {kKeyLooping, e->looping.load()},
            {kKeyStartFromZero, e->startFromZero.load()},
            {kKeyVolume, e->volume.load()},
            {kKeyRate, e->rate.load()},
            {kKeyStartTime, e->startFrame.load()},
            {kKeyEndTime, e->endFrame.load()},
        });
    }
    return out;
}

int AudioSampleGroup::fromJson(const nlohmann::json& value, SampleSource& pool) {
    if (!value.is_array())
        return 0;
    auto next = std::make_shared<AudioSampleGroupEntries>();
    next->reserve(value.size());
    int missing = 0;

    // What was read stays read, also when an element raises a type error.
    struct Publish {
        AudioSampleGroup& group;
        std::shared_ptr<AudioSampleGroupEntries>& list;
        ~Publish() {
            group.entries.publish(list);
            group.dirty.store(true, std::memory_order_release);
        }
    } publish{*this, next};

    for (const auto& element : value) {
        // A missing key reads as null, so the type error names what was found.
        const nlohmann::json none;
        const auto& name = element.is_object() && element.contains(kKeySample) ? element[kKeySample] : none;
        const std::string sample = name.get<std::string>();
        if (!pool.loadSample(sample)) {
            ++missing;
            continue;
        }
        const auto resource = pool.getResource(sample);
        if (!resource) {
            ++missing;
            continue;
        }
        // A sample that could not be read stays in the list with no frames.
        const uint32_t frames = resource->loaded ? resource->frameCount() : 0;
        auto entry = std::make_shared<AudioSampleGroupEntry>(sample, frames, resource->sampleRate, resource->pitch);

        entry->pitchTracking = valueOr(element, kKeyPitchTracking, false);
        entry->setReference(valueOr(element, kKeyReference, kDefaultReference));
        entry->looping = valueOr(element, kKeyLooping, false);
        entry->startFromZero = valueOr(element, kKeyStartFromZero, false);
        entry->setVolume(valueOr(element, kKeyVolume, 0.0f));
        entry->setRate(valueOr(element, kKeyRate, 1.0f));
        entry->setRange(frameValue(element, kKeyStartTime, 0.0), valueOr(element, kKeyEndTime, double(frames)));
        next->push_back(std::move(entry));
    }
    return missing;
}
