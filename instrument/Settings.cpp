#include "instrument/Settings.h"

#include "gui/MonoGFX.h"
#include "parameters/Parameter.h"

#include <algorithm>
#include <utility>

namespace {
constexpr const char* kHeadingSuffix = " settings: ";
constexpr const char* kHelp = "X scroll  Y value";
constexpr uint32_t kHourglassIcon = 7;
constexpr uint32_t kLockIcon = 9;
constexpr int kFirstRowY = 13;
constexpr int kRowPitch = 10;
}  // namespace

SettingsGroup::SettingsGroup(const std::string& groupName, std::vector<Parameter*> list)
    : parameters(std::move(list)), name(groupName) {}

Settings::Settings()
    : setting("setting", ParameterInt::PlainInt, NoFlags, 0, 0, 0),
      uppercase("uppercase", ParameterString::Text, NoFlags, ""),
      lowercase("lowercase", ParameterString::Text, NoFlags, "") {}

Settings::~Settings() = default;

void Settings::setTitle(const std::string& text) {
    title_ = text;
    updateRowCount();
}

void Settings::setExtraGroup(SettingsGroup* group) {
    extraGroup_.store(group, std::memory_order_release);
    updateRowCount();
}

void Settings::addOpenCallback(Callback callback) {
    if (callback)
        openCallbacks.push_back(std::move(callback));
}

void Settings::addApplyCallback(Callback callback) {
    if (callback)
        applyCallbacks.push_back(std::move(callback));
}

void Settings::runApplyCallbacks() {
    for (auto& callback : applyCallbacks)
        if (callback)
            callback();
}

void Settings::updateRowCount() {
    size_t rows = 0;
    for (const auto& g : groups)
        rows += g.parameters.size();
    if (const SettingsGroup* extra = extraGroup())
        rows += extra->parameters.size();
    rowCount_.store(uint32_t(rows), std::memory_order_release);
    setting.setMax(rows == 0 ? 0 : int32_t(rows - 1));
}

Settings::RowLocation Settings::locateRow(int32_t row) const {
    RowLocation where;
    if (row < 0)
        return where;
    size_t r = size_t(row);
    for (size_t g = 0; g < groups.size(); ++g) {
        const size_t n = groups[g].parameters.size();
        if (r < n)
            return {true, uint32_t(g), uint32_t(r)};
        r -= n;
    }
    if (const SettingsGroup* extra = extraGroup(); extra && r < extra->parameters.size())
        return {true, uint32_t(groups.size()), uint32_t(r)};
    return where;
}

Parameter* Settings::parameterAt(int32_t row) const {
    const RowLocation where = locateRow(row);
    if (!where.found)
        return nullptr;
    const SettingsGroup* g = where.group < groups.size() ? &groups[where.group] : extraGroup();
    if (!g || where.index >= g->parameters.size())
        return nullptr;
    return g->parameters[where.index];
}

void Settings::encoder(int index, int delta, bool pushed) {
    if (index == kScrollEncoder) {
        setting.changeBy(delta, pushed, false);
    } else if (index == kValueEncoder) {
        if (Parameter* p = parameterAt(setting.value))
            if (p->changeBy(delta, pushed, false))
                applyRequested.store(true, std::memory_order_release);
    }
}

void Settings::button(int key, int event) {
    if (event == 3)
        return;
    if (key == kEditKey) {
        // The editor opens on the interface task's next frame: opening one
        // builds texts, which the audio thread does not.
        if (parameterAt(setting.value))
            editRow_.store(setting.value, std::memory_order_release);
    } else if (key == kCloseKey) {
        if (!isModalOpen())
            GUI::closeEditor();
    }
}

void Settings::open() {
    opened.store(true, std::memory_order_release);
    open_.store(true, std::memory_order_release);
}

bool Settings::close() {
    open_.store(false, std::memory_order_release);
    return true;
}

// Open from `open` until `close`.
bool Settings::isOpen() { return open_.load(std::memory_order_acquire); }

void Settings::draw(MonoGFX& window) {
    if (opened.exchange(false, std::memory_order_acq_rel))
        for (auto& callback : openCallbacks)
            if (callback)
                callback();
    if (applyNow.exchange(false, std::memory_order_acq_rel))
        runApplyCallbacks();
    const int32_t editRow = editRow_.exchange(-1, std::memory_order_acq_rel);
    if (editRow >= 0)
        if (Parameter* p = parameterAt(editRow))
            p->openEditor();

    window.clear();
    window.setColour(15);
    window.setFont(&font_default, 1, 0);
    window.setTextMode(0);
    window.drawText(0, 0, title_ + kHeadingSuffix);

    window.setColour(8);
    window.setFont(&font_compact, 1, 0);
    window.setTextMode(1);
    window.drawText(255, 1, kHelp);
    window.setTextMode(0);
    window.setDotted(true);
    window.drawLine(0, 10, 255, 10);
    window.setDotted(false);

    _drawRows(window);

    if (applyRequested.exchange(false, std::memory_order_acq_rel) && !applyCallbacks.empty()) {
        window.drawMessageBox("", kHourglassIcon, 1, 1);
        applyNow.store(true, std::memory_order_release);
    }
}

void Settings::_drawRows(MonoGFX& window) {
    const int32_t rows = int32_t(rowCount());
    const int32_t cursor = setting.value;
    // The bar keeps the cursor mid-way; at the end of the list the page
    // still fills its five rows.
    const int first = std::min(window.drawScrollBar(255, 12, 50, cursor, rows, kVisibleRows),
                               std::max(0, rows - kVisibleRows));
    const RowLocation cursorAt = locateRow(cursor);
    window.setFont(&font_compact, 1, 0);
    for (int k = 0; k < kVisibleRows; ++k) {
        const int32_t r = first + k;
        const int y = kFirstRowY + kRowPitch * k;
        if (r == cursor && r < rows) {
            window.setColour(2);
            window.fillRect(50, y - 1, 254, y + 8);
        }
        const RowLocation at = locateRow(r);
        if (!at.found)
            continue;
        const SettingsGroup* g = at.group < groups.size() ? &groups[at.group] : extraGroup();
        if (!g || at.index >= g->parameters.size())
            continue;
        Parameter* p = g->parameters[at.index];
        if (!p)
            continue;
        if (k == 0 || at.index == 0) {
            if (cursorAt.found && cursorAt.group == at.group) {
                window.setColour(2);
                window.fillRect(0, y - 1, 49, y + 8);
                window.setColour(15);
            } else {
                window.setColour(8);
            }
            window.drawText(1, y, g->name);
        }
        window.setColour(r == cursor ? 15 : 8);
        window.drawText(52, y, p->name);
        if (p->locked) {
            window.drawIcon(134, y, kLockIcon);
            window.drawText(142, y, p->toString());
        } else {
            window.drawText(134, y, p->toString());
        }
    }
}
