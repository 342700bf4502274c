#include "effects/EffectChain.h"

#include "effects/EffectFactory.h"
#include "parameters/ParameterGroup.h"
#include "platform/Audio.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

// Types offered by "add effect", before sorting ("circle" and "degrade" load
// from files but are not offered).
constexpr AudioEffectType kOffered[] = {
    AudioEffectType::AmpMod, AudioEffectType::Multiband, AudioEffectType::Compressor, AudioEffectType::Delay,
    AudioEffectType::Equalizer, AudioEffectType::FadeDelay, AudioEffectType::Limiter, AudioEffectType::Mono,
    AudioEffectType::ReRoute, AudioEffectType::Reverb, AudioEffectType::Drive, AudioEffectType::Filter,
    AudioEffectType::Stereo,
};

// Files before this version stored the filter's resonance as "peak".
const FileVersion kResoSince("", 0, 1, 29);

void _pause() { std::this_thread::sleep_for(std::chrono::microseconds(100)); }

}  // namespace

EffectChain::BusySection::BusySection(EffectChain& chain) : chain_(chain) {
    // One changer at a time; a second one waits for the first to finish.
    bool expected = false;
    while (!chain_.busy.compare_exchange_weak(expected, true, std::memory_order_seq_cst)) {
        expected = false;
        _pause();
    }
    Bela_blockFence();
    while (chain_.lookups_.load(std::memory_order_seq_cst) != 0)
        std::this_thread::yield();
}

EffectChain::BusySection::~BusySection() { chain_.busy.store(false, std::memory_order_seq_cst); }

EffectChain::Lookup::Lookup(const EffectChain& chain) : chain_(chain) {
    chain_.lookups_.fetch_add(1, std::memory_order_seq_cst);
    inside_ = !chain_.busy.load(std::memory_order_seq_cst);
    if (!inside_)
        chain_.lookups_.fetch_sub(1, std::memory_order_seq_cst);
}

EffectChain::Lookup::~Lookup() {
    if (inside_)
        chain_.lookups_.fetch_sub(1, std::memory_order_seq_cst);
}

EffectChain::EffectChain(uint32_t maxEffects)
    : position("position", ParameterInt::PlainInt, NoFlags, 0, 0, ParameterInt::kNoMaximum), maxEffects(maxEffects) {
    for (auto& s : lastStates)
        s.store(ChannelState::Silent, std::memory_order_relaxed);
    for (AudioEffectType type : kOffered)
        addChoices.push_back(effectTypeName(type));
    std::sort(addChoices.begin(), addChoices.end());
}

EffectChain::~EffectChain() = default;

void EffectChain::process(AudioBlock& block) {
    for (uint32_t c = 0; c < AudioBlock::kChannels; ++c) {
        ChannelState s = block.channelState[c];
        if (s != ChannelState::Silent && lastStates[c].load(std::memory_order_relaxed) == ChannelState::Silent) {
            s = ChannelState::Started;
            block.channelState[c] = s;
        }
        lastStates[c].store(s, std::memory_order_relaxed);
    }
    if (busy.load(std::memory_order_seq_cst)) {
        block.clear();
        return;
    }
    for (const auto& effect : effects)  // by reference: no count changes here
        if (effect->enabled.load(std::memory_order_relaxed))
            effect->process(block);
}

AudioEffect* EffectChain::_effectAt(int index) const {
    if (index < 0 || size_t(index) >= effects.size())
        return nullptr;
    return effects[size_t(index)].get();
}

namespace {

Parameter* _exposed(AudioEffect* effect, int index) {
    return effect ? effect->encoderParameters[index % 4] : nullptr;
}

}  // namespace

Parameter* EffectChain::getParameter(int index) {
    if (mode.load(std::memory_order_acquire) != Idle || index < kFirstEffectEncoder)
        return nullptr;
    Lookup lookup(*this);
    if (!lookup)
        return nullptr;
    return _exposed(_effectAt((index - kFirstEffectEncoder) / 4), index);
}

std::shared_ptr<AudioEffect> EffectChain::getEffect(unsigned index) {
    Lookup lookup(*this);
    if (!lookup || index >= effects.size())
        return nullptr;
    return effects[index];
}

std::shared_ptr<ParameterGroup> EffectChain::getParameterGroup(unsigned index) {
    std::shared_ptr<AudioEffect> effect = getEffect(index);
    if (!effect)
        return nullptr;
    return std::shared_ptr<ParameterGroup>(effect, &effect->group);
}

void EffectChain::clearOverrides(int index) {
    Lookup lookup(*this);
    if (!lookup)
        return;
    if (index == -1) {
        for (const auto& effect : effects)
            effect->group.clearOverrides();
        return;
    }
    if (mode.load(std::memory_order_acquire) != Idle || index < kFirstEffectEncoder)
        return;
    if (Parameter* p = _exposed(_effectAt((index - kFirstEffectEncoder) / 4), index))
        p->clearOverride();
}

bool EffectChain::morphXY(float x, float y) {
    Lookup lookup(*this);
    if (!lookup)
        return false;
    for (const auto& effect : effects)
        effect->group.morphXY(x, y);
    return true;
}

bool EffectChain::storeSnapshot(unsigned slot) {
    Lookup lookup(*this);
    if (!lookup)
        return false;
    for (const auto& effect : effects)
        effect->group.storeSnapshot(slot);
    return true;
}

bool EffectChain::resetSnapshots() {
    Lookup lookup(*this);
    if (!lookup)
        return false;
    for (const auto& effect : effects)
        effect->group.resetSnapshots();
    return true;
}

bool EffectChain::insertEffect(AudioEffectType type, unsigned position) {
    if (position > effectCount())
        return false;
    // Built before busy is set: the chain is silent only for the swap.
    return _insertBuilt(createEffect(type), position);
}

bool EffectChain::_insertBuilt(std::shared_ptr<AudioEffect> effect, unsigned position) {
    if (!effect)
        return false;
    BusySection section(*this);
    if (position > effects.size())
        return false;  // the effect goes with this frame, after busy is clear
    effects.insert(effects.begin() + position, std::move(effect));
    count_.store(uint32_t(effects.size()), std::memory_order_release);
    return true;
}

std::shared_ptr<AudioEffect> EffectChain::_takeEffect(unsigned index) {
    if (index >= effectCount())
        return nullptr;
    BusySection section(*this);
    if (index >= effects.size())
        return nullptr;
    std::shared_ptr<AudioEffect> taken = std::move(effects[index]);
    effects.erase(effects.begin() + index);
    count_.store(uint32_t(effects.size()), std::memory_order_release);
    return taken;
}

bool EffectChain::removeEffect(unsigned index) {
    // Released here, on the changing thread, once busy is clear.
    return _takeEffect(index) != nullptr;
}

void EffectChain::clear() {
    std::vector<std::shared_ptr<AudioEffect>> retired;
    {
        BusySection section(*this);
        retired.swap(effects);
        count_.store(0, std::memory_order_release);
    }
}

void EffectChain::remapParameters() {
    Lookup lookup(*this);
    if (!lookup)
        return;
    for (const auto& effect : effects)
        effect->remapParameters();
}

std::vector<std::shared_ptr<AudioEffect>> EffectChain::_listCopy(bool wait) const {
    for (;;) {
        {
            Lookup lookup(*this);
            if (lookup)
                return effects;
        }
        if (!wait)
            return {};
        _pause();
    }
}

void EffectChain::toJson(json& root) const {
    // Saving waits out a change in progress rather than writing a gap.
    auto list = _listCopy(true);
    if (list.empty()) {
        if (root.is_object())
            root.erase(kEffectsKey);
        return;
    }
    json array = json::array();
    for (const auto& effect : list) {
        json entry = json::object();
        entry[kTypeKey] = effect->typeName;
        effect->group.toJson(entry);
        array.push_back(std::move(entry));
    }
    root[kEffectsKey] = std::move(array);
}

void EffectChain::upgradeFilterEntry(json& entry, const FileVersion& version) {
    if (!(version < kResoSince) || !entry.is_object())
        return;
    auto peak = entry.find("peak");
    if (peak == entry.end() || !peak->is_object())
        return;
    json reso = *peak;
    auto toReso = [](json& v) {
        if (v.is_number())
            v = std::cbrt((v.get<double>() - 0.2) * double(0.071428575f));
    };
    auto value = reso.find("value");
    if (value != reso.end()) {
        if (value->is_array())
            for (json& v : *value)
                toReso(v);
        else
            toReso(*value);
    }
    entry["reso"] = std::move(reso);
}

bool EffectChain::fromJson(json& root, ModulationManager* manager, FileVersion version, std::string* error) {
    if (!root.is_object())
        return true;
    auto it = root.find(kEffectsKey);
    if (it == root.end() || !it->is_array())
        return true;
    clear();
    bool ok = true;
    try {
        json& list = *it;
        for (size_t i = 0; i < list.size(); ++i) {
            json& entry = list[i];
            if (!entry.is_object() || !entry.contains(kTypeKey)) {
                rt_printf("EffectChain: entry %zu names no effect, skipped\n", i);
                continue;
            }
            const std::string name = entry[kTypeKey].get<std::string>();
            if (effectCount() >= maxEffects) {
                rt_printf("EffectChain: more than %u effects, [%s] and later entries skipped\n", maxEffects,
                          name.c_str());
                break;
            }
            const AudioEffectType type = effectTypeFromName(name);
            std::shared_ptr<AudioEffect> effect = createEffect(type);
            if (!effect) {
                rt_printf("EffectChain: unknown effect [%s] skipped\n", name.c_str());
                continue;
            }
            if (type == AudioEffectType::Filter)
                upgradeFilterEntry(entry, version);
            // Restored before the audio thread can see it.
            effect->group.fromJson(entry, manager, version);
            _insertBuilt(std::move(effect), effectCount());
        }
    } catch (const json::exception& e) {
        if (error)
            *error = e.what();
        ok = false;
    }
    remapParameters();
    return ok;
}
