// Track: the page of the current track and the parameter menu's flows
// (add or remove a modulator, MIDI learn), on the interface task.
#include "instrument/track/Track.h"

#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "gui/PageWidgets.h"
#include "platform/RtPrintf.h"
#include "sequencing/MorphController.h"
#include "sequencing/NoteManager.h"

#include <algorithm>
#include <string>
#include <vector>

namespace Driver {
extern GuiNotify guiNotify;
extern ListSelect listSelection;
}  // namespace Driver

namespace {

// The slot keyboard's view of a track.
class TrackSlots : public GUI::SlotContent {
public:
    TrackSlots(Sequencer* sequencer, const MotionRecorder& recorder) : sequencer_(sequencer), recorder_(recorder) {}
    int32_t currentSlot(Kind kind) const override {
        if (kind == MotionLoop)
            return recorder_.motion.value.load(std::memory_order_relaxed);
        if (!sequencer_)
            return -1;
        return (kind == Pattern ? sequencer_->pattern : sequencer_->noteList).value.load(std::memory_order_relaxed);
    }
    bool isSlotUsed(Kind kind, int32_t slot) const override {
        if (kind == Pattern)
            return sequencer_ && sequencer_->isSlotUsed(slot);
        if (kind == MotionLoop) {
            const MotionRecording* r = DSP::motion.recording(slot);
            return r && !r->empty();
        }
        const auto list = DSP::noteManager.list(slot);
        return kind == NoteList && list && !list->steps.empty();
    }

private:
    Sequencer* sequencer_;
    const MotionRecorder& recorder_;
};

constexpr const char* kEditValue = "edit value";
constexpr const char* kAddModulator = "add modulator";
constexpr const char* kRemoveModulator = "remove modulator";
constexpr const char* kAddMapping = "add MIDI mapping";
constexpr const char* kRemoveMapping = "remove MIDI mapping";
// Built on first use: the global objects that need it are constructed
// in another file, possibly before this one's globals.
const std::vector<std::string>& kModulatorTypes() {
    static const std::vector<std::string> names = {"LFO", "AD env", "random", "offset"};
    return names;
}
constexpr uint32_t kListOpen = 1;
constexpr uint32_t kListChosen = 2;
constexpr float kMinimumGraphMs = 2000.0f;
constexpr int kGraphHeight = 44;

// The item chosen in the list that just reported "chosen".
std::string chosenItem() {
    const auto& items = Driver::listSelection.items();
    const int32_t i = Driver::listSelection.chosen();
    return i >= 0 && size_t(i) < items.size() ? items[size_t(i)] : std::string();
}

}  // namespace

void Track::_endMenu() {
    menuParameter_ = nullptr;
    menuEffect_.reset();
    menuModulator_.reset();
    menuOnModulator_ = false;
    learnConfirmed.store(false, std::memory_order_release);
    menuState.store(MenuIdle, std::memory_order_release);
}

void Track::_openMenuList(int i) {
    if (menuState.load(std::memory_order_acquire) != MenuIdle)
        return;
    Parameter* p = nullptr;
    std::shared_ptr<AudioEffect> effect;
    if (i >= int(kFirstEngineEncoder) && effectPageShown.load(std::memory_order_acquire)) {
        // Held until the flow ends, so the target outlives a chain edit.
        effect = effectChain.getEffect(unsigned(i - int(kFirstEngineEncoder)) / 4);
        p = effect ? effect->encoderParameters[i % 4] : nullptr;
    } else {
        p = encoderParameter(i);
    }
    if (!p)
        return;
    std::shared_ptr<Modulator> owner;
    if (!effect)
        for (const auto& m : *modulation.list())
            if (p->group == &m->parameterGroup)
                owner = m;
    std::vector<std::string> items = {kEditValue};
    if (p->channelCount > 0) {
        items.push_back(kAddModulator);
        if (p->modulatorCount() > 0)
            items.push_back(kRemoveModulator);
    }
    items.push_back(p->midiMapped ? kRemoveMapping : kAddMapping);
    if (!Driver::listSelection.open("Parameter: " + p->name, items, true))
        return;
    menuParameter_ = p;
    menuEffect_ = std::move(effect);
    menuModulator_ = owner;
    menuOnModulator_ = owner != nullptr;
    menuState.store(MenuActions, std::memory_order_release);
}

bool Track::_menuTargetGone(std::shared_ptr<Modulator>& hold) {
    if (menuOnModulator_) {
        hold = menuModulator_.lock();
        if (!hold)
            return true;
        const auto list = modulation.list();
        return std::find(list->begin(), list->end(), hold) == list->end();
    }
    if (!menuEffect_ || effectChain.isBusy())
        return false;
    for (unsigned i = 0; i < effectChain.effectCount(); ++i) {
        const std::shared_ptr<AudioEffect> e = effectChain.getEffect(i);
        if (!e || e == menuEffect_)
            return false;  // still there, or a change under way: ask again later
    }
    return true;
}

void Track::_runMenuFlows() {
    if (menuState.load(std::memory_order_acquire) == MenuIdle && !learnConfirmed.load(std::memory_order_acquire))
        return;
    // A load may have freed the target since the flow began: the flow then
    // acts on nothing and ends (at once while it waits for MIDI).
    std::shared_ptr<Modulator> hold;
    Parameter* p = _menuTargetGone(hold) ? nullptr : menuParameter_;
    if (!p && menuState.load(std::memory_order_acquire) == MenuLearn) {
        _endMenu();
        return;
    }
    if (learnConfirmed.load(std::memory_order_acquire)) {
        if (p && p->group) {
            rt_printf("Parameter [%s] belongs to [%s]\n", p->name.c_str(), p->group->name.c_str());
            const MidiMappingKey key = learnedKey.load();
            if (p->group->addMidiMapping(key, p->name))
                Driver::guiNotify.success("Mapped " + midiMappingToString(key) + " to " + p->name);
        }
        _endMenu();
        return;
    }
    const uint32_t state = menuState.load(std::memory_order_acquire);
    if (state != MenuActions && state != MenuAddModulator && state != MenuRemoveModulator)
        return;
    const uint32_t result = Driver::listSelection.result();
    if (result == kListOpen)
        return;
    if (result != kListChosen || !p) {
        // Cancelled, or the list went away: the flow ends.
        _endMenu();
        return;
    }
    const std::string item = chosenItem();
    if (state == MenuActions) {
        if (item == kEditValue) {
            p->openEditor();
        } else if (item == kAddModulator) {
            if (p->channelCount > 0 &&
                Driver::listSelection.open("Add modulator to " + p->name, kModulatorTypes(), true)) {
                menuState.store(MenuAddModulator, std::memory_order_release);
                return;
            }
            if (p->channelCount == 0)
                Driver::guiNotify.warning("Can't add modulator to this parameter...");
        } else if (item == kRemoveModulator) {
            std::vector<std::string> names;
            for (unsigned k = 0; k < p->modulatorCount(); ++k)
                names.push_back(p->modulatorName(k));
            if (!names.empty() && Driver::listSelection.open("Remove from " + p->name, names, false)) {
                menuState.store(MenuRemoveModulator, std::memory_order_release);
                return;
            }
            if (names.empty())
                Driver::guiNotify.warning("Can't remove any modulators from " + p->name);
        } else if (item == kAddMapping) {
            learnedKey.store(MidiMappingKey{});
            if (p->group) {
                menuState.store(MenuLearn, std::memory_order_release);
                return;
            }
        } else if (item == kRemoveMapping) {
            if (p->group) {
                if (p->group->removeMidiMapping(p->name))
                    Driver::guiNotify.success("Removed MIDI in mapping from " + p->name);
                else
                    Driver::guiNotify.warning("Could not remove MIDI in mapping from " + p->name);
            }
        }
        _endMenu();
        return;
    }
    if (state == MenuAddModulator) {
        std::shared_ptr<Modulator> m;
        {
            BusySection busy(*this);
            // Created and attached together: refused with a notice when the
            // parameter holds its maximum, so nothing is left unattached.
            m = modulation.addModulatorTo(item, *p);
        }
        if (m) {
            BusySection busy(*this);
            const uint32_t choices = refreshSlotChoices();
            slot.setValue(int32_t(choices) - 1, false);
            effectPageShown.store(false, std::memory_order_release);
            if (effectChain.editorMode() == EffectChain::Idle && !effectChain.isBusy())
                focus = 31;
        }
        _endMenu();
        return;
    }
    // MenuRemoveModulator: the index is checked against the list as it is now.
    const int32_t k = Driver::listSelection.chosen();
    if (k >= 0 && size_t(k) < p->modulatorCount()) {
        std::shared_ptr<Modulator> m = p->removeModulator(unsigned(k));
        BusySection busy(*this);
        if (m)
            modulation.removeModulator(m);
        refreshSlotChoices();
    }
    _endMenu();
}

void Track::_drawCell(MonoGFX& w, uint32_t cell, Parameter* p, uint32_t encoderIndex) {
    if (!p)
        return;
    const uint32_t f = focus;
    GUI::drawParameterCell(w, cell, p->name, p->toString(), p->modulatorCount() > 0, p->midiMapped,
                           f == encoderIndex, f == encoderIndex, p->getNormalised());
    if (p->xyMorph && p->overridden) {
        // The override mark: a dot in the cell's corner.
        const int x = GUI::kCellLeft + GUI::kCellWidth * int(cell & 3);
        const int y = GUI::kCellHeight * int(cell >> 2);
        w.setColour(15);
        w.setPixel(x + GUI::kCellWidth - 4, y + GUI::kCellHeight - 6);
    }
}

void Track::_drawEnvelopeGraph(MonoGFX& w, SynthVoiceCommon& e) {
    std::array<EnvelopeInfo, SynthVoiceCommon::kEnvelopeBanks> info{};
    const uint32_t n = std::min<uint32_t>(e.envInfo(info), SynthVoiceCommon::kEnvelopeBanks);
    if (n == 0)
        return;
    float longest = kMinimumGraphMs;
    for (uint32_t k = 0; k < n; ++k)
        longest = std::max(longest, info[k].attack + info[k].hold + info[k].decay + info[k].extra);
    const float t = 1.1f * longest;
    const int x0 = int(envelopeLeft), x1 = x0 + 4 * int(envelopeCellWidth);
    const float s = float(x1 - x0) / t;
    const int rowHeight = kGraphHeight / int(n);
    const int32_t selected = slot.value;
    for (uint32_t k = 0; k < n; ++k) {
        const int y0 = int(k) * rowHeight;
        const int y1 = y0 + rowHeight - 2;
        const int xa = x0 + int(info[k].attack * s);
        const int xh = xa + int(info[k].hold * s);
        const int xd = xh + int(info[k].decay * s);
        const int ys = y1 - int(float(y1 - y0) * std::clamp(info[k].extra, 0.0f, 1.0f));
        w.setColour(4);
        w.setDotted(true);
        w.drawLine(xa, y1, xa, y0);
        w.drawLine(xh, y1, xh, y0);
        w.drawLine(xd, y1, xd, ys);
        w.setDotted(false);
        w.setColour(int32_t(k) == selected ? 15 : 4);
        w.drawLine(x0, y1, xa, y0);
        w.drawLine(xa, y0, xh, y0);
        w.drawLine(xh, y0, xd, ys);
        w.setDotted(true);
        w.drawLine(x1, ys, xd, ys);
        w.setDotted(false);
    }
}

void Track::_drawArea(MonoGFX& w) {
    SynthVoiceCommon& e = *currentEngine();
    const uint32_t f = focus;
    const int page = int(index) + 1;
    if (f < kFirstEngineEncoder) {
        sequencer->draw(w, int(index), int(f));
        uint32_t first = 0, count = 8, cell = 4;
        if (f >= 8 && f < 12) {
            first = 8, count = 4, cell = 8;
        } else if (f >= 12) {
            first = 12, count = 4, cell = 8;
        }
        GUI::drawPageIndicator(w, 0, 45, first, count, page);
        for (uint32_t k = 0; k < count; ++k)
            _drawCell(w, cell + k, encoderParameters[first + k].load(std::memory_order_acquire), first + k);
        return;
    }
    motionRecorder.draw(w, 0, 0);
    e.drawOverview(w, index, f, 20, 0);
    if (effectPageShown.load(std::memory_order_acquire)) {
        const uint32_t effectIndex = (f - kFirstEngineEncoder) / 4;
        GUI::drawPageIndicator(w, 0, 45, kFirstEngineEncoder + 4 * effectIndex, 4, page);
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t enc = kFirstEngineEncoder + 4 * effectIndex + k;
            _drawCell(w, 8 + k, effectChain.getParameter(int(enc)), enc);
        }
        effectChain.draw(&w, 0, 0, 0, int(effectIndex));
        return;
    }
    if (f < kSlotEncoder) {
        GUI::drawPageIndicator(w, 0, 45, kFirstEngineEncoder, 12, page);
        for (uint32_t k = 0; k < 12; ++k)
            _drawCell(w, k, e.exposedParameters[k].load(std::memory_order_acquire), kFirstEngineEncoder + k);
        return;
    }
    GUI::drawPageIndicator(w, 0, 45, kSlotEncoder, 4, page);
    _drawCell(w, 8, &slot, kSlotEncoder);
    const int32_t s = slot.value;
    const uint32_t n = e.envSlots();
    if (s >= 0 && uint32_t(s) < n) {
        // Engines without envelope slots show no envelope page.
        if (n > 0) {
            for (uint32_t k = 12; k < 16; ++k)
                _drawCell(w, k - 4, e.exposedParameters[k].load(std::memory_order_acquire), kFirstEngineEncoder + k);
            _drawEnvelopeGraph(w, e);
        }
    } else if (s >= 0) {
        modulation.drawModulator(&w, envelopeLeft, 0, uint32_t(s) - n, f);
    }
}

bool Track::_chainChanged() {
    if (effectChain.isBusy())
        return false;  // asked again at the next draw
    std::vector<std::weak_ptr<AudioEffect>> now;
    const uint32_t count = effectChain.effectCount();
    for (unsigned i = 0; i < count; ++i) {
        std::shared_ptr<AudioEffect> e = effectChain.getEffect(i);
        if (!e)
            return false;  // a change under way
        now.emplace_back(e);
    }
    // Compared by identity: an effect freed since expires, even when a new
    // one took its memory.
    bool same = now.size() == lastChain_.size();
    for (size_t i = 0; same && i < now.size(); ++i)
        same = lastChain_[i].lock() == now[i].lock();
    if (same)
        return false;
    lastChain_ = std::move(now);
    return true;
}

void Track::draw(MonoGFX& w) {
    window = &w;
    serviceRequests();
    _runMenuFlows();
    // The interface task cleared the window and drew its own corner first.
    _drawArea(w);
    if (effectPageShown.load(std::memory_order_acquire) && _chainChanged()) {
        BusySection busy(*this);
        modulation.removeUnused();
        refreshSlotChoices();
    }
    GUI::drawSlotOverlay(w, TrackSlots(sequencer, motionRecorder));
    if (menuState.load(std::memory_order_acquire) == MenuLearn) {
        // Asked again here: the chain edit just above may have freed the
        // control the learn waits on, together with its modulator.
        std::shared_ptr<Modulator> hold;
        if (_menuTargetGone(hold)) {
            _endMenu();
            return;
        }
        const std::string name = menuParameter_ ? menuParameter_->name : std::string();
        w.drawMessageBox("Map MIDI " + midiMappingToString(learnedKey.load()) + " to " + name, 0, 1, 1);
    }
}
