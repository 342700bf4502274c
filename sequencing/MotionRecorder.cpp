#include "sequencing/MotionRecorder.h"

#include "drivers/KeyDebouncer.h"
#include "gui/Confirm.h"
#include "gui/GuiNotify.h"
#include "gui/MonoGFX.h"
#include "sequencing/MorphController.h"

#include <cmath>
#include <string>

namespace {
constexpr const char* kSlotZero = "Can't record in motion slot 0";
constexpr const char* kAlreadyEmpty = "Motion record is already empty";
constexpr const char* kFull = "Motion record is full, recording stopped";
constexpr const char* kDeleteTitle = "Delete motion record ";
constexpr const char* kDeleted = "Deleted motion record ";
constexpr const char* kYes = "yes";
constexpr const char* kNo = "no";
constexpr int kBox = 18;
constexpr uint32_t kTrailPeriod = 16;

Touchpad::Touch boardTouch(uint32_t pad) {
    return pad < DSP::kNumTouchpads ? DSP::touchpad[pad].getTouch() : Touchpad::Touch{0.0f, 0.0f, 0};
}

int nearest(float v) { return int(std::lround(v)); }
}  // namespace

std::atomic<MotionRecorder::TouchReader> MotionRecorder::touchReader{&boardTouch};

MotionRecorder::MotionRecorder(uint32_t touchpadIndex) : MotionRecorder(touchpadIndex, DSP::motion) {}

MotionRecorder::MotionRecorder(uint32_t touchpadIndex, MorphController& controller)
    : touchpad(touchpadIndex), controller_(controller) {
    controller_.attach(int(touchpad), this);
}

MotionRecorder::~MotionRecorder() { controller_.detach(int(touchpad), this); }

void MotionRecorder::_setCurrent(const MotionPoint& p) {
    x = p.x;
    y = p.y;
    t = p.t;
}

bool MotionRecorder::button(int key, int event) {
    if (key != kRecordKey || event != KeyDebouncer::kKeyDown)
        return false;
    if (!Key::key[kDeleteModifierKey].held()) {
        start();
        return true;
    }
    const MotionRecording* r = controller_.recording(motion.value);
    if (!r || r->empty()) {
        Driver::guiNotify.info(kAlreadyEmpty);
        return true;
    }
    // The question is built and opened by the interface task.
    uint32_t none = 0;
    deletePending.compare_exchange_strong(none, 1, std::memory_order_acq_rel);
    return true;
}

void MotionRecorder::start() {
    if (state_.load(std::memory_order_acquire) != Idle)
        return;
    const int32_t slot = motion.value;
    if (slot <= 0) {
        Driver::guiNotify.warning(kSlotZero);
        return;
    }
    MotionRecording* r = controller_.recording(slot);
    if (!r || !controller_.claim(int(touchpad)))
        return;
    // The slot stays fixed until stop, whatever "motion" is turned to.
    recordSlot_ = slot;
    if (!r->empty()) {
        state_.store(Overdub, std::memory_order_release);
    } else {
        frame_ = 0;
        state_.store(NewTake, std::memory_order_release);
    }
}

void MotionRecorder::stop() {
    controller_.release(int(touchpad));
    state_.store(Idle, std::memory_order_release);
}

void MotionRecorder::process(bool reset) {
    int32_t s = state_.load(std::memory_order_relaxed);
    if (reset && s != NewTake)
        frame_ = 0;
    if (s != Idle && !Key::key[kRecordKey].held()) {
        stop();
        s = Idle;
    }
    const Touchpad::Touch touch = touchReader.load(std::memory_order_relaxed)(touchpad);
    const bool isTouched = touch.count != 0;
    touched = isTouched;
    if (isTouched)
        _setCurrent({touch.x, touch.y, touch.count});

    const uint32_t f = frame_;
    if (s == NewTake) {
        if (!writePoint(*controller_.recording(recordSlot_), f, _current())) {
            // Full: ends as on release; the take so far stays.
            stop();
            s = Idle;
            Driver::guiNotify.info(kFull);
        }
    } else if (s == Overdub && isTouched) {
        replacePoint(*controller_.recording(recordSlot_), f, _current());
    }

    const int32_t playSlot = s != Idle ? recordSlot_ : int32_t(motion.value);
    if (!isTouched && playSlot >= 1) {
        const MotionRecording* r = controller_.recording(playSlot);
        if (r && !r->empty())
            _setCurrent(readPoint(*r, f, loop != 0));
    }

    if (trailCounter_ % kTrailPeriod == 0) {
        const int32_t i = (trailIndex_ + kTrailLength - 1) % kTrailLength;
        trailX_[size_t(i)] = x;
        trailY_[size_t(i)] = y;
        trailIndex_ = i;
    }
    previous_ = _current();
    ++trailCounter_;
    frame_ = f + 1;
}

void MotionRecorder::applyDelete() {
    const uint32_t pending = deletePending.load(std::memory_order_acquire);
    if (pending == 1) {
        deleteSlot_ = motion.value;
        if (Driver::confirm.open(kDeleteTitle + motion.toString(), kYes, kNo))
            deletePending.store(2, std::memory_order_release);
        return;
    }
    if (pending != 2)
        return;
    const uint32_t answer = Driver::confirm.result();
    if (answer == kPopupAccepted) {
        controller_.requestDelete(deleteSlot_);
        Driver::guiNotify.info(kDeleted + std::to_string(deleteSlot_));
        deletePending.store(0, std::memory_order_release);
    } else if (answer == kPopupCancelled) {
        deletePending.store(0, std::memory_order_release);
    }
}

void MotionRecorder::draw(MonoGFX& w, int x0, int y0) {
    applyDelete();
    w.setColour(0);
    w.fillRect(x0, y0, x0 + kBox, y0 + kBox);
    w.setColour(4);
    w.drawRect(x0, y0, x0 + kBox, y0 + kBox);

    const int32_t ring = trailIndex_;
    for (int i = kTrailLength - 1; i >= 0; --i) {
        const size_t k = size_t((ring + i) % kTrailLength);
        w.setColour(uint32_t(10 - i / 4));
        w.setPixel(x0 + 1 + nearest(trailX_[k] * 16.0f), y0 + 1 + nearest(trailY_[k] * 16.0f));
    }

    const bool isTouched = touched;
    const int cx = x0 + nearest(float(x) * 16.0f), cy = y0 + nearest(float(y) * 16.0f);
    if (isTouched) {
        w.setColour(15);
        w.drawLine(cx, cy, cx + 2, cy + 2);
        w.drawLine(cx, cy + 2, cx + 2, cy);
    } else {
        w.setColour(12);
        w.drawLine(cx, cy + 1, cx + 2, cy + 1);
        w.drawLine(cx + 1, cy, cx + 1, cy + 2);
    }
    w.setColour(15);
    w.setPixel(cx + 1, cy + 1);

    const int32_t s = state_.load(std::memory_order_acquire);
    const int32_t slot = s != Idle ? recordSlot_ : int32_t(motion.value);
    const MotionRecording* r = controller_.recording(slot);
    const uint32_t points = r ? r->size() : 0;
    const uint32_t frames = points * MotionRecording::kBlocksPerPoint;
    w.setColour(2);
    w.drawRect(x0, y0 + 20, x0 + kBox, y0 + 21);
    if (s != NewTake && frames > 0) {
        w.setColour(8);
        w.drawRect(x0, y0 + 20, x0 + nearest(float(kBox) * float(frame_ % frames) / float(frames)), y0 + 21);
    }

    uint32_t after = 15;
    if (s == NewTake) {
        w.setColour(15);
        w.drawIcon(x0, y0 + 23, 27);
        after = 8;
    } else if (s == Overdub) {
        w.setColour(isTouched ? 15 : 8);
        w.drawIcon(x0, y0 + 23, 28);
    } else if (points > 0) {
        w.setColour(8);
        w.drawIcon(x0, y0 + 23, 28);
    } else {
        w.setColour(motion.value == 0 ? 4 : 8);
        w.drawIcon(x0, y0 + 23, 27);
        after = w.colour();
    }
    w.setColour(after);
    w.drawIcon(x0 + 7, y0 + 23, 26);
    w.setFont(&font_compact, 1, 0);
    w.setColour(8);
    w.drawText(x0, y0 + 31, motion.toString());
}
