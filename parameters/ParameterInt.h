// Whole-number controls: counts and indexes, on/off switches, choice lists
// and lengths in samples. A choice list is replaced whole, never edited, so
// the audio thread can read it while another thread swaps it.
#pragma once

#include "parameters/Parameter.h"
#include "parameters/Snapshot.h"
#include "platform/Audio.h"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

class ParameterInt;

// The value that the audio thread, the pages and the overview read: the active
// slot itself, so no way of setting the parameter can leave a second copy
// behind. Reads like the atomic word it replaces.
class ActiveSlotValue {
public:
    explicit ActiveSlotValue(const ParameterInt& owner) : owner_(owner) {}
    ActiveSlotValue(const ActiveSlotValue&) = delete;
    ActiveSlotValue& operator=(const ActiveSlotValue&) = delete;
    // The slots are single words; no other data is published through them.
    inline int32_t load(std::memory_order = std::memory_order_relaxed) const;
    operator int32_t() const { return load(); }

private:
    const ParameterInt& owner_;
};

struct ChoiceList {
    std::vector<std::string> names;
    std::vector<int32_t> values;  // empty, or one value per name
};

class ParameterInt : public Parameter {
public:
    enum DisplayMode : uint32_t {
        PlainInt = 0,        // "%d"
        Multiplicative = 1,  // fine steps double and halve
        ChoiceMode = 2,      // a list of names (also the on/off switch)
        Samples = 3,         // length in samples, shown in ms with alternate
    };
    static constexpr int32_t kNoMinimum = INT32_MIN;
    static constexpr int32_t kNoMaximum = INT32_MAX;

    ParameterInt(const std::string& name, uint32_t displayMode, ParameterFlags flags, int32_t defaultValue,
                 int32_t minimum = kNoMinimum, int32_t maximum = kNoMaximum);

    bool changeBy(int ticks, bool alternate, bool force) override;
    void constrain() override;
    void resetToDefault() override;
    void setNormalised(float x) override;
    bool setFromString(const std::string& text, int slot = -1) override;
    bool setFromOSC(const oscpkt::Message& message) override;
    void morphXY(float x, float y) override;
    void storeSnapshot(unsigned index) override;
    void resetSnapshots() override;
    void copySlot(unsigned from, unsigned to) override;
    json toJson() const override;
    void fromJson(json& j, ModulationManager* manager, FileVersion version) override;
    std::string toString(bool alternate = false) const override;
    float getNormalised() const override;
    void updateBlock() override;
    void openEditor() override;
    unsigned slotCount() const override { return unsigned(values.size()); }

    // Returns the value after constrain.
    int32_t setValue(int32_t v, bool markOverride);
    void setMin(int32_t v);
    void setMax(int32_t v);
    // Rounded, limited to the integer modulation bounds.
    int32_t getModulated(uint32_t channel, bool trigA, bool trigB, float extra = 0.0f);

    // selectIndex -1 keeps each slot's choice by name.
    void setChoices(const std::vector<std::string>& names, int selectIndex = -1, bool warn = false);
    void setChoicesWithValues(const std::vector<std::string>& names, const std::vector<int32_t>& values,
                              int selectIndex = -1, bool warn = false);
    std::shared_ptr<const ChoiceList> getChoices() const { return choiceList.get(); }
    // A copy of the names (not for the audio thread).
    std::vector<std::string> choices() const { return choiceList.get()->names; }
    size_t choiceCount() const;
    // "" for an index outside the list.
    std::string choiceName(int32_t index) const;

    uint32_t displayMode;
    std::vector<Relaxed<int32_t>> values;
    int32_t defaultValue = 0;
    Relaxed<int32_t> minimum{-2147483647};
    Relaxed<int32_t> maximum{2147483646};
    // Every slot holds a constrained value at all times: writers limit first,
    // then store, so a reader never sees a value outside the range.
    ActiveSlotValue value{*this};
    Snapshot<ChoiceList> choiceList;
    int32_t fineStep = 1;
    int32_t coarseStep = 8;

private:
    void _setChoices(const std::vector<std::string>& names, const std::vector<int32_t>* choiceValues,
                     int selectIndex, bool warn);
    int32_t _limited(int64_t v) const;
    int _choiceIndex(const ChoiceList& list, const std::string& name) const;
    // The audio thread reads the list without locking; others hold a copy.
    template <typename F>
    auto _withChoices(F&& f) const {
        if (Bela_isAudioThread())
            return f(*choiceList.rt());
        auto list = choiceList.get();
        return f(*list);
    }
};

int32_t ActiveSlotValue::load(std::memory_order) const { return owner_.values[owner_.activeSlot]; }
