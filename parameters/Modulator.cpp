#include "parameters/Modulator.h"

#include "gui/MonoGFX.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr const char* kTypeKey = "modulator type";
// Index = ModulatorType.
constexpr std::array<const char*, 5> kTypeNames = {"none", "LFO", "AD env", "random", "offset"};
constexpr const char* kHeaderLead = "modulating: ";
constexpr uint32_t kHistoryHoldEvery = 64;
constexpr int kScreenRight = 255;
constexpr float kScopeScale = -9.0f;
}  // namespace

std::string modulatorTypeName(ModulatorType type) {
    return type < kTypeNames.size() ? kTypeNames[type] : kTypeNames[0];
}

ModulatorType modulatorTypeFromName(const std::string& name) {
    // Matched in this order, as older code did.
    static constexpr std::array<ModulatorType, 4> order = {2, 1, 3, 4};
    for (ModulatorType t : order)
        if (name == kTypeNames[t])
            return t;
    return 0;
}

Modulator::Modulator(uint32_t channelCount, const std::string& targetName, const std::string& targetGroupName)
    : channelCount(channelCount),
      targetName(targetName),
      targetGroupName(targetGroupName),
      trig("trig", ParameterInt::ChoiceMode, Stored, 0),
      range("range", ParameterInt::ChoiceMode, Stored, 0),
      amount("amount", ParameterFloat::Percent, XYMorph | Stored | PerChannel, 0.0f),
      outputs(channelCount, 0.0f),
      history(channelCount),
      written(channelCount, Relaxed<bool>(false)),
      storeCounts(channelCount, 0u),
      steps_(channelCount) {
    parameterGroup.ownerName.assign(1, '/');  // a modulator has no track name
    controls[2] = &amount;
    controls[3] = &trig;
    controls[5] = &range;
    parameterGroup.add(&trig);
    parameterGroup.add(&range);
    parameterGroup.add(&amount);
    trig.setChoices({"-", "seq reset", "note"}, -1, false);
}

Modulator::~Modulator() = default;

float Modulator::storeOutput(uint32_t channel, float value) {
    written[channel] = true;
    const uint32_t count = ++storeCounts[channel];
    if (count % kHistoryHoldEvery != 0) {
        ModulatorHistory& h = history[channel];
        int32_t index = h.writeIndex - 1;
        if (index < 0)
            index = ModulatorHistory::kSize - 1;
        h.values[size_t(index)] = outputs[channel];
        h.writeIndex = index;
    }
    outputs[channel] = value;
    return value;
}

void Modulator::toJson(nlohmann::json& j) {
    j[kTypeKey] = typeName();
    parameterGroup.toJson(j);
}

void Modulator::fromJson(nlohmann::json& j, ModulationManager* manager, FileVersion version) {
    parameterGroup.fromJson(j, manager, version);
}

void Modulator::drawPage(MonoGFX* g, uint32_t x, uint32_t y) {
    if (!g)
        return;
    const int top = int(std::min<uint32_t>(y, 64));
    // Header, right-aligned: "modulating: " group " > " parameter.
    g->setTextMode(1);
    g->setFont(&font_default, 1, 0);
    g->setColour(15);
    int left = kScreenRight + g->drawText(kScreenRight, top, " > " + targetName);
    g->setFont(&font_compact, 1, 0);
    g->setColour(12);
    left += g->drawText(left, top, targetGroupName);
    g->setColour(8);
    g->drawText(left, top, kHeaderLead);
    g->setTextMode(0);

    // One scope per channel: the ring's older values to the left.
    const int origin = int(std::min<uint32_t>(x, uint32_t(kScreenRight)));
    const int centre = top + 20;
    for (uint32_t c = 0; c < channelCount; ++c) {
        const int l = origin + 1 + 16 * int(c);
        if (l > kScreenRight)
            break;
        g->setColour(2);
        g->drawRect(l, top + 10, l + 14, top + 31);
        const int32_t newest = std::clamp<int32_t>(history[c].writeIndex, 0, ModulatorHistory::kSize - 1);
        const bool fresh = written[c];
        for (int j = 1; j <= 15; ++j) {
            float v = history[c].values[size_t((newest + 16 - j) % ModulatorHistory::kSize)];
            v = std::isfinite(v) ? std::clamp(v, -1.2f, 1.2f) : 0.0f;  // the line stays in its box
            const int h = int(lroundf(v * kScopeScale));
            g->setColour(4);
            g->drawLine(l - 1 + j, centre, l - 1 + j, centre + h);
            g->setColour(fresh ? 12 : 4);
            g->setPixel(l - 1 + j, centre + h);
        }
        written[c] = false;
    }

    // Choice row: the button slots in three columns.
    const int width = (kScreenRight - origin) / 3;
    for (int k = 0; k < 3; ++k) {
        const Parameter* p = controls[size_t(3 + k)];
        if (!p)
            continue;
        const int column = origin - 1 + k * width;
        const std::string label = p->name + ": ";
        g->setColour(8);
        g->drawText(column + 1, top + 33, label);
        g->setColour(15);
        g->drawText(column + g->textWidth(label), top + 33, p->toString(false));
    }

    // The kind's picture right of the scopes; no box left of it when x is
    // past the scopes' end.
    const unsigned pictureWidth = origin < 126 ? unsigned(126 - origin) : 0u;
    _drawGFX(g, unsigned(origin) + 129u, unsigned(top) + 10u, pictureWidth, 21u);
}
