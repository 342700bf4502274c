#include "sequencing/MotionRecording.h"

#include "platform/RtPrintf.h"

#include <algorithm>
#include <cmath>
#include <vector>

using json = nlohmann::json;

namespace {
constexpr const char* kX = "x";
constexpr const char* kY = "y";
constexpr const char* kT = "t";

// Booleans and numbers of every kind convert; anything else is refused.
bool numberOf(const json& v, double& out) {
    if (v.is_boolean()) {
        out = v.get<bool>() ? 1.0 : 0.0;
        return true;
    }
    if (!v.is_number())
        return false;
    out = v.get<double>();
    return true;
}

float unitOf(double v) {
    // They feed the XY morph input, which expects 0..1.
    if (!std::isfinite(v))
        return 0.0f;
    return float(std::clamp(v, 0.0, 1.0));
}

uint32_t countOf(double v) {
    if (!std::isfinite(v) || v <= 0.0)
        return 0;
    return v >= 4294967295.0 ? UINT32_MAX : uint32_t(v);
}
}  // namespace

MotionRecording::MotionRecording() : cells_(std::make_unique<Cell[]>(kCapacity)) {}

MotionPoint MotionRecording::at(uint32_t i) const {
    const Cell& c = cells_[i];
    return {c.x.load(std::memory_order_relaxed), c.y.load(std::memory_order_relaxed),
            c.t.load(std::memory_order_relaxed)};
}

void MotionRecording::set(uint32_t i, const MotionPoint& p) {
    Cell& c = cells_[i];
    c.x.store(p.x, std::memory_order_relaxed);
    c.y.store(p.y, std::memory_order_relaxed);
    c.t.store(p.t, std::memory_order_relaxed);
}

bool MotionRecording::push(const MotionPoint& p) {
    const uint32_t n = count_.load(std::memory_order_relaxed);
    if (n >= kCapacity)
        return false;
    set(n, p);
    count_.store(n + 1, std::memory_order_release);
    return true;
}

void MotionRecording::assign(const MotionPoint* points, uint32_t count) {
    count_.store(0, std::memory_order_release);
    count = std::min(count, kCapacity);
    for (uint32_t i = 0; i < count; ++i)
        set(i, points[i]);
    count_.store(count, std::memory_order_release);
}

bool writePoint(MotionRecording& recording, uint32_t frame, const MotionPoint& point) {
    if (frame % MotionRecording::kBlocksPerPoint != 0)
        return true;
    const uint32_t k = frame / MotionRecording::kBlocksPerPoint;
    const uint32_t count = recording.size();
    if (k != count)
        rt_printf("writePoint expected frame == size() but is not: frame%d size %d\n", int(k), int(count));
    return recording.push(point);
}

void replacePoint(MotionRecording& recording, uint32_t frame, const MotionPoint& point) {
    // Taken once: the slot may be emptied between here and the write.
    const uint32_t count = recording.size();
    if (count == 0)
        return;
    recording.set((frame / MotionRecording::kBlocksPerPoint) % count, point);
}

MotionPoint readPoint(const MotionRecording& recording, uint32_t frame, bool loop) {
    const uint32_t count = recording.size();
    if (count == 0)
        return {};
    const uint32_t k = frame / MotionRecording::kBlocksPerPoint;
    if (loop && k >= count)
        return recording.at(k % count);
    return recording.at(std::min(k, count - 1));
}

json motionRecordingToJson(const MotionRecording& recording) {
    json x = json::array(), y = json::array(), t = json::array();
    const uint32_t count = recording.size();
    for (uint32_t i = 0; i < count; ++i) {
        const MotionPoint p = recording.at(i);
        x.push_back(p.x);
        y.push_back(p.y);
        t.push_back(p.t);
    }
    return {{kX, std::move(x)}, {kY, std::move(y)}, {kT, std::move(t)}};
}

bool motionRecordingFromJson(MotionRecording& recording, const json& element, std::string& error) {
    recording.clear();
    if (element.is_null())
        return true;
    if (!element.is_object()) {
        error = "motion recording is not an object";
        return false;
    }
    static const json kEmpty = json::array();
    auto field = [&](const char* key) -> const json& {
        auto it = element.find(key);
        return it == element.end() ? kEmpty : *it;
    };
    const json& xs = field(kX);
    const json& ys = field(kY);
    const json& ts = field(kT);
    if (!xs.is_array() || !ys.is_array() || !ts.is_array()) {
        error = "motion recording arrays missing";
        return false;
    }
    if (ys.size() != xs.size() || ts.size() != xs.size()) {
        error = "motion recording arrays of unequal length";
        return false;
    }
    if (xs.size() > MotionRecording::kCapacity) {
        error = "motion recording longer than a slot holds";
        return false;
    }
    std::vector<MotionPoint> points(xs.size());
    for (size_t i = 0; i < xs.size(); ++i) {
        double x = 0.0, y = 0.0, t = 0.0;
        if (!numberOf(xs[i], x) || !numberOf(ys[i], y) || !numberOf(ts[i], t)) {
            error = "motion recording entry is not a number";
            return false;
        }
        points[i] = {unitOf(x), unitOf(y), countOf(t)};
    }
    recording.assign(points.data(), uint32_t(points.size()));
    return true;
}
