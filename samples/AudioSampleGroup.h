// A sample list: named (by the pool), ordered entries that the sample engines
// play by position and the granular engine picks by sound through a feature
// tree over the loudness/centroid plane.
//
// Threads: the interface thread edits the list, the sample worker rebuilds
// the tree, the grain look-up task queries it and the audio thread picks
// entries. The entry vector and the tree are immutable snapshots that the
// writer replaces as a whole (Snapshot); entry settings are atomics.
#pragma once

#include "samples/KDTree.h"
#include "samples/SampleSource.h"
#include "parameters/Snapshot.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct AudioSampleGroupEntry {
    // Playback rates outside this range are taken to its ends (0 would stall a voice).
    static constexpr float kMinRate = 1.0f / 256.0f;
    static constexpr float kMaxRate = 256.0f;
    static constexpr float kMinVolume = -48.0f;
    static constexpr float kMaxVolume = 48.0f;

    AudioSampleGroupEntry(const std::string& sample, uint32_t frames, float sampleRate, float reference);
    AudioSampleGroupEntry(const AudioSampleGroupEntry& other);
    AudioSampleGroupEntry& operator=(const AudioSampleGroupEntry&) = delete;

    // Setters for values from outside: clamp, NaN and infinities included.
    void setRate(float value);
    void setVolume(float value);
    void setReference(float value);
    // Keeps 0 <= start <= end <= frames.
    void setRange(double start, double end);

    std::atomic<float> reference;
    std::atomic<bool> pitchTracking{false};
    std::atomic<bool> looping{false};
    std::atomic<bool> startFromZero{false};
    std::atomic<float> volume{0.0f};
    std::atomic<float> rate{1.0f};
    std::atomic<uint32_t> startFrame{0};
    std::atomic<uint32_t> endFrame;
    std::atomic<uint32_t> firstHop{0};
    std::atomic<uint32_t> lastHop{0};
    std::atomic<bool> selected{false};
    const std::string sample;
    const float sampleRate;
    const uint32_t frames;
};

using AudioSampleGroupEntryPtr = std::shared_ptr<AudioSampleGroupEntry>;
using AudioSampleGroupEntries = std::vector<AudioSampleGroupEntryPtr>;

// One answer of a feature query: an entry and the hop of its sample.
struct FeatureHit {
    AudioSampleGroupEntryPtr entry;
    uint32_t hop;
    uint32_t pointIndex;
};

// Everything one tree rebuild made. The spans say which entry and hops the
// points came from, so a query resolves against the list as it was then.
struct FeatureSet {
    struct Span {
        AudioSampleGroupEntryPtr entry;
        uint32_t firstHop;
        uint32_t count;
        uint32_t firstPoint;
    };
    std::vector<KDPoint> points;  // normalised (loudness, centroid) per hop
    KDTree tree;
    std::vector<Span> spans;
};

class AudioSampleGroup {
public:
    // The grain request carries a list name in 20 bytes, terminator included.
    static constexpr size_t kMaxNameLength = 19;

    // The name a new list may get; empty when refused: empty, "none" (the
    // engines' "no list" choice), or too long for a grain request.
    static std::string listNameFor(std::string_view requested);

    AudioSampleGroup() = default;
    // Shares the other list's entries and tree (both are immutable).
    AudioSampleGroup(const AudioSampleGroup& other);
    AudioSampleGroup& operator=(const AudioSampleGroup& other);

    // Interface thread: each publishes a new entry vector and sets dirty.
    void insert(const std::string& sample, uint32_t frames, uint32_t index, float sampleRate, float reference);
    void appendCopy(const AudioSampleGroupEntry& entry);
    void insertRange(int32_t index, const AudioSampleGroupEntries& range);
    bool remove(uint32_t index);
    bool swap(uint32_t i, uint32_t j);
    void shuffle();

    // Safe on any thread, the audio thread included.
    size_t size() const;
    AudioSampleGroupEntryPtr entryAt(size_t index) const;
    // Picks an entry by choose(count) -> index from one consistent view of the
    // list; empty when the list is empty or the index is out of range. Real-time safe.
    template <class Choose>
    AudioSampleGroupEntryPtr pickEntry(Choose&& choose) const;

    // Sample worker: false when nothing changed or the list is empty.
    bool rebuildTree(SampleSource& pool);
    // Grain look-up task.
    std::vector<FeatureHit> getSampleFromFeatures(const std::vector<float>& point, float radius) const;
    std::shared_ptr<const FeatureSet> features() const { return featureSet.get(); }

    nlohmann::json toJson() const;
    // Replaces the entries with the array's; returns the number of samples that
    // could not be loaded. Raises the JSON library's type errors on bad elements,
    // keeping the entries read before.
    int fromJson(const nlohmann::json& value, SampleSource& pool);

    Snapshot<AudioSampleGroupEntries> entries;
    // Changed since the last tree build.
    std::atomic<bool> dirty{false};

private:
    template <class Edit>
    void _edit(Edit&& edit);

    Snapshot<FeatureSet> featureSet;
};

template <class Choose>
AudioSampleGroupEntryPtr AudioSampleGroup::pickEntry(Choose&& choose) const {
    // The audio thread must not share (and so maybe free) a snapshot: it peeks.
    std::shared_ptr<const AudioSampleGroupEntries> shared;
    const AudioSampleGroupEntries* list = Bela_isAudioThread() ? entries.rt() : (shared = entries.get()).get();
    if (list->empty())
        return {};
    const size_t index = choose(list->size());
    return index < list->size() ? (*list)[index] : AudioSampleGroupEntryPtr{};
}
