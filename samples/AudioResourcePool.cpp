#include "samples/AudioResourcePool.h"

#include "dsp/Random.h"
#include "dsp/Utilities.h"
#include "platform/Audio.h"
#include "platform/Paths.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

namespace DSP {
extern Random random;
}

namespace {

constexpr const char* kNotLoaded = "Audio sample could not be loaded: [%s]\n";

}  // namespace

const std::array<AudioResourcePool::Source, 12>& AudioResourcePool::recordingSourceTable() {
    static const std::array<Source, 12> table{{
        {"mic in 1", 1, 0, 1, 0},
        {"mic in 2", 1, 1, 1, 0},
        {"mic in 1+2", 1, 0, 2, 0},
        {"line in 3", 1, 2, 1, 0},
        {"line in 4", 1, 3, 1, 0},
        {"line in 3+4", 1, 2, 2, 0},
        {"track 1", 2, 0, 2, 0},
        {"track 2", 2, 0, 2, 1},
        {"track 3", 2, 0, 2, 2},
        {"track 4", 2, 0, 2, 3},
        {"track 5", 2, 0, 2, 4},
        {"main output", 3, 0, 2, 0},
    }};
    return table;
}

AudioResourcePool::AudioResourcePool()
    : cursor("cursor", ParameterInt::PlainInt, NoFlags, 0, 0, 2147483647),
      parSampleList("list", ParameterInt::ChoiceMode, NoFlags, 0),
      sample("sample", ParameterInt::PlainInt, NoFlags, 0, 0, 2147483647),
      copyInsert("copy insert", ParameterInt::PlainInt, NoFlags, 0, 0, 2147483647),
      data("data", ParameterInt::ChoiceMode, NoFlags, 0),
      start("start", ParameterFloat::Milliseconds, XYMorph | Stored, 0.0f, 0.0f, FLT_MAX),
      end("end", ParameterFloat::Milliseconds, XYMorph | Stored, 0.0f, 0.0f, FLT_MAX),
      // 0 would freeze a voice and a negative rate reads before the sample.
      rate("rate", ParameterFraction::Ratio, NoFlags, 1.0f, 1.0f / kMinRate, kMaxRate),  // min: the largest denominator
      volume("volume", ParameterFloat::Decibels, NoFlags, 0.0f, -48.0f, 48.0f),
      listNames_{std::string()} {
    data.setChoices({"start", "end", "rate", "dBFS"}, 0);
    for (ParameterFloat* p : {&start, &end}) {
        p->coarseStep = 10.0f;
        p->fineStep = 1.0f;
    }
    DSP::samplePool.store(this, std::memory_order_release);
}

AudioResourcePool::~AudioResourcePool() {
    SamplePool* self = this;
    DSP::samplePool.compare_exchange_strong(self, nullptr);
}

bool AudioResourcePool::setup(bool withTask) {
    // A task of an earlier set-up is gone with its run: always a new one.
    task_.store(withTask ? Bela_createAuxiliaryTask(audioPoolBackgroundFunc, kWorkerPriority, "corvane-sample-worker",
                                                    this)
                         : nullptr,
                std::memory_order_release);
    updateListParameters();
    return !withTask || task_.load(std::memory_order_acquire);
}

// ---- samples

bool AudioResourcePool::_hostFile(const std::string& path, std::string& hostFile) {
    if (path.empty() || path[0] != '/')
        return false;
    // Paths come from project files: one that climbs out of the data folder is missing.
    const std::string normal = std::filesystem::path(path).lexically_normal().string();
    if (normal.compare(0, std::strlen(kSampleRoot), kSampleRoot) != 0)
        return false;
    hostFile = host::hostPath(normal);
    std::error_code ec;
    return std::filesystem::is_regular_file(hostFile, ec);
}

bool AudioResourcePool::loadSample(const std::string& path) {
    std::string hostFile;
    if (!_hostFile(path, hostFile)) {
        std::printf(kNotLoaded, path.c_str());
        return false;
    }
    if (resources_.get()->count(path))
        return true;
    // Read before publishing: the map is only replaced, never edited.
    auto resource = std::make_shared<AudioResource>(hostFile);
    resources_.update([&](ResourceMap& map) { map[path] = resource; });
    std::lock_guard<std::mutex> lock(queueLock_);
    analysisQueue_.push_back(path);
    return true;
}

int AudioResourcePool::loadSamples(const std::vector<std::string>& paths) {
    newSamples_.clear();
    for (const auto& path : paths)
        if (loadSample(path))
            newSamples_.push_back(path);
    if (!newSamples_.empty())
        newSamplesPending_ = true;
    return int(newSamples_.size());
}

std::shared_ptr<AudioResource> AudioResourcePool::getResource(const std::string& path) {
    if (Bela_isAudioThread()) {
        const ResourceMap* map = resources_.rt();
        const auto it = map->find(path);
        return it == map->end() ? nullptr : it->second;
    }
    const auto map = resources_.get();
    const auto it = map->find(path);
    return it == map->end() ? nullptr : it->second;
}

size_t AudioResourcePool::analysisQueued() const {
    std::lock_guard<std::mutex> lock(queueLock_);
    return analysisQueue_.size();
}

// ---- lists

void AudioResourcePool::_publishGroups(const std::function<void(GroupMap&)>& change) { groups_.update(change); }

AudioSampleGroup* AudioResourcePool::getGroup(const std::string& name, bool create) {
    if (auto group = sharedGroup(name))
        return group.get();
    // "none" is the engines' "no list": a list of that name could never be chosen.
    if (!create || AudioSampleGroup::listNameFor(name) != name)
        return nullptr;
    auto group = std::make_shared<AudioSampleGroup>();
    _publishGroups([&](GroupMap& map) { map.emplace(name, group); });
    return sharedGroup(name).get();
}

std::shared_ptr<AudioSampleGroup> AudioResourcePool::sharedGroup(std::string_view name) const {
    const auto map = groups_.get();
    const auto it = map->find(name);
    return it == map->end() ? nullptr : it->second;
}

AudioSampleGroupEntryPtr AudioResourcePool::getGroupEntry(std::string_view list, int32_t step, uint32_t order) {
    auto pick = [&](const GroupMap& map) -> AudioSampleGroupEntryPtr {
        const auto it = map.find(list);
        if (it == map.end())
            return {};
        return it->second->pickEntry(
            [&](size_t count) { return size_t(std::max(0, playOrderIndex(step, int32_t(count), order))); });
    };
    if (Bela_isAudioThread())
        return pick(*groups_.rt());
    return pick(*groups_.get());
}

std::vector<FeatureHit> AudioResourcePool::getGroupEntriesByFeature(std::string_view list, float a, float b,
                                                                    float radius) {
    const auto group = sharedGroup(list);
    if (!group || group->size() == 0)
        return {};
    return group->getSampleFromFeatures({a, b}, radius);
}

void AudioResourcePool::registerListParameter(ParameterInt* parameter) {
    if (!parameter)
        return;
    {
        std::lock_guard<std::mutex> lock(parametersLock_);
        // Each set-up registers the engines' lists again: once is enough.
        if (std::find(listParameters_.begin(), listParameters_.end(), parameter) == listParameters_.end())
            listParameters_.push_back(parameter);
    }
    std::vector<std::string> names = listNames();
    if (names.empty() || names.front() != kNoList)
        names = {kNoList};
    parameter->setChoices(names, -1);
}

void AudioResourcePool::unregisterListParameter(ParameterInt* parameter) {
    std::lock_guard<std::mutex> lock(parametersLock_);
    std::erase(listParameters_, parameter);
}

std::vector<std::string> AudioResourcePool::listNames() const {
    std::vector<std::string> names{kNoList};
    for (const auto& [name, group] : *groups_.get())
        names.push_back(name);
    return names;
}

void AudioResourcePool::updateListParameters() {
    const auto map = groups_.get();
    listNames_.clear();
    for (const auto& [name, group] : *map)
        listNames_.push_back(name);
    if (listNames_.empty()) {
        parSampleList.setChoices({std::string()}, -1);
        sample.setMax(0);
    } else {
        parSampleList.setChoices(listNames_, -1);
    }
    listNames_.insert(listNames_.begin(), kNoList);
    std::vector<ParameterInt*> parameters;
    {
        std::lock_guard<std::mutex> lock(parametersLock_);
        parameters = listParameters_;
    }
    for (ParameterInt* p : parameters)
        p->setChoices(listNames_, -1);
    if (!map->empty()) {
        const auto shown = _shownGroup();
        sample.setMax(std::max<int32_t>(0, int32_t(shown ? shown->size() : 0) - 1));
    }
}

void AudioResourcePool::_schedule() {
    AuxiliaryTask task = task_.load(std::memory_order_acquire);
    if (!task)
        return;
    if (const int error = Bela_scheduleAuxiliaryTask(task); error != 0)
        std::printf("AudioResourcePool: error occurred while scheduling background task: %s\n", std::strerror(error));
}

void AudioResourcePool::queueTreeRebuilds() {
    const auto map = groups_.get();
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        for (const auto& [name, group] : *map)
            if (group->dirty.load(std::memory_order_acquire))
                rebuildQueue_.push_back(name);
    }
    _schedule();
}

void AudioResourcePool::deleteList(const std::string& name) {
    _publishGroups([&](GroupMap& map) { map.erase(name); });
    updateListParameters();
}

bool AudioResourcePool::renameList(const std::string& oldName, const std::string& newName) {
    const auto group = sharedGroup(oldName);
    if (!group || AudioSampleGroup::listNameFor(newName) != newName || sharedGroup(newName))
        return false;
    // The same list under its new name: entries, flag and tree go along.
    _publishGroups([&](GroupMap& map) {
        map.erase(oldName);
        map.emplace(newName, group);
    });
    updateListParameters();
    return true;
}

void AudioResourcePool::_copySampleSelection(int32_t index, const std::string& fromList, const std::string& toList) {
    const auto from = sharedGroup(fromList);
    AudioSampleGroup* to = getGroup(toList, false);
    if (!from || !to)
        return;
    AudioSampleGroupEntries copies;
    for (const auto& entry : *from->entries.get()) {
        if (!entry->selected.load())
            continue;
        entry->selected = false;
        copies.push_back(std::make_shared<AudioSampleGroupEntry>(*entry));
    }
    if (!copies.empty())
        to->insertRange(index, copies);
    std::printf("AudioResourcePool: _copySampleSelection(%d, \"%s\", \"%s\") copied %d entries\n", index,
                fromList.c_str(), toList.c_str(), int(copies.size()));
    updateListParameters();
}

void AudioResourcePool::sliceEntry(uint32_t index, uint32_t slices, const std::string& fromList,
                                   const std::string& toList) {
    if (slices < 2)
        return;
    const std::string target = toList == kNoList ? fromList : toList;
    const auto from = sharedGroup(fromList);
    AudioSampleGroup* to = getGroup(target, false);
    if (!from || !to)
        return;
    const auto entry = from->entryAt(index);  // empty past the end
    if (!entry)
        return;
    const uint32_t first = entry->startFrame.load();
    const uint32_t last = entry->endFrame.load();
    // An entry whose start passed its end would wrap the part size round.
    if (last <= first)
        return;
    const uint32_t part = (last - first) / slices;
    AudioSampleGroupEntries pieces;
    for (uint32_t i = 0; i < slices; ++i) {
        auto piece = std::make_shared<AudioSampleGroupEntry>(*entry);
        piece->setRange(double(first) + double(i) * part, double(first) + double(i + 1) * part);
        piece->startFromZero = false;
        pieces.push_back(std::move(piece));
    }
    if (to == from.get())
        to->remove(index);
    to->insertRange(int32_t(index), pieces);
    updateListParameters();
}

void AudioResourcePool::unloadMarked() {
    resources_.update([](ResourceMap& map) {
        for (auto it = map.begin(); it != map.end();) {
            if (!it->second || !it->second->unloadMark.load()) {
                ++it;
                continue;
            }
            // One holder here, one in the map being replaced.
            if (it->second.use_count() > 2)
                std::printf("Sample that is to be unloaded likely still in use by DSP (AudioResource use count > 1)\n");
            it = map.erase(it);
        }
    });
    cursor.setMax(std::max<int32_t>(0, int32_t(resourceCount()) - 1));
    removeUnloadedEntries();
    if (groups_.get()->empty()) {
        parSampleList.setMax(0);
        sample.setMax(0);
    }
}

void AudioResourcePool::removeUnloadedEntries() {
    const auto resources = resources_.get();
    std::vector<std::string> emptied;
    for (const auto& [name, group] : *groups_.get()) {
        const auto list = group->entries.get();
        for (size_t i = list->size(); i-- > 0;)
            if (!resources->count((*list)[i]->sample))
                group->remove(uint32_t(i));
        if (group->size() == 0)
            emptied.push_back(name);
    }
    if (!emptied.empty())
        _publishGroups([&](GroupMap& map) {
            for (const auto& name : emptied)
                map.erase(name);
        });
    updateListParameters();
}

void AudioResourcePool::reset() {
    std::printf("Resetting AudioResourcePool\n");
    groups_.publish(std::make_shared<const GroupMap>());
    resources_.publish(std::make_shared<const ResourceMap>());
    cursor.setValue(0, false);
    parSampleList.setMax(0);
    sample.setMax(0);
    editingEntry_.reset();
    updateListParameters();
}

std::string AudioResourcePool::suggestListName() {
    nameChain_.clear();
    if (!copySource_.empty() || newSamples_.empty())
        return {};
    const std::string& chosen = newSamples_[DSP::random.nextHigh() % newSamples_.size()];
    char current = chosen.empty() ? 0 : chosen[DSP::random.nextHigh() % chosen.size()];
    for (const auto& path : newSamples_) {
        const size_t slash = path.rfind('/');
        std::string stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
        if (const size_t dot = stem.rfind('.'); dot != std::string::npos)
            stem.erase(dot);
        for (size_t i = 0; i < stem.size(); ++i)
            nameChain_[stem[i]].push_back(i + 1 < stem.size() ? stem[i + 1] : stem[0]);
    }
    if (nameChain_.empty())
        return {};
    std::string name;
    for (uint32_t i = 0; i < kNameLength; ++i) {
        const auto it = nameChain_.find(current);
        if (it != nameChain_.end() && !it->second.empty())
            current = it->second[DSP::random.nextHigh() % it->second.size()];
        else
            current = nameChain_.begin()->first;
        name.push_back(current);
    }
    return name;
}

// ---- the worker

void AudioResourcePool::runWorker() {
    std::printf("---audioPoolBackgroundFunc()\n");
    // Take what is queued now; paths added meanwhile wait for the next run.
    std::vector<std::string> analyse;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        analyse.swap(analysisQueue_);
    }
    analysing_.store(true, std::memory_order_release);
    for (const auto& path : analyse)
        if (auto resource = getResource(path))
            resource->analyse();
    std::printf("AudioResourcePool: %d samples analysed\n", int(analyse.size()));
    analysing_.store(false, std::memory_order_release);
    std::this_thread::yield();

    std::vector<std::string> rebuild;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        rebuild.swap(rebuildQueue_);
    }
    rebuilding_.store(true, std::memory_order_release);
    int rebuilt = 0;
    for (const auto& name : rebuild) {
        const auto group = sharedGroup(name);
        if (group && group->rebuildTree(*this))
            ++rebuilt;
        else
            std::printf("Could not rebuild tree of %s\n", name.c_str());
        if (links_.listChanged)
            links_.listChanged(name);
        std::this_thread::yield();
    }
    std::printf("AudioResourcePool: %d KDTrees rebuilt\n", rebuilt);
    rebuilding_.store(false, std::memory_order_release);
}

void audioPoolBackgroundFunc(void* arg) { (arg ? static_cast<AudioResourcePool*>(arg) : &DSP::audioPool)->runWorker(); }
