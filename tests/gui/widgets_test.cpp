#include "gui/MonoGFX.h"
#include "gui/PageWidgets.h"
#include "gui/Screenshot.h"
#include "platform/Paths.h"
#include "samples/AudioResource.h"
#include "samples/SampleSource.h"

#include <gtest/gtest.h>

#include "tests/gui/GuiTestSupport.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <cmath>
#include <limits>
#include <map>
#include <memory>

namespace {

MonoGFX fresh() {
    MonoGFX w;
    w.init(256, 64);
    return w;
}

class Slots : public GUI::SlotContent {
public:
    int32_t currentSlot(Kind kind) const override { return kind == Pattern ? 3 : kind == NoteList ? 13 : 0; }
    bool isSlotUsed(Kind, int32_t slot) const override { return slot == 1; }
};

class Pool : public SampleSource {
public:
    bool loadSample(const std::string& path) override {
        auto r = std::make_shared<AudioResource>(path);
        r->analyse();
        resources[path] = r;
        return r->loaded;
    }
    std::shared_ptr<AudioResource> getResource(const std::string& path) override {
        auto it = resources.find(path);
        return it == resources.end() ? nullptr : it->second;
    }
    std::map<std::string, std::shared_ptr<AudioResource>> resources;
};

TEST(Widgets, ParameterCellOriginAndValueBar) {
    MonoGFX w = fresh();
    GUI::drawParameterCell(w, 11, "", "", false, false, false, true, 1.0f);
    // Cell 11 starts at (208, 44): the highlight begins there and is clipped at row 63.
    EXPECT_EQ(w.pixel(207, 44), 0u);
    EXPECT_EQ(w.pixel(208, 44), 2u);
    EXPECT_EQ(w.pixel(253, 63), 2u);
    EXPECT_EQ(w.pixel(208 + 44, 44 + 9), 12u);  // 1.0 reaches x + 44

    // NaN and out-of-range values draw a one-pixel bar or a full one, never a wild one.
    for (float v : {std::numeric_limits<float>::quiet_NaN(), -5.0f, 0.0f}) {
        MonoGFX c = fresh();
        GUI::drawParameterCell(c, 0, "", "", false, false, false, false, v);
        EXPECT_EQ(c.pixel(68, 9), 12u) << v;
        EXPECT_EQ(c.pixel(69, 9), 2u) << v;
    }
    MonoGFX big = fresh();
    GUI::drawParameterCell(big, 0, "", "", false, false, false, false, 1e30f);
    EXPECT_EQ(big.pixel(67 + 44, 9), 12u);

    // Through the screenshot writer and netpbm.
    const std::string root = testsupport::tempDir() + "widgets";
    ASSERT_TRUE(host::setRoot(root));
    ASSERT_TRUE(saveScreenshot("/home/corvane/", w.framebuffer(), false));
    const std::string info = testsupport::shellOutput("pamfile '" + root + "/screenshot.pgm' 2>&1");
    EXPECT_NE(info.find("256 by 64"), std::string::npos) << info;
}

TEST(Widgets, PageIndicator) {
    MonoGFX none = fresh();
    GUI::drawPageIndicator(none, 0, 0, 0, 4, 0);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(none.pixel(14 + 5 * k, 0), 4u) << "no current page box";
    for (int x = 0; x < 14; ++x)
        for (int y = 0; y < 20; ++y)
            ASSERT_EQ(none.pixel(x, y), 0u) << "no page number";

    MonoGFX two = fresh();
    GUI::drawPageIndicator(two, 0, 0, 16, 4, 2);
    EXPECT_EQ(two.pixel(19, 0), 15u);  // box of page 2
    EXPECT_EQ(two.pixel(14, 4), 4u);   // slot 0 not on the page
    EXPECT_EQ(two.pixel(27, 4), 15u);  // slot 16 is
    EXPECT_EQ(two.pixel(63, 10), 4u);  // divider
}

TEST(Widgets, SlotOverlayByHeldKey) {
    const Slots slots;
    guitest::hold(4);
    guitest::hold(9);
    MonoGFX w = fresh();
    GUI::drawSlotOverlay(w, slots);
    // "pattern" wins: slot 3 (a black key of the first octave) is the current one.
    EXPECT_EQ(w.pixel(69 + 4, 28 + 4), 15u);
    EXPECT_EQ(w.pixel(59 + 4, 28 + 4), 4u);  // slot 1 used: filled
    EXPECT_EQ(w.pixel(64 + 4, 38 + 4), 0u);  // slot 2 empty: outline only
    EXPECT_EQ(w.pixel(64, 38), 4u);
    guitest::release(4);
    guitest::release(9);

    guitest::hold(14);
    guitest::hold(19);
    MonoGFX blank = fresh();
    GUI::drawSlotOverlay(blank, slots);
    EXPECT_EQ(blank.pixel(52, 15), 0u);
    guitest::release(14);
    guitest::release(19);
}

TEST(Widgets, WaveformOfSilenceIsFlat) {
    const std::string file = testsupport::tempDir() + "silence.wav";
    testsupport::shellOutput("sox -n -r 48000 '" + file + "' trim 0 1 2>&1");
    Pool pool;
    ASSERT_TRUE(pool.loadSample(file));
    ASSERT_LE(pool.resources[file]->maxBlockLevel, 0.0f);
    MonoGFX w = fresh();
    GUI::drawWaveform(w, file, 10, 10, 110, 50, 0, -1, 0, -1, &pool);
    // 375 entries, four per column: 93 columns of data.
    for (int x = 10; x < 10 + 93; ++x) {
        EXPECT_EQ(w.pixel(x, 50), 15u) << x;  // the baseline, inside the whole-sample selection
        for (int y = 12; y < 50; ++y)
            ASSERT_NE(w.pixel(x, y), 15u) << x << "," << y;
    }

    MonoGFX none = fresh();
    GUI::drawWaveform(none, "/not/loaded.wav", 0, 0, 255, 63, 0, -1, 0, -1, &pool);
    GUI::drawWaveform(none, file, 10, 10, 10, 50, 0, -1, 0, -1, &pool);  // no width
    for (int x = 0; x < 256; ++x)
        ASSERT_EQ(none.pixel(x, 63), 0u);
}

TEST(Widgets, WaveformFitsAShortSample) {
    // 40 entries over a 100-pixel view: every fourth entry, one per column.
    auto r = std::make_shared<AudioResource>("/none.wav");
    r->channels.assign(1, std::vector<float>(40 * 128, 0.0f));
    r->sampleRate = 48000.0f;
    r->maxBlockLevel = 1.0f;
    r->overview.assign(40, 0.0f);
    for (size_t k = 0; k < 40; k += 4)
        r->overview[k] = 0.5f;
    Pool pool;
    pool.resources["/short.wav"] = r;
    MonoGFX w = fresh();
    GUI::drawWaveform(w, "/short.wav", 0, 0, 100, 40, 0, -1, 0, -1, &pool);
    for (int c = 0; c < 10; ++c)
        EXPECT_EQ(w.pixel(c, 20), 15u) << c;  // level 0.5 of 40 rows
    EXPECT_EQ(w.pixel(10, 40), 0u);           // past the data
}

}  // namespace
