#include "gui/Confirm.h"
#include "gui/GuiNotify.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "platform/Audio.h"
#include "platform/Stepped.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

namespace {

constexpr int kEach = 300;
GuiNotify* gNotify = nullptr;
std::atomic<int> gBlock{0};

bool quietSetup(BelaContext*, void*) { return true; }

// The audio thread posts one notice per block, the first kEach blocks.
void postingRender(BelaContext* context, void*) {
    const int block = gBlock.fetch_add(1);
    if (block < kEach) {
        char text[32];
        snprintf(text, sizeof text, "audio %d", block);
        gNotify->notify(text, 0, GuiNotify::kInfo);
    }
}

TEST(NotifyThreaded, NoticesFromTheAudioThreadAndAnotherThreadArriveWholeAndExpire) {
    GuiNotify notify;
    notify.setup();
    gNotify = &notify;
    gBlock = 0;

    BelaInitSettings s;
    s.setup = quietSetup;
    s.render = postingRender;
    s.mode = HostMode::Stepped;
    s.root = testsupport::tempDir() + "notify-root";
    ASSERT_EQ(Bela_initAudio(&s, nullptr), 0);
    ASSERT_EQ(Bela_startAudio(), 0);
    // The stepping thread is the audio thread while it steps.
    std::atomic<int> postersDone{0};
    std::thread audio([&] {
        host::stepBlocks(kEach, false);
        ++postersDone;
    });
    std::thread other([&] {
        for (int i = 0; i < kEach; ++i)
            notify.warning("other " + std::to_string(i) + std::string(size_t(i % 40), '.'));
        ++postersDone;
    });

    // The GUI side: draw frames, collecting every notice shown.
    MonoGFX window;
    window.init(256, 64);
    std::set<std::string> seen;
    int frames = 0;
    // Until both posters are done and one more frame has drained the pipe:
    // progress, not a number of frames that a slow poster might outlast.
    for (bool last = false; seen.size() < 2 * kEach && !last;) {
        last = postersDone.load() == 2;
        window.clear();
        notify.draw(window);
        for (const GuiMessage& m : notify.queue())
            seen.insert(m.text);
        notify.dismiss(true);  // keep the frames short: only arrival is measured here
        ++frames;
        if (frames % 64 == 0)
            std::this_thread::yield();
    }
    other.join();
    audio.join();
    Bela_stopAudio();
    Bela_cleanupAudio();

    int fromAudio = 0, others = 0;
    for (const std::string& text : seen) {
        if (text.rfind("audio ", 0) == 0)
            ++fromAudio;
        else if (text.rfind("other ", 0) == 0)
            ++others;
        else
            ADD_FAILURE() << "torn notice: " << text;
    }
    EXPECT_EQ(fromAudio, kEach);
    EXPECT_EQ(others, kEach);

    // Everything shown expires by itself once nothing more is posted.
    notify.warning("last");
    for (int i = 0; i < 100; ++i)
        notify.draw(window);
    EXPECT_TRUE(notify.queue().empty());
    gNotify = nullptr;
}

TEST(NotifyThreaded, PopupAnswersFromAnotherThreadAreSeenWithTheirChoice) {
    ListSelect list;
    Confirm confirm;
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> items(size_t(2 + round % 5), "x");
        ASSERT_TRUE(list.open("t", items, false));
        ASSERT_TRUE(confirm.open("q", "y", "n"));
        const int steps = round % int(items.size());
        std::thread keys([&] {
            for (int i = 0; i < steps * list.cursor.ticksPerStep; ++i)
                list.encoder(ListSelect::kEncoder, 1, false);
            list.key(ListSelect::kAcceptKey, 2);
            confirm.key(round % 2 ? Confirm::kAcceptKey : Confirm::kCancelKey, 2);
        });
        uint32_t r;
        while ((r = list.result()) == 1u)
            std::this_thread::yield();
        ASSERT_EQ(r, 2u);
        EXPECT_EQ(list.chosen(), steps);
        while ((r = confirm.result()) == 1u)
            std::this_thread::yield();
        EXPECT_EQ(r, round % 2 ? 2u : 3u);
        keys.join();
    }
}

}  // namespace
