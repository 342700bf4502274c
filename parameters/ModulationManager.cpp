#include "parameters/ModulationManager.h"

#include "gui/GuiNotify.h"
#include "gui/PageWidgets.h"
#include "parameters/BasicEnvelope.h"
#include "parameters/BasicLFO.h"
#include "parameters/ChannelOffset.h"
#include "parameters/Parameter.h"
#include "parameters/RandomNumber.h"
#include "platform/RtPrintf.h"

namespace {
constexpr const char* kNoChannels = "Can't add modulator to this parameter...";
constexpr const char* kTooMany = "A parameter takes at most 8 modulators";
static_assert(Parameter::kMaxModulators == 8, "the notice names the limit");
constexpr const char* kTooDeep = "Modulators nest at most 80 deep";
static_assert(ModulationManager::kMaxNesting == 80, "the notice names the limit");
// The page's encoder cells: row 2, columns 1 to 3 of the grid.
constexpr uint32_t kFirstCell = 9;
}  // namespace

std::shared_ptr<Modulator> ModulationManager::addModulator(const std::string& typeName, uint32_t channelCount,
                                                           const std::string& targetName,
                                                           const std::string& targetGroupName) {
    std::lock_guard<std::recursive_mutex> lock(edits_);
    rt_printf("[ModulationManager] adding [%s] with %d channels to [%s: %s]. Track had %d modulators before this\n",
              typeName.c_str(), int(channelCount), targetGroupName.c_str(), targetName.c_str(), int(size()));
    const ModulatorType type = modulatorTypeFromName(typeName);
    if (type == 0)
        return {};
    if (channelCount == 0) {
        // Nothing per channel to hold: process would index empty vectors.
        rt_printf("[ModulationManager] can't add [%s] to [%s: %s]: it has no channels\n", typeName.c_str(),
                  targetGroupName.c_str(), targetName.c_str());
        return {};
    }
    return _list(_create(type, channelCount, targetName, targetGroupName));
}

std::shared_ptr<Modulator> ModulationManager::addModulatorTo(const std::string& typeName, Parameter& target) {
    std::lock_guard<std::recursive_mutex> lock(edits_);
    if (target.channelCount == 0) {
        _refuse(typeName, target, kNoChannels);
        return {};
    }
    if (target.modulatorCount() >= Parameter::kMaxModulators) {
        _refuse(typeName, target, kTooMany);
        return {};
    }
    const uint32_t nesting = _nestingOn(target);
    if (nesting > kMaxNesting) {
        _refuse(typeName, target, kTooDeep);
        return {};
    }
    std::shared_ptr<Modulator> m = addModulator(typeName, target.channelCount, target.name, target.groupName);
    if (m)
        m->nesting = nesting;
    if (m && !target.addModulator(m)) {
        // Another thread filled the list meanwhile: nothing may stay orphaned.
        removeModulator(m);
        return {};
    }
    return m;
}

uint32_t ModulationManager::_nestingOn(const Parameter& target) const {
    // A control of one of this track's modulators: one link further down.
    std::shared_ptr<const List> current = modulators.get();
    for (const auto& m : *current)
        if (m && target.group == &m->parameterGroup)
            return m->nesting + 1;
    return 1;
}

void ModulationManager::_refuse(const std::string& typeName, const Parameter& target, const char* why) {
    rt_printf("[ModulationManager] can't add [%s] to [%s: %s]: %s\n", typeName.c_str(), target.groupName.c_str(),
              target.name.c_str(), why);
    Driver::guiNotify.warning(why);
}

std::shared_ptr<Modulator> ModulationManager::_list(std::shared_ptr<Modulator> m) {
    if (!m)
        return {};
    auto next = std::make_shared<List>(*modulators.get());
    next->push_back(m);
    modulators.publish(std::move(next));
    return m;
}

void ModulationManager::removeModulator(std::shared_ptr<Modulator>& m) {
    if (!m)
        return;
    std::lock_guard<std::recursive_mutex> lock(edits_);
    std::shared_ptr<const List> current = modulators.get();
    for (size_t i = 0; i < current->size(); ++i) {
        if ((*current)[i] != m)
            continue;
        rt_printf("[ModulationManager] removing [%s] assigned to [%s] which has %d refcounts\n",
                  m->typeName().c_str(), m->targetName.c_str(), int(m.use_count()));
        auto next = std::make_shared<List>(*current);
        next->erase(next->begin() + ptrdiff_t(i));
        modulators.publish(std::move(next));
        current.reset();  // the old list goes here
        // Those modulating its own parameters go with it: nothing could reach
        // them any more but their page slots.
        // (Their lists change only in the menu's and the loaders' task.)
        for (Parameter* p : m->parameterGroup.parameters) {
            List attached(p->modulators.begin(), p->modulators.end());
            for (auto& a : attached)
                removeModulator(a);
        }
        return;
    }
}

void ModulationManager::removeUnused() {
    std::lock_guard<std::recursive_mutex> lock(edits_);
    // Each pass destroys what it drops, which can leave the modulators on
    // their controls unused in turn.
    for (bool dropped = true; dropped;) {
        std::shared_ptr<const List> current = modulators.get();
        auto next = std::make_shared<List>();
        next->reserve(current->size());
        for (const auto& m : *current) {
            if (m && m.use_count() == 1) {
                rt_printf("[ModulationManager] removing unused [%s] assigned to [%s]\n", m->typeName().c_str(),
                          m->targetName.c_str());
                continue;
            }
            next->push_back(m);
        }
        dropped = next->size() != current->size();
        if (dropped)
            modulators.publish(std::move(next));
        // The dropped ones are destroyed with `current`, on this thread.
    }
}

void ModulationManager::removeAll() {
    std::lock_guard<std::recursive_mutex> lock(edits_);
    for (;;) {
        std::shared_ptr<const List> current = modulators.get();
        if (current->empty())
            return;
        std::shared_ptr<Modulator> first = current->front();
        current.reset();
        removeModulator(first);
    }
}

size_t ModulationManager::size() const {
    return Bela_isAudioThread() ? modulators.rt()->size() : modulators.get()->size();
}

std::string ModulationManager::typeNameAt(size_t index) const {
    return _withModulator(index, [](Modulator* m) { return m ? m->typeName() : std::string(); });
}

std::shared_ptr<ParameterGroup> ModulationManager::parameterGroupAt(size_t index) const {
    std::shared_ptr<const List> l = modulators.get();
    if (index >= l->size() || !(*l)[index])
        return {};
    // Shares the modulator's ownership, so the group outlives any edit.
    return std::shared_ptr<ParameterGroup>((*l)[index], &(*l)[index]->parameterGroup);
}

Parameter* ModulationManager::encoderParameter(size_t index, uint32_t encoder) const {
    if (encoder < kFirstEncoder || encoder > kFirstEncoder + 2)
        return nullptr;
    return _withModulator(index, [&](Modulator* m) -> Parameter* {
        return m ? m->controls[encoder - kFirstEncoder].load() : nullptr;
    });
}

bool ModulationManager::changeParameter(size_t index, uint32_t slot, int ticks, bool fine) {
    return _withModulator(index, [&](Modulator* m) {
        Parameter* p = m && slot < Modulator::kControls ? m->controls[slot].load() : nullptr;
        return p ? p->changeBy(ticks, fine, false) : false;
    });
}

void ModulationManager::buttonPressed(size_t index, uint32_t button) {
    _withModulator(index, [&](Modulator* m) {
        if (!m)
            return;
        Parameter* control = nullptr;
        for (size_t k = 0; k < 3; ++k)
            if (button == kSlotButtons[k])
                control = m->controls[3 + k];
        // Every button slot of the kinds holds a choice.
        if (auto* choice = dynamic_cast<ParameterInt*>(control)) {
            // Limited before it is stored (a choice list wraps to its first
            // entry): the audio thread never sees an index past the list.
            const unsigned slot = choice->activeSlot;
            if (slot < choice->values.size())
                choice->setValue(choice->values[slot] + 1, false);
            choice->overridden = true;
        }
        m->refreshControls();
    });
}

void ModulationManager::drawModulator(MonoGFX* g, uint32_t x, uint32_t y, size_t index, uint32_t selectedEncoder) {
    _withModulator(index, [&](Modulator* m) {
        if (!m || !g)
            return;
        for (uint32_t k = 0; k < 3; ++k) {
            const Parameter* p = m->controls[k];
            if (!p)
                continue;
            GUI::drawParameterCell(*g, kFirstCell + k, p->name, p->toString(false), p->modulatorCount() != 0,
                                   p->midiMapped.load(), kFirstEncoder + k == selectedEncoder,
                                   p->xyMorph && p->overridden.load(), p->getNormalised());
        }
        m->drawPage(g, x, y);
    });
}

std::shared_ptr<Modulator> ModulationManager::_create(ModulatorType type, uint32_t channelCount,
                                                      const std::string& targetName,
                                                      const std::string& targetGroupName) {
    switch (type) {
    case 1:
        return std::make_shared<BasicLFO>(channelCount, targetName, targetGroupName);
    case 2:
        return std::make_shared<BasicEnvelope>(channelCount, targetName, targetGroupName);
    case 3:
        return std::make_shared<RandomNumber>(channelCount, targetName, targetGroupName);
    case 4:
        return std::make_shared<ChannelOffset>(channelCount, targetName, targetGroupName);
    default:
        return {};
    }
}
