// The chain page: key and encoder handlers (audio thread input routing) and
// the dialogs, which advance while the page is drawn (interface task).
#include "drivers/KeyDebouncer.h"
#include "effects/EffectChain.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"

#include <algorithm>
#include <climits>

namespace {

constexpr const char* kMenuTitle = "Edit FX chain:";
constexpr const char* kAddItem = "add effect";
constexpr const char* kRemoveItem = "remove effect";
constexpr const char* kAddTitle = "Select effect to add";
constexpr const char* kRemoveTitle = "Select effect to remove";
constexpr const char* kPositionText = "Set position for audio effect with X";
constexpr const char* kEditHint = "edit+fx";
constexpr const char* kNoEffects = "Track has no effects";

constexpr int kCancelKey = 2;
constexpr int kConfirmKey = 3;
constexpr int kMenuKey = 22;
constexpr int kShiftKey = 48;
constexpr int kPress = 2;
constexpr int kRepeat = 3;
constexpr int32_t kStillOpen = -2;
constexpr int32_t kNoAnswer = -1;

bool _swapMode(std::atomic<int32_t>& mode, int32_t from, int32_t to) {
    return mode.compare_exchange_strong(from, to, std::memory_order_acq_rel);
}

}  // namespace

void EffectChain::button(int key, int event, int selectedEffect) {
    (void)kPress;
    if (event == kRepeat || key < 2 || key > 22)
        return;
    switch (key) {
    case kCancelKey:
        _swapMode(mode, ChoosingPosition, Idle);
        return;
    case kConfirmKey:
        _swapMode(mode, ChoosingPosition, InsertPending);
        return;
    case 5:
    case 10:
    case 15: {
        Lookup lookup(*this);
        if (!lookup)
            return;  // dropped while the chain changes
        AudioEffect* effect = _effectAt(selectedEffect);
        if (!effect)
            return;
        auto* p = dynamic_cast<ParameterInt*>(effect->keyParameters[key / 5 - 1]);
        if (!p)
            return;
        const int64_t next = int64_t(p->values[p->activeSlot]) + 1;
        p->setValue(int32_t(std::min<int64_t>(next, INT32_MAX)), true);
        p->overridden = true;
        effect->remapParameters();
        return;
    }
    case kMenuKey:
        // The list itself is opened by the interface task: opening copies
        // strings, which the audio thread must not do.
        // Only from idle: while positioning, keys 3 and 2 end the insert.
        if (Key::key[kShiftKey].held() && _swapMode(mode, Idle, MenuOpen))
            menuRequested_.store(true, std::memory_order_release);
        return;
    default:
        return;
    }
}

bool EffectChain::encoder(int index, int delta, bool pushed) {
    if (index == kPositionEncoder)
        return mode.load(std::memory_order_acquire) == ChoosingPosition && position.changeBy(delta, false, false);
    if (index < kFirstEffectEncoder || index >= kFirstEffectEncoder + 16)
        return false;
    Lookup lookup(*this);
    if (!lookup)
        return false;
    AudioEffect* effect = _effectAt((index - kFirstEffectEncoder) / 4);
    Parameter* p = effect ? effect->encoderParameters[index % 4] : nullptr;
    return p && p->changeBy(delta, pushed, false);
}

bool EffectChain::_openList(const std::string& title, const std::vector<std::string>& items, bool remember,
                            Mode next) {
    if (!Driver::listSelection.open(title, items, remember)) {
        mode.store(Idle, std::memory_order_release);
        return false;
    }
    mode.store(next, std::memory_order_release);
    return true;
}

int32_t EffectChain::_listAnswer() {
    const uint32_t r = Driver::listSelection.result();
    if (r == kPopupOpen)
        return kStillOpen;
    if (r == kPopupAccepted)
        return Driver::listSelection.chosen();
    return kNoAnswer;
}

void EffectChain::update() {
    switch (mode.load(std::memory_order_acquire)) {
    case MenuOpen: {
        if (menuRequested_.exchange(false, std::memory_order_acq_rel)) {
            _openList(kMenuTitle, {kAddItem, kRemoveItem}, true, MenuOpen);
            return;
        }
        const int32_t chosen = _listAnswer();
        if (chosen == kStillOpen)
            return;
        if (chosen == 0) {
            if (effectCount() < maxEffects) {
                _openList(kAddTitle, addChoices, true, AddListOpen);
            } else {
                Driver::guiNotify.warning("This track can only have " + std::to_string(maxEffects) + " effects.");
                mode.store(Idle, std::memory_order_release);
            }
        } else if (chosen == 1) {
            std::vector<std::string> names;
            for (const auto& effect : _listCopy(true))
                names.push_back(effect->typeName);
            if (names.empty()) {
                Driver::guiNotify.warning(kNoEffects);
                mode.store(Idle, std::memory_order_release);
            } else {
                _openList(kRemoveTitle, names, false, RemoveListOpen);
            }
        } else {
            mode.store(Idle, std::memory_order_release);
        }
        return;
    }
    case AddListOpen: {
        const int32_t chosen = _listAnswer();
        if (chosen == kStillOpen)
            return;
        const auto& items = Driver::listSelection.items();
        if (chosen < 0 || size_t(chosen) >= items.size()) {
            mode.store(Idle, std::memory_order_release);
            return;
        }
        pendingType = effectTypeFromName(items[size_t(chosen)]);
        const uint32_t count = effectCount();
        position.setMax(int32_t(count));
        position.setValue(std::clamp<int32_t>(selectedIndex.load(std::memory_order_relaxed), 0, int32_t(count)),
                          false);
        mode.store(count == 0 ? InsertPending : ChoosingPosition, std::memory_order_release);
        return;
    }
    case InsertPending: {
        const std::string name = effectTypeName(pendingType);
        const int32_t at = position.value.load(std::memory_order_acquire);
        if (at >= 0 && insertEffect(pendingType, unsigned(at)))
            Driver::guiNotify.success("Added " + name + " to track");
        else
            Driver::guiNotify.warning("Could not add " + name);
        mode.store(Idle, std::memory_order_release);
        return;
    }
    case RemoveListOpen: {
        const int32_t chosen = _listAnswer();
        if (chosen == kStillOpen)
            return;
        if (chosen < 0) {
            mode.store(Idle, std::memory_order_release);
            return;
        }
        pendingRemoval = chosen;
        mode.store(RemovePending, std::memory_order_release);
        return;
    }
    case RemovePending: {
        // The index was chosen from the list as it stood when the dialog
        // opened; _takeEffect checks it against the list as it is now.
        std::shared_ptr<AudioEffect> removed =
            pendingRemoval >= 0 ? _takeEffect(unsigned(pendingRemoval)) : nullptr;
        if (removed)
            Driver::guiNotify.success("Removed " + removed->typeName + " from track");
        mode.store(Idle, std::memory_order_release);
        return;
    }
    default:
        return;
    }
}

void EffectChain::draw(MonoGFX* gfx, unsigned pass, int x, int y, int selected) {
    update();
    selectedIndex.store(selected, std::memory_order_relaxed);
    const auto list = _listCopy(false);
    const int count = int(list.size());
    const bool positioning = mode.load(std::memory_order_acquire) == ChoosingPosition;
    AudioEffect* chosen = selected >= 0 && selected < count ? list[size_t(selected)].get() : nullptr;

    if (positioning) {
        gfx->drawMessageBox(kPositionText, 1, 2, 2);
    } else if (chosen) {
        gfx->setTextMode(1);
        gfx->setFont(&font_default, 1, 0);
        gfx->setColour(15);
        gfx->drawText(255, y, chosen->typeName);
        gfx->setFont(&font_compact, 1, 0);
        gfx->setColour(8);
        gfx->drawText(255, y + 10, kEditHint);
        gfx->setTextMode(0);
    }
    if (chosen) {
        gfx->setFont(&font_compact, 1, 0);
        const int w = (255 - x) / 3;
        for (int j = 0; j < int(AudioEffect::kKeySlots); ++j) {
            Parameter* p = chosen->keyParameters[j];
            if (!p)
                continue;
            gfx->setColour(8);
            const int a = gfx->drawText(x + j * w, y + 33, p->name + ": ");
            gfx->setColour(15);
            gfx->drawText(x + j * w + a - 1, y + 33, p->toString(false));
        }
    }
    gfx->setColour(4);
    gfx->drawLine(x, y, x, y + 26);
    for (int c = 0; c < int(AudioBlock::kChannels); ++c) {
        const ChannelState s = lastState(uint32_t(c));
        gfx->setColour(s == ChannelState::Silent ? 4 : isActive(s) ? 15 : 0);
        gfx->drawLine(x + 1, y + 2 + 3 * c, x + 3, y + 2 + 3 * c);
    }
    int bx = x + 4;
    const int32_t insertAt = position.value.load(std::memory_order_acquire);
    for (int i = 0; i <= count; ++i) {
        if (positioning && i == insertAt) {
            gfx->setColourBlink(15, 8);
            gfx->drawLine(bx - 2, y, bx - 2, y + 26);
        }
        if (i < count)
            bx += list[size_t(i)]->drawHeader(gfx, pass, bx, y, i == selected, true);
    }
    gfx->setColour(4);
    gfx->drawLine(bx, y, bx, y + 26);
}
