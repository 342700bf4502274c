// The interface task animates the screensaver and serves the number pad
// while the audio side draws from the shared generators and posts keys.
#include "dsp/Random.h"
#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "gui/Screensaver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace DSP {
extern Random random;
extern Noise noise;
}  // namespace DSP

namespace {

TEST(ScreensThreaded, ScreensaverBesideTheAudioGenerators) {
    Screensaver s;
    MonoGFX w;
    w.init(256, 64);
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> drawn{0};
    std::thread audio([&] {
        uint64_t sum = 0;
        while (!stop.load(std::memory_order_acquire))
            sum += DSP::random.nextHigh() + uint32_t(DSP::noise.next() > 0.0f);
        EXPECT_NE(sum, 1u);
    });
    for (int frame = 0; frame < 300; ++frame) {
        s.draw(w);
        drawn.fetch_add(1);
    }
    stop.store(true, std::memory_order_release);
    audio.join();
    EXPECT_EQ(drawn.load(), 300u);
}

TEST(ScreensThreaded, NumpadKeysFromTheAudioThread) {
    Numpad pad;
    MonoGFX w;
    w.init(256, 64);
    ASSERT_TRUE(pad.open(Numpad::kText, "t", "", 32));
    constexpr int kPresses = 2000;
    std::atomic<int> posted{0};
    std::thread audio([&] {
        for (int k = 0; k < kPresses; ++k) {
            pad.tick();
            pad.key(k % 2 ? 2 : 13, k % 2 ? 3 : 2);  // "0" then a held delete (never a cancel)
            pad.encoder(12, k % 3 - 1, false);
            posted.fetch_add(1, std::memory_order_release);
        }
    });
    // Draw until every press was posted and applied.
    while (posted.load(std::memory_order_acquire) < kPresses)
        pad.draw(w);
    audio.join();
    pad.draw(w);
    EXPECT_TRUE(pad.isOpen());
    EXPECT_LE(pad.text.size(), 32u);
    EXPECT_LE(size_t(pad.cursor.value.load()), pad.text.size());
}

}  // namespace

#include "gui/Confirm.h"
#include "gui/FileBrowser.h"
#include "platform/Paths.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>

namespace {

TEST(ScreensThreaded, BrowserInputFromTheAudioThreadWhileItLists) {
    const std::string root = testsupport::tempDir() + "browser-threaded";
    ASSERT_TRUE(host::setRoot(root));
    for (int k = 0; k < 20; ++k) {
        std::filesystem::create_directories(root + "/d" + std::to_string(k % 4));
        std::ofstream(root + "/d" + std::to_string(k % 4) + "/f" + std::to_string(k) + ".scl") << "x";
    }
    FileBrowser browser;
    browser.services.clockRunning = [] { return false; };
    MonoGFX w;
    w.init(256, 64);
    ASSERT_TRUE(GUI::openEditor(&browser, false));
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> sent{0};
    std::thread audio([&] {
        // Wander in and out of folders, marking on the way.
        static const int keys[] = {3, 0, 0, 2, 3, 0};
        for (uint32_t k = 0; !stop.load(std::memory_order_acquire); ++k) {
            browser.encoder(12, (k / 7) % 2 ? 1 : -1, false);
            if (k % 11 == 0)
                browser.button(keys[(k / 11) % 6], 2);
            sent.fetch_add(1, std::memory_order_release);
        }
    });
    for (int frame = 0; frame < 400 || sent.load(std::memory_order_acquire) < 1000; ++frame)
        browser.draw(w);
    stop.store(true, std::memory_order_release);
    audio.join();
    browser.draw(w);
    // A load the wandering asked for counts the file under the cursor until
    // its question is answered: answer it (no), then the marks must agree.
    Driver::confirm.key(2, 2);
    browser.draw(w);
    browser.draw(w);
    // Whatever was visited: the marks and their count agree, and the browser never left the data folder.
    uint32_t marked = 0;
    for (const FileEntry& e : browser.files)
        marked += e.marked;
    EXPECT_EQ(marked, browser.markedCount);
    EXPECT_EQ(browser.listedFolder.rfind(FileBrowser::kRootFolder, 0), 0u);
    GUI::currentEditor = nullptr;
    Driver::confirm.key(2, 2);  // a load the wandering may have asked for
    Driver::confirm.result();
}

}  // namespace
