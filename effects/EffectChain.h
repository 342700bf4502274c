// An ordered list of at most four effects that processes one block in place
// every block, with the small editor of the chain page.
//
// Hand-over: the list is changed only inside a busy section (insert, remove,
// clear). The changer builds what it inserts first, sets `busy`, waits out
// the audio block in progress (block fence) and every lookup still inside
// the list, changes the list, clears `busy` (a guard does, whatever
// happens) and only then lets go of what it removed, on its own thread. The
// audio thread silences a block that starts while `busy` is set; lookups
// answer nothing meanwhile.
#pragma once

#include "dsp/AudioBlock.h"
#include "effects/AudioEffect.h"
#include "instrument/FileVersion.h"
#include "parameters/ParameterInt.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class ModulationManager;
class MonoGFX;
class ParameterGroup;

class EffectChain {
public:
    using json = nlohmann::json;

    static constexpr uint32_t kDefaultMaxEffects = 4;
    // Encoder indices 16..31 reach the exposed parameters, four per effect.
    static constexpr int kFirstEffectEncoder = 16;
    static constexpr int kPositionEncoder = 12;

    enum Mode : int32_t {
        Idle = 0,
        MenuOpen = 1,
        AddListOpen = 2,
        ChoosingPosition = 3,
        InsertPending = 4,
        RemoveListOpen = 7,
        RemovePending = 8,
    };

    explicit EffectChain(uint32_t maxEffects = kDefaultMaxEffects);
    ~EffectChain();
    EffectChain(const EffectChain&) = delete;
    EffectChain& operator=(const EffectChain&) = delete;

    // Audio thread, every block.
    void process(AudioBlock& block);

    // Lookups: nothing while the editor is open (getParameter only), while
    // the chain is busy, or for an index without an effect or parameter.
    // The plain pointer is for the audio thread within its block and for
    // the thread that changes the chain.
    Parameter* getParameter(int index);
    // For threads other than the audio thread (which must never hold the
    // last reference): the group stays alive while the caller holds it.
    std::shared_ptr<ParameterGroup> getParameterGroup(unsigned index);
    std::shared_ptr<AudioEffect> getEffect(unsigned index);
    // -1: every XY-morph member of every effect; else one exposed parameter.
    void clearOverrides(int index);
    // The owning track's per-block morph and snapshot keys; skipped while busy.
    bool morphXY(float x, float y);
    bool storeSnapshot(unsigned slot);
    bool resetSnapshots();

    // Changers (interface task or loader, never the audio thread).
    // Returns whether an effect was inserted; a position past the end or a
    // type without an effect class changes nothing.
    bool insertEffect(AudioEffectType type, unsigned position);
    bool removeEffect(unsigned index);
    void clear();
    void remapParameters();

    // The "effects" array in a file's root object: nothing when empty.
    void toJson(json& root) const;
    // Replaces the chain by the file's, when the file has an "effects"
    // array; keeps at most maxEffects, skips entries of unknown types. On a
    // JSON error the chain keeps the effects read before the bad entry, the
    // text goes to *error and the result is false.
    bool fromJson(json& root, ModulationManager* manager, FileVersion version, std::string* error = nullptr);
    // Older files stored the filter's resonance as "peak".
    static void upgradeFilterEntry(json& entry, const FileVersion& version);

    // Editor of the chain page (see EffectChainEditor.cpp).
    void button(int key, int event, int selectedEffect);
    bool encoder(int index, int delta, bool pushed);
    void update();
    void draw(MonoGFX* gfx, unsigned pass, int x, int y, int selected);

    uint32_t effectCount() const { return count_.load(std::memory_order_acquire); }
    bool isBusy() const { return busy.load(std::memory_order_seq_cst); }
    int32_t editorMode() const { return mode.load(std::memory_order_acquire); }
    ChannelState lastState(uint32_t c) const { return lastStates[c].load(std::memory_order_relaxed); }

    static constexpr const char* kEffectsKey = "effects";
    static constexpr const char* kTypeKey = "AudioEffectType";

    ParameterInt position;
    // Changed only inside a busy section; see above for who may read it.
    std::vector<std::shared_ptr<AudioEffect>> effects;
    std::atomic<int32_t> mode{Idle};
    uint32_t maxEffects;
    std::atomic<bool> busy{false};
    std::atomic<int32_t> selectedIndex{0};
    AudioEffectType pendingType = AudioEffectType::Unknown;
    int32_t pendingRemoval = 0;
    std::vector<std::string> addChoices;
    std::atomic<ChannelState> lastStates[AudioBlock::kChannels];

private:
    // Holds busy over a change of the list; always clears it.
    class BusySection {
    public:
        explicit BusySection(EffectChain& chain);
        ~BusySection();
        BusySection(const BusySection&) = delete;
        BusySection& operator=(const BusySection&) = delete;

    private:
        EffectChain& chain_;
    };

    // A lookup from any thread: inside while it converts to true.
    class Lookup {
    public:
        explicit Lookup(const EffectChain& chain);
        ~Lookup();
        Lookup(const Lookup&) = delete;
        Lookup& operator=(const Lookup&) = delete;
        explicit operator bool() const { return inside_; }

    private:
        const EffectChain& chain_;
        bool inside_;
    };

    bool _insertBuilt(std::shared_ptr<AudioEffect> effect, unsigned position);
    // Removes effect index from the list and hands it over to the caller.
    std::shared_ptr<AudioEffect> _takeEffect(unsigned index);
    // The list as it stands; with wait, a change in progress is waited out,
    // else an empty list is returned meanwhile.
    std::vector<std::shared_ptr<AudioEffect>> _listCopy(bool wait) const;
    AudioEffect* _effectAt(int index) const;
    // Opens a pop-up list for the editor; false (and mode 0) when refused.
    bool _openList(const std::string& title, const std::vector<std::string>& items, bool remember, Mode next);
    // The chosen item of the editor's list once it is closed: -1 cancelled,
    // -2 still open.
    int32_t _listAnswer();

    std::atomic<uint32_t> count_{0};
    mutable std::atomic<int32_t> lookups_{0};
    // Set by the key handler (audio thread); the menu list is opened by the
    // interface task, which may allocate.
    std::atomic<bool> menuRequested_{false};
};
