// Motion slots, their file element and the recorder driven block by block
// with a scripted touchpad and key 58.
#include "drivers/KeyDebouncer.h"
#include "instrument/files/MorphSection.h"
#include "sequencing/MorphController.h"
#include "sequencing/MotionRecorder.h"
#include "gui/Confirm.h"
#include "gui/MonoGFX.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <string>

#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

using json = nlohmann::json;

namespace {

Touchpad::Touch gTouch{0.0f, 0.0f, 0};
Touchpad::Touch fakePad(uint32_t) { return gTouch; }

void holdKey(int key, bool down) {
    for (int i = 0; i < 20; ++i)
        Key::key[size_t(key)].update(down ? 0u : 1u);
}

class Motion : public ::testing::Test {
protected:
    void SetUp() override {
        MotionRecorder::touchReader = &fakePad;
        gTouch = {0.0f, 0.0f, 0};
        holdKey(MotionRecorder::kRecordKey, false);
        holdKey(MotionRecorder::kDeleteModifierKey, false);
    }
    void TearDown() override {
        holdKey(MotionRecorder::kRecordKey, false);
        MotionRecorder::touchReader = defaultReader;
        DSP::motion.clear();
    }
    void blocks(int n) {
        for (int i = 0; i < n; ++i)
            motion.process(nullptr);
    }
    // Holds key 58 and starts the take, as the track's key handler does.
    void pressRecord(MotionRecorder& r) {
        holdKey(MotionRecorder::kRecordKey, true);
        r.button(MotionRecorder::kRecordKey, KeyDebouncer::kKeyDown);
    }
    static inline MotionRecorder::TouchReader defaultReader = MotionRecorder::touchReader.load();
    MorphController motion;
};

MotionPoint point(float x) { return {x, 1.0f - x, 7}; }

}  // namespace

TEST_F(Motion, PointsAreWrittenReplacedAndReadBack) {
    MotionRecording r;
    EXPECT_EQ(readPoint(r, 40, true).t, 0u);
    replacePoint(r, 30, point(0.5f));  // empty: nothing, and no division by zero
    EXPECT_TRUE(r.empty());
    for (uint32_t f = 0; f < 45; ++f)
        EXPECT_TRUE(writePoint(r, f, point(float(f) / 100.0f)));
    ASSERT_EQ(r.size(), 3u);
    EXPECT_FLOAT_EQ(readPoint(r, 44, true).x, 0.30f);
    EXPECT_FLOAT_EQ(readPoint(r, 45, true).x, 0.0f);    // wraps at the third period
    EXPECT_FLOAT_EQ(readPoint(r, 900, false).x, 0.30f);  // holds the last point
    replacePoint(r, 45 + 16, point(0.9f));               // (61 / 15) mod 3 = 1
    EXPECT_FLOAT_EQ(r.at(1).x, 0.9f);
}

TEST_F(Motion, FileSectionEndsAtTheLastRecordingAndReadsEverySlot) {
    MotionRecording& slot3 = *DSP::motion.recording(3);
    for (uint32_t f = 0; f < 60; ++f)
        writePoint(slot3, f, point(0.25f));
    json document;
    writeMorphSection(document);
    const std::string path = testsupport::tempDir() + "morph.json";
    std::ofstream(path) << document.dump();
    EXPECT_EQ(testsupport::shellOutput(
                  "jq -c '.morph.recordings | [length, (.[0] | [.x, .y, .t] | map(length)), "
                  "all(.[]; (.x | length) == (.y | length) and (.y | length) == (.t | length)), (.[3].x | length)]' " +
                  path),
              "[4,[0,0,0],true,4]\n");
    EXPECT_TRUE(DSP::motion.hasRecordings());

    // 30 elements: slots 0..24, the rest ignored.
    json many = {{"morph", {{"recordings", json::array()}}}};
    for (int i = 0; i < 30; ++i)
        many["morph"]["recordings"].push_back({{"x", {0.5, 2.0}}, {"y", {-1.0, 0.5}}, {"t", {1, 2}}});
    readMorphSection(many);
    for (int s = 0; s < 25; ++s)
        EXPECT_EQ(DSP::motion.recording(s)->size(), 2u) << s;
    EXPECT_FLOAT_EQ(DSP::motion.recording(24)->at(1).x, 1.0f);  // clamped into 0..1
    EXPECT_FLOAT_EQ(DSP::motion.recording(24)->at(0).y, 0.0f);
    DSP::motion.clear();
    EXPECT_FALSE(DSP::motion.hasRecordings());
}

TEST_F(Motion, BadElementsLeaveTheSlotEmpty) {
    std::string error;
    MotionRecording r;
    r.push(point(0.1f));
    EXPECT_FALSE(motionRecordingFromJson(r, {{"x", {0.1, 0.2, 0.3}}, {"y", {0.1}}, {"t", {1, 2, 3}}}, error));
    EXPECT_TRUE(r.empty());
    EXPECT_FALSE(motionRecordingFromJson(r, {{"x", {0.1}}, {"y", {"a"}}, {"t", {1}}}, error));
    EXPECT_TRUE(r.empty());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_TRUE(motionRecordingFromJson(r, {{"x", {nan, true}}, {"y", {INFINITY, 0.5}}, {"t", {-4, 9.0}}}, error));
    EXPECT_EQ(r.at(0).x, 0.0f);
    EXPECT_EQ(r.at(0).y, 0.0f);
    EXPECT_EQ(r.at(0).t, 0u);
    EXPECT_EQ(r.at(1).x, 1.0f);
    EXPECT_EQ(r.at(1).t, 9u);
    // Through the file section: the short element is refused, the slot stays empty.
    json shortY = {{"morph", {{"recordings", {nullptr, {{"x", {0.1, 0.2}}, {"y", {0.1}}, {"t", {0, 0}}}}}}}};
    EXPECT_THROW(readMorphSection(shortY), std::exception);
    EXPECT_TRUE(DSP::motion.isEmpty(1));
}

TEST_F(Motion, ClaimAllowsOneRecordingTrack) {
    EXPECT_TRUE(motion.claim(2));
    EXPECT_FALSE(motion.claim(0));
    EXPECT_EQ(motion.recordingTrack(), 2);
    motion.release(0);  // a wrong track still frees the claim
    EXPECT_EQ(motion.recordingTrack(), -1);
}

TEST_F(Motion, ThreeSecondHoldRecordsOneHundredFiftyPoints) {
    MotionRecorder r(1, motion);
    r.motion.setValue(1, false);
    gTouch = {0.2f, 0.8f, 3};
    pressRecord(r);
    EXPECT_EQ(r.state(), MotionRecorder::NewTake);
    blocks(3 * 750);
    holdKey(MotionRecorder::kRecordKey, false);
    blocks(1);
    EXPECT_EQ(r.state(), MotionRecorder::Idle);
    EXPECT_EQ(motion.recording(1)->size(), 150u);
    EXPECT_EQ(motion.recordingTrack(), -1);
    // Untouched: plays back; a reset restarts at point 0.
    gTouch = {0.0f, 0.0f, 0};
    blocks(1);
    EXPECT_FLOAT_EQ(float(r.x), 0.2f);
    EXPECT_FALSE(bool(r.touched));
}

TEST_F(Motion, SlotZeroAndASecondTrackAreRefused) {
    MotionRecorder a(0, motion), b(2, motion);
    pressRecord(a);  // slot 0
    EXPECT_EQ(a.state(), MotionRecorder::Idle);
    a.motion.setValue(3, false);
    b.motion.setValue(4, false);
    a.start();
    b.start();
    EXPECT_EQ(a.state(), MotionRecorder::NewTake);
    EXPECT_EQ(b.state(), MotionRecorder::Idle);
}

TEST_F(Motion, TheTakeStaysInItsSlotWhenMotionIsTurned) {
    MotionRecorder r(0, motion);
    r.motion.setValue(2, false);
    writePoint(*motion.recording(2), 0, point(0.1f));
    writePoint(*motion.recording(2), 15, point(0.1f));
    pressRecord(r);
    ASSERT_EQ(r.state(), MotionRecorder::Overdub);
    gTouch = {0.7f, 0.3f, 5};
    r.motion.setValue(5, false);  // an empty slot
    blocks(40);
    EXPECT_TRUE(motion.recording(5)->empty());
    EXPECT_FLOAT_EQ(motion.recording(2)->at(0).x, 0.7f);
    // Emptied under the overdub: nothing is written, nothing divides by zero.
    motion.requestDelete(2);
    blocks(40);
    EXPECT_TRUE(motion.recording(2)->empty());
    EXPECT_EQ(r.state(), MotionRecorder::Overdub);
}

TEST_F(Motion, ATakeStopsAtCapacity) {
    MotionRecorder r(3, motion);
    r.motion.setValue(7, false);
    pressRecord(r);
    blocks(int(MotionRecording::kCapacity * MotionRecording::kBlocksPerPoint) + 30);
    EXPECT_EQ(motion.recording(7)->size(), MotionRecording::kCapacity);
    EXPECT_EQ(r.state(), MotionRecorder::Idle);
    EXPECT_EQ(motion.recordingTrack(), -1);
}

TEST_F(Motion, DeleteAsksFirstAndTheAudioThreadEmptiesTheSlot) {
    MotionRecorder r(4, motion);
    r.motion.setValue(6, false);
    MonoGFX gfx;
    gfx.init(256, 64);
    writePoint(*motion.recording(6), 0, point(0.4f));
    holdKey(MotionRecorder::kDeleteModifierKey, true);
    for (uint32_t answer : {Confirm::kCancelKey, Confirm::kAcceptKey}) {
        EXPECT_TRUE(r.button(MotionRecorder::kRecordKey, KeyDebouncer::kKeyDown));
        r.draw(gfx, 0, 0);  // opens the question
        ASSERT_EQ(r.deletePending.load(), 2u);
        Driver::confirm.key(int(answer), KeyDebouncer::kKeyDown);
        r.draw(gfx, 0, 0);
        EXPECT_EQ(r.deletePending.load(), 0u);
        blocks(1);
        EXPECT_EQ(motion.recording(6)->empty(), answer == Confirm::kAcceptKey);
    }
    holdKey(MotionRecorder::kDeleteModifierKey, false);
}

TEST_F(Motion, TouchOverridesPlaybackAndAResetRestartsIt) {
    MotionRecorder r(0, motion);
    r.motion.setValue(2, false);
    for (uint32_t f = 0; f < 45; ++f)
        writePoint(*motion.recording(2), f, point(float(f / 15) * 0.25f));  // 0, 0.25, 0.5
    blocks(20);
    EXPECT_FLOAT_EQ(float(r.x), 0.25f);
    gTouch = {0.9f, 0.1f, 4};
    blocks(1);
    EXPECT_FLOAT_EQ(float(r.x), 0.9f);
    gTouch = {0.0f, 0.0f, 0};
    blocks(10);  // frame 31: the running position, not where the touch began
    EXPECT_FLOAT_EQ(float(r.x), 0.5f);
    const bool resets[5] = {true, false, false, false, false};
    motion.process(resets);
    EXPECT_FLOAT_EQ(float(r.x), 0.0f);
    // A new take is not restarted by a reset.
    r.motion.setValue(8, false);
    pressRecord(r);
    blocks(30);
    motion.process(resets);
    blocks(15);
    EXPECT_EQ(r.frame(), 46u);
    EXPECT_EQ(motion.recording(8)->size(), 4u);
}
