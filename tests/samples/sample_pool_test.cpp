// The sample pool's store, worker and page, on files under a test data root.
#include "samples/AudioResourcePool.h"

#include "gui/Confirm.h"
#include "gui/MonoGFX.h"
#include "gui/ListSelect.h"
#include "gui/Numpad.h"
#include "platform/Paths.h"
#include "samples/DiskRecorder.h"

#include <gtest/gtest.h>

#include "tests/samples/SampleFixtures.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <set>

namespace {

using samplefixtures::sine;
using samplefixtures::writeSound;

class SamplePoolTest : public testing::Test {
protected:
    void SetUp() override {
        root = testsupport::tempDir() + "pool-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(root);
        ASSERT_TRUE(host::setRoot(root));
        std::filesystem::create_directories(root + "/s");
        ASSERT_TRUE(pool.setup(false));
    }

    // A one-second mono sine under the root; returns its instrument path.
    std::string wav(const std::string& name, size_t frames = 48000) {
        EXPECT_TRUE(writeSound(root + "/s/" + name, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000,
                               sine(frames, 440.0, 48000.0, 0.5f)));
        return "/home/corvane/s/" + name;
    }

    AudioSampleGroup& listWith(const std::string& name, std::initializer_list<std::string> samples) {
        AudioSampleGroup* group = pool.getGroup(name, true);
        uint32_t i = 0;
        for (const auto& path : samples) {
            EXPECT_TRUE(pool.loadSample(path));
            group->insert(path, pool.getResource(path)->frameCount(), i++, 48000.0f, 440.0f);
        }
        return *group;
    }

    std::string root;
    AudioResourcePool pool;
};

TEST_F(SamplePoolTest, LoadingKeepsOneResourcePerPathAndRefusesWhatIsOutsideTheDataFolder) {
    const std::string a = wav("a.wav");
    EXPECT_EQ(pool.loadSamples({a, a, "/home/corvane/s/missing.wav"}), 2);
    EXPECT_EQ(pool.newSamples(), (std::vector<std::string>{a, a}));
    EXPECT_TRUE(pool.newSamplesPending());
    EXPECT_EQ(pool.resourceCount(), 1u);
    EXPECT_EQ(pool.analysisQueued(), 1u);
    EXPECT_EQ(pool.getResource(a)->frameCount(), 48000u);

    // Project files name these: none may reach a host file outside the root.
    std::filesystem::create_directories(root + "/../outside");
    writeSound(root + "/../outside/x.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, sine(100, 440.0, 48000.0));
    for (const std::string bad : {"", "s/a.wav", "/home/corvane/../outside/x.wav",
                                  "/home/corvane/s/../../../outside/x.wav", "/etc/passwd", "/home/corvane/s"})
        EXPECT_FALSE(pool.loadSample(bad)) << bad;
    EXPECT_EQ(pool.resourceCount(), 1u);

    // A worker run with nothing to rebuild still reports both counts.
    testing::internal::CaptureStdout();
    pool.runWorker();
    pool.runWorker();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("AudioResourcePool: 1 samples analysed"), std::string::npos);
    EXPECT_NE(out.find("AudioResourcePool: 0 samples analysed"), std::string::npos);
    EXPECT_NE(out.find("AudioResourcePool: 0 KDTrees rebuilt"), std::string::npos);
    EXPECT_GE(pool.getResource(a)->maxBlockLevel, 0.0f);
}

TEST_F(SamplePoolTest, EngineChoicesFollowTheListsByName) {
    ParameterInt engineList("samples", ParameterInt::ChoiceMode, NoFlags, 0);
    pool.registerListParameter(&engineList);
    EXPECT_EQ(engineList.choices(), (std::vector<std::string>{"none"}));
    const std::string a = wav("a.wav");
    listWith("drums", {a});
    listWith("bass", {a});
    pool.updateListParameters();
    EXPECT_EQ(engineList.choices(), (std::vector<std::string>{"none", "bass", "drums"}));
    EXPECT_EQ(pool.listNames(), engineList.choices());
    ASSERT_TRUE(engineList.setFromString("drums"));
    pool.deleteList("bass");
    EXPECT_EQ(engineList.choices(), (std::vector<std::string>{"none", "drums"}));
    EXPECT_EQ(engineList.toString(), "drums");

    EXPECT_FALSE(pool.getGroupEntry("bass", 0, 0));
    pool.getGroup("empty", true);
    EXPECT_FALSE(pool.getGroupEntry("empty", 0, 0));
    EXPECT_EQ(pool.getGroupEntry("drums", 5, 0)->sample, a);
    EXPECT_TRUE(pool.getGroupEntriesByFeature("nothing", 0.5f, 0.5f, 0.1f).empty());

    EXPECT_FALSE(pool.renameList("drums", "none"));  // the engines' "no list"
    EXPECT_EQ(pool.getGroup("none", true), nullptr);
    EXPECT_TRUE(pool.renameList("drums", "beats"));
    EXPECT_EQ(engineList.toString(), "none");  // matched by name: drums is gone
    EXPECT_EQ(pool.getGroup("beats", false)->size(), 1u);
}

TEST_F(SamplePoolTest, SlicingSplitsTheRangeAndIgnoresBadEntries) {
    const std::string a = wav("a.wav", 2000);
    AudioSampleGroup& list = listWith("l", {a, a});
    list.entryAt(0)->setRange(0, 1000);
    list.entryAt(0)->startFromZero = true;
    pool.sliceEntry(0, 4, "l", "none");
    ASSERT_EQ(list.size(), 5u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(list.entryAt(i)->startFrame.load(), 250 * i);
        EXPECT_EQ(list.entryAt(i)->endFrame.load(), 250 * (i + 1));
        EXPECT_FALSE(list.entryAt(i)->startFromZero.load());
    }
    EXPECT_EQ(list.entryAt(4)->endFrame.load(), 2000u);  // the other entry stays

    // An entry whose start passed its end, and an index past the end: nothing.
    list.entryAt(4)->startFrame = 1500;
    list.entryAt(4)->endFrame = 500;
    pool.sliceEntry(4, 4, "l", "none");
    pool.sliceEntry(9, 4, "l", "none");
    pool.sliceEntry(0, 1, "l", "none");
    EXPECT_EQ(list.size(), 5u);
}

TEST_F(SamplePoolTest, SuggestedNamesFollowTheLettersOfTheNewSamples) {
    pool.loadSamples({wav("kick.wav", 100), wav("kit.wav", 100)});
    const std::map<char, std::set<char>> next{{'k', {'i', 'k'}}, {'i', {'c', 't'}}, {'c', {'k'}}, {'t', {'k'}}};
    for (int n = 0; n < 20; ++n) {
        const std::string name = pool.suggestListName();
        ASSERT_EQ(name.size(), 7u);
        for (size_t i = 0; i < name.size(); ++i) {
            ASSERT_TRUE(next.count(name[i])) << name;
            if (i > 0) {
                EXPECT_TRUE(next.at(name[i - 1]).count(name[i])) << name;
            }
        }
    }
}

// ---- the page

class SamplePoolPageTest : public SamplePoolTest {
protected:
    void SetUp() override {
        SamplePoolTest::SetUp();
        ASSERT_TRUE(recorder.setup(false));
        SamplePoolLinks links;
        links.recorder = &recorder;
        // Stands in for the voice manager: names the file and records stepped sine blocks.
        links.startRecording = [this](std::string& path, uint32_t mode, uint32_t first, uint32_t count,
                                      uint32_t track) {
            started = {mode, first, count, track};
            path = "track3-test.wav";
            if (!recorder.start(path, count))
                return false;
            std::vector<float> block(64 * count);
            for (int b = 0; b < 30; ++b) {
                for (uint32_t f = 0; f < 64 * count; ++f)
                    block[f] = 0.5f * float(std::sin(double(b * 64 + f / count) * 0.1));
                recorder.pushInterleaved(block.data(), count);
            }
            return true;
        };
        links.stopRecording = [this] { recorder.stop(); };
        pool.setLinks(links);
        pool.open();
        pool.update();
    }
    void TearDown() override {
        Driver::listSelection.result();
        Driver::confirm.result();
        Driver::numpad.close();
    }

    void press(int key) {
        ASSERT_TRUE(pool._inputAccepted());
        pool.button(key, 2);
        pool.update();
    }
    void turn(int encoder, int delta, bool pushed = false) {
        pool.encoder(encoder, delta, pushed);
        pool.update();
    }
    // Single ticks until the choices have moved by `steps`.
    void stepChoice(int encoder, int steps, bool pushed = false) {
        for (int i = 0; i < std::abs(steps) * pool.sample.ticksPerStep; ++i)
            turn(encoder, steps < 0 ? -1 : 1, pushed);
    }
    void choose(const std::string& item) {
        const auto& items = Driver::listSelection.items();
        const auto it = std::find(items.begin(), items.end(), item);
        ASSERT_NE(it, items.end()) << item;
        Driver::listSelection.cursor.setValue(int32_t(it - items.begin()), false);
        Driver::listSelection.key(ListSelect::kAcceptKey, 2);
        pool.update();
    }
    void name(const std::string& text) {
        ASSERT_TRUE(Driver::numpad.isOpen());
        Driver::numpad.text = text;
        Driver::numpad.close();  // closing clears the verdict: accept after it
        Driver::numpad.accepted = true;
        pool.update();
    }

    DiskRecorder recorder;
    std::array<uint32_t, 4> started{};
};

TEST_F(SamplePoolPageTest, RecordingLoadsOnlyOnceItsFileIsClosedAndEditsStayInRange) {
    press(1);
    choose("record audio");
    choose("track 3");
    EXPECT_EQ(started, (std::array<uint32_t, 4>{2, 0, 2, 2}));
    press(1);
    EXPECT_EQ(Driver::listSelection.items().front(), "stop recording");
    choose("stop recording");
    pool.update();
    ASSERT_EQ(Driver::confirm.state(), uint32_t(kPopupOpen));
    Driver::confirm.key(Confirm::kAcceptKey, 2);
    pool.update();
    pool.update();
    EXPECT_TRUE(pool.loadRecordingPending());
    EXPECT_EQ(pool.resourceCount(), 0u);  // the writer has not closed the file yet

    recorder.drain();
    pool.update();
    const std::string path = "/home/corvane/recordings/track3-test.wav";
    ASSERT_TRUE(pool.getResource(path));
    const std::string frames = testsupport::shellOutput("soxi -s '" + root + "/recordings/track3-test.wav'");
    EXPECT_EQ(std::to_string(pool.getResource(path)->frameCount()) + "\n", frames);

    // The new sample asks for a list name: "none" is taken by the engines.
    EXPECT_EQ(pool.pendingDialog(), 5u);
    EXPECT_EQ(Driver::numpad.text.size(), 7u);
    name("none");
    EXPECT_EQ(pool.pendingDialog(), 5u);
    EXPECT_EQ(pool.getGroup("none", false), nullptr);
    name("rec");
    ASSERT_NE(pool.getGroup("rec", false), nullptr);
    EXPECT_EQ(pool.getGroup("rec", false)->size(), 1u);

    press(3);
    ASSERT_EQ(pool.viewState(), 2u);
    const auto entry = pool.getGroup("rec", false)->entryAt(0);
    for (int i = 0; i < 300; ++i)
        turn(28, 1);  // "start" as far as it goes
    EXPECT_LT(entry->startFrame.load(), entry->endFrame.load());
    EXPECT_LT(entry->endFrame.load(), entry->frames);

    stepChoice(12, 2, true);  // "data": rate
    for (int i = 0; i < 600; ++i)
        turn(28, -1);
    EXPECT_GE(entry->rate.load(), AudioResourcePool::kMinRate);
    EXPECT_GE(pool.rate.getValue(), AudioResourcePool::kMinRate);
    EXPECT_LT(entry->rate.load(), 1.0f);  // it did move
    EXPECT_TRUE(pool.close());
}

TEST_F(SamplePoolPageTest, RenamingOntoNoneOrATakenNameKeepsTheList) {
    const std::string a = wav("a.wav", 100);
    listWith("one", {a});
    listWith("two", {a});
    pool.updateListParameters();
    press(1);
    choose("rename list");
    name("none");
    EXPECT_NE(pool.getGroup("one", false), nullptr);
    press(1);
    choose("rename list");
    name("two");
    EXPECT_EQ(pool.groupCount(), 2u);
    press(1);
    choose("rename list");
    name("three");
    EXPECT_EQ(pool.listNames(), (std::vector<std::string>{"none", "three", "two"}));
}

TEST_F(SamplePoolPageTest, NewSamplesGoIntoANamedListThatCanBeCopiedEditedAndEmptied) {
    const std::vector<std::string> files{wav("c.wav", 300), wav("a.wav", 200), wav("b.wav", 100)};
    pool.close();
    ASSERT_EQ(pool.loadSamples(files), 3);
    pool.open();
    EXPECT_FALSE(pool.close());  // a pop-up waits for the name
    name("kit");
    ASSERT_NE(pool.getGroup("kit", false), nullptr);
    const auto kit = pool.getGroup("kit", false)->entries.get();
    ASSERT_EQ(kit->size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ((*kit)[i]->sample, files[i]);  // in load order

    // Copy the selection (the second entry) into a new list: only it, unselected.
    EXPECT_EQ(pool.selectedEntryIndex(), -1);  // the overview
    press(3);
    stepChoice(12, 1);
    EXPECT_EQ(pool.selectedEntryIndex(), 1);
    press(0);
    press(1);
    choose("copy samples");
    choose("create new list");
    name("sel");
    ASSERT_NE(pool.getGroup("sel", false), nullptr);
    ASSERT_EQ(pool.getGroup("sel", false)->size(), 1u);
    EXPECT_EQ(pool.getGroup("sel", false)->entryAt(0)->sample, files[1]);
    EXPECT_FALSE((*kit)[1]->selected.load());

    MonoGFX window;
    window.init(256, 64);
    pool.draw(window);
    uint32_t lit = 0;
    for (int x = 0; x < 256; ++x)
        lit += window.pixel(x, 3) > 0;
    EXPECT_GT(lit, 0u);  // the title row

    // Deleting the last entry of a list goes back to the overview.
    ASSERT_TRUE(Driver::listSelection.state() == kPopupIdle);
    ASSERT_TRUE(pool.getGroup("sel", false));
    pool.open();
    pool.update();
    while (pool.getGroup("sel", false)->size() > 0 || pool.viewState() == 2) {
        if (pool.viewState() == 1) {
            // Choose "sel" in the overview and open it.
            ASSERT_TRUE(pool.parSampleList.setFromString("sel"));
            pool.parSampleList.constrain();
            press(3);
            ASSERT_EQ(pool.viewState(), 2u);
        }
        press(2);
        pool.update();
    }
    EXPECT_EQ(pool.viewState(), 1u);
    EXPECT_TRUE(pool.close());
}

}  // namespace
