// Settings pages: lists of parameters under group headings, scrolled with
// one encoder, edited with another, typed on the numpad, left with a key.
// The instrument and every track own one; value changes run the page's
// apply callbacks on the interface task, one frame after the change, behind
// an hourglass box.
#pragma once

#include "gui/GuiEditor.h"
#include "parameters/ParameterInt.h"
#include "parameters/ParameterString.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class Parameter;

// A named list of parameters shown together on a settings page. The page,
// the instrument and every engine object hold these; the parameters belong
// to their owners, not to the group.
class SettingsGroup {
public:
    SettingsGroup() = default;
    SettingsGroup(const std::string& name, std::vector<Parameter*> parameters);

    void setName(const std::string& newName) { name = newName; }

    std::vector<Parameter*> parameters;
    std::string name;
};

class Settings : public GuiEditor {
public:
    using Callback = std::function<void()>;

    static constexpr int kScrollEncoder = 12;
    static constexpr int kValueEncoder = 28;
    static constexpr int kEditKey = 1;
    static constexpr int kCloseKey = 3;
    static constexpr int kVisibleRows = 5;

    struct RowLocation {
        bool found = false;
        uint32_t group = 0;  // == groups.size() for the extra group
        uint32_t index = 0;
    };

    Settings();
    ~Settings() override;
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // GuiEditor: encoder and button come from the audio thread, the rest
    // from the interface task.
    void encoder(int index, int delta, bool pushed) override;
    void button(int key, int event) override;
    void open() override;
    bool close() override;
    bool isOpen() override;
    void draw(MonoGFX& window) override;

    void setTitle(const std::string& text);
    // The extra group is owned elsewhere (a track attaches its engine's);
    // it may be swapped from the audio thread while the page draws.
    void setExtraGroup(SettingsGroup* group);
    SettingsGroup* extraGroup() const { return extraGroup_.load(std::memory_order_acquire); }
    // Empty callbacks are refused (they would end the interface task).
    void addOpenCallback(Callback callback);
    void addApplyCallback(Callback callback);
    void runApplyCallbacks();
    void updateRowCount();
    RowLocation locateRow(int32_t row) const;
    // The parameter shown on a row; null when there is none.
    Parameter* parameterAt(int32_t row) const;
    uint32_t rowCount() const { return rowCount_.load(std::memory_order_acquire); }
    const std::string& title() const { return title_; }

    // Appended to by the page's owner before the page is used.
    std::vector<SettingsGroup> groups;
    ParameterInt setting;
    ParameterString uppercase;
    ParameterString lowercase;
    std::atomic<bool> applyRequested{false};
    std::atomic<bool> opened{false};
    std::atomic<bool> applyNow{false};
    std::vector<Callback> openCallbacks;
    std::vector<Callback> applyCallbacks;

private:
    void _drawRows(MonoGFX& window);

    std::atomic<SettingsGroup*> extraGroup_{nullptr};
    std::string title_;
    std::atomic<bool> open_{false};
    std::atomic<uint32_t> rowCount_{0};
    // The row whose value editor key 1 asked for; -1 for none.
    std::atomic<int32_t> editRow_{-1};
};

namespace Driver {
// One more page, built at start, with no groups and no callbacks.
extern Settings settings;
}
