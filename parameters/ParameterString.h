// Text settings: names, the screensaver message and IPv4 addresses. No
// numeric value: not normalised, morphed, smoothed or modulated, and OSC
// cannot set it. In address mode the four numbers are the truth and the
// encoder steps the last one.
#pragma once

#include "parameters/Parameter.h"
#include "parameters/SharedText.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class ParameterString : public Parameter {
public:
    enum DisplayMode : uint32_t {
        Text = 0,      // text editor mode 2
        TextAlt = 1,   // text editor mode 3
        Address = 2,   // IPv4 address, text editor mode 4
    };

    ParameterString(const std::string& name, uint32_t displayMode, ParameterFlags flags,
                    const std::string& defaultText);

    bool changeBy(int ticks, bool alternate, bool force) override;
    void constrain() override;
    void resetToDefault() override;
    void setNormalised(float) override {}
    bool setFromString(const std::string& text, int slot = -1) override;
    void morphXY(float, float) override {}
    void storeSnapshot(unsigned) override {}
    void resetSnapshots() override {}
    void copySlot(unsigned from, unsigned to) override;
    json toJson() const override;
    void fromJson(json& j, ModulationManager* manager, FileVersion version) override;
    std::string toString(bool alternate = false) const override;
    float getNormalised() const override { return 0.0f; }
    void updateBlock() override {}
    void openEditor() override;
    unsigned slotCount() const override { return unsigned(values.size()); }

    std::string slotText(unsigned slot) const;

    int32_t fineStep = 1;
    int32_t coarseStep = 8;
    uint32_t displayMode;
    // Read by the display while the editor, the loader or the encoder
    // replaces them.
    std::vector<SharedText> values;
    std::atomic<int32_t> octets[4] = {0, 0, 0, 0};

private:
    // The address as text, from the numbers (limited to 0..255, and stored
    // so with store).
    void _formatAddress(char (&text)[20], bool store);
    // Rewrites an address text the audio thread could not write.
    void _refreshAddress() const;

    // Set by the audio thread when another writer held the text: the numbers
    // are newer than the text until a reader rewrites it.
    mutable std::atomic<bool> textStale_{false};
};
