#include "parameters/ParameterString.h"

#include "gui/Numpad.h"
#include "platform/Audio.h"
#include "platform/RtPrintf.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int32_t kFallbackAddress[4] = {192, 168, 1, 1};

// Four numbers joined by dots, as "%d.%d.%d.%d" reads them, without the
// undefined overflow of scanf: false when fewer than four are found.
bool readAddress(const std::string& text, int32_t out[4]) {
    const char* p = text.c_str();
    for (int k = 0; k < 4; ++k) {
        if (k > 0) {
            if (*p != '.')
                return false;
            ++p;
        }
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(p, &end, 10);
        if (end == p)
            return false;
        out[k] = int32_t(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
        p = end;
    }
    return true;
}

// Texts are saved as JSON, whose writer refuses anything but UTF-8.
constexpr const char* kTooLong = "Text for [%s] refused: %zu bytes, at most %zu\n";

bool validUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        static constexpr uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

}  // namespace

ParameterString::ParameterString(const std::string& parameterName, uint32_t mode, ParameterFlags flags,
                                 const std::string& defaultText)
    : displayMode(mode) {
    name = parameterName;
    stored = flags & Stored;
    multiSlot = flags & MultiSlot;
    locked = flags & Locked;
    values.assign(multiSlot ? kMultiSlots : 1, SharedText(defaultText));
    if (displayMode == Address)
        setFromString(defaultText, -1);
    constrain();
}

void ParameterString::_formatAddress(char (&text)[20], bool store) {
    int32_t o[4];
    for (int k = 0; k < 4; ++k) {
        o[k] = std::clamp<int32_t>(octets[k], 0, 255);
        if (store)
            octets[k] = o[k];
    }
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", o[0], o[1], o[2], o[3]);
}

void ParameterString::constrain() {
    if (displayMode != Address)
        return;
    char text[20];
    _formatAddress(text, true);
    // The encoder turns on the audio thread, which must not wait for a
    // writer it may have interrupted; the readers catch up instead.
    if (Bela_isAudioThread()) {
        if (!values[activeSlot].trySet(text))
            textStale_.store(true, std::memory_order_release);
        return;
    }
    values[activeSlot].set(text);
}

void ParameterString::_refreshAddress() const {
    if (displayMode != Address || Bela_isAudioThread() || !textStale_.exchange(false, std::memory_order_acq_rel))
        return;
    // The same address again, only brought up to date: logically const.
    auto& self = const_cast<ParameterString&>(*this);
    char text[20];
    self._formatAddress(text, false);
    self.values[activeSlot].set(text);
}

std::string ParameterString::slotText(unsigned slot) const {
    _refreshAddress();
    return slot < values.size() ? values[slot].get() : "";
}

bool ParameterString::setFromString(const std::string& text, int slot) {
    if (slot == -1)
        slot = int(activeSlot);
    if (!_validSlot(slot) || !validUtf8(text))
        return false;
    if (!SharedText::fits(text)) {
        // Refused whole: a shortened path would load or save another file.
        rt_printf(kTooLong, name.c_str(), text.size(), SharedText::kCapacity);
        return false;
    }
    if (displayMode == Address) {
        int32_t o[4];
        if (!readAddress(text, o))
            std::copy(std::begin(kFallbackAddress), std::end(kFallbackAddress), o);
        for (int k = 0; k < 4; ++k)
            octets[k] = o[k];
    } else {
        values[unsigned(slot)].set(text);
    }
    constrain();
    return true;
}

bool ParameterString::changeBy(int ticks, bool alternate, bool force) {
    if (locked || displayMode != Address)
        return false;
    // Compared as the four numbers: no text is built on the audio thread.
    const int32_t before = octets[3];
    if (ticks != 0 && _countTicks(ticks, force)) {
        const int64_t v = int64_t(before) + int64_t(alternate ? coarseStep : fineStep) * ticks;
        octets[3] = int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    }
    constrain();
    if (octets[3] != before) {
        overridden = true;
        return true;
    }
    return false;
}

void ParameterString::resetToDefault() {
    for (auto& v : values)
        v.set("");
    overridden = false;
    _releaseModulators();
    constrain();
}

void ParameterString::copySlot(unsigned from, unsigned to) {
    _refreshAddress();
    if (multiSlot && from < values.size() && to < values.size())
        values[to] = values[from];
}

std::string ParameterString::toString(bool) const {
    _refreshAddress();
    return values[activeSlot].get();
}

void ParameterString::openEditor() {
    if (locked)
        return;
    static constexpr unsigned kEditorMode[3] = {2, 3, 4};
    const unsigned mode = displayMode < 3 ? kEditorMode[displayMode] : 0;
    Driver::numpad.open(mode, _editorTitle(), toString(false), 32);
    Driver::numpad.target = this;
}

Parameter::json ParameterString::toJson() const {
    _refreshAddress();
    json j = json::object();
    if (values.size() == 1) {
        j["value"] = values[0].get();
    } else {
        json list = json::array();
        for (const auto& v : values)
            list.push_back(v.get());
        j["value"] = std::move(list);
    }
    _writeModulators(j);
    return j;
}

void ParameterString::fromJson(json& j, ModulationManager* manager, FileVersion version) {
    json value = _valueOf(j);
    if (value.is_array()) {
        const size_t n = std::min(value.size(), values.size());
        for (size_t i = 0; i < n; ++i)
            setFromString(value[i].get<std::string>(), int(i));
    } else {
        const std::string text = value.get<std::string>();
        for (unsigned i = 0; i < values.size(); ++i)
            setFromString(text, int(i));
    }
    _restoreModulators(j, manager, version);
    constrain();
}
