#include "gui/Confirm.h"
#include "gui/FileBrowser.h"
#include "gui/ListSelect.h"
#include "gui/MonoGFX.h"
#include "gui/Numpad.h"
#include "instrument/files/ProjectFolder.h"
#include "platform/Paths.h"
#include "samples/SamplePreview.h"

#include <gtest/gtest.h>

#include "tests/gui/GuiTestSupport.h"
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/file_world.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kRoot = "/home/corvane/";

class Preview : public SamplePreview {
public:
    void play(const std::string& path) override { played.push_back(path); }
    void stop() override { ++stops; }
    bool isPlaying() const override { return false; }
    std::vector<std::string> played;
    int stops = 0;
};

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        root = testsupport::tempDir() + "browser-" + std::to_string(++counter);
        ASSERT_TRUE(host::setRoot(root));
        window.init(256, 64);
        browser.previewer = &preview;
        browser.services.readFile = [this](const std::string& p, int t) {
            calls.push_back("read " + p + " " + std::to_string(t));
            return LoadSuccess;
        };
        browser.services.readTuning = [this](const std::string& p) {
            calls.push_back("tuning " + p);
            return LoadSuccess;
        };
        browser.services.save = [this](const std::string& p, FileType type, int, bool) {
            calls.push_back("save " + p + " " + std::to_string(type));
            return SaveSuccess;
        };
        browser.services.loadSamples = [this](const std::vector<std::string>& paths) {
            calls.push_back("samples " + std::to_string(paths.size()));
        };
        browser.services.clockRunning = [] { return false; };
        guitest::clearNotices();
    }
    void TearDown() override {
        Driver::confirm.key(2, 2);
        Driver::confirm.result();
        Driver::listSelection.key(2, 2);
        Driver::listSelection.result();
        Driver::numpad.close();
        Driver::numpad.takeAccepted();
        Driver::numpad.takeCancelled();
        GUI::currentEditor = nullptr;
    }
    void touch(const std::string& relative, const std::string& text = "{}") {
        fs::create_directories(fs::path(root + "/" + relative).parent_path());
        std::ofstream(root + "/" + relative) << text;
    }
    void wav(const std::string& relative) {
        testsupport::shellOutput("sox -n -r 48000 '" + root + "/" + relative + "' trim 0 0.1 2>&1");
    }
    // One displayed frame: the page, then the pad (as the interface task does).
    void frame() {
        browser.draw(window);
        Driver::numpad.draw(window);
    }
    void open() {
        ASSERT_TRUE(GUI::openEditor(&browser, false));
        frame();
    }
    void key(int k) {
        browser.button(k, 2);
        frame();
    }
    // One row per five encoder ticks, a frame after each row.
    void moveTo(int row) {
        for (int guard = 0; guard < 64 && browser.cursor.value.load() != row; ++guard) {
            for (int t = 0; t < 5; ++t)
                browser.encoder(12, row > browser.cursor.value.load() ? 1 : -1, false);
            frame();
        }
    }
    int rowOf(const std::string& name) {
        auto f = std::find(browser.folders.begin(), browser.folders.end(), name);
        if (f != browser.folders.end())
            return int(f - browser.folders.begin());
        for (size_t k = 0; k < browser.files.size(); ++k)
            if (browser.files[k].name == name)
                return int(browser.folders.size() + k);
        return -1;
    }
    std::vector<std::string> names() {
        std::vector<std::string> out(browser.folders.begin(), browser.folders.end());
        for (const FileEntry& e : browser.files)
            out.push_back(e.name);
        return out;
    }
    bool noticed(const std::string& text) {
        const auto n = guitest::notices();
        return std::find(n.begin(), n.end(), text) != n.end();
    }
    // Answer the pop-up of the step in progress.
    void answer(bool yes) {
        Driver::confirm.key(yes ? 3 : 2, 2);
        Driver::listSelection.key(yes ? 3 : 2, 2);
        frame();
    }

    std::string root;
    MonoGFX window;
    FileBrowser browser;
    Preview preview;
    std::vector<std::string> calls;
};

TEST_F(BrowserTest, ListingHidesSortsAndNeverFollowsLinks) {
    for (const char* f : {"c.seq", "Abc.seq", "ab", "B.nts", ".hidden.seq", ".git/x", "lost+found/y", "Zeta/z",
                          "alpha/a.seq", "alpha/x.proj"})
        touch(f);
    ASSERT_EQ(symlink("/", (root + "/link").c_str()), 0);
    ASSERT_EQ(symlink("/etc/passwd", (root + "/passwd").c_str()), 0);
    open();
    EXPECT_EQ(browser.listedFolder, kRoot);
    EXPECT_EQ(names(), (std::vector<std::string>{"..", "alpha", "Zeta", "ab", "Abc.seq", "B.nts", "c.seq"}));

    moveTo(rowOf("alpha"));
    key(3);
    EXPECT_EQ(browser.listedFolder, std::string(kRoot) + "alpha/");
    EXPECT_EQ(browser.cursor.value.load(), rowOf("x.proj"));  // the first project
    key(2);
    EXPECT_EQ(browser.listedFolder, kRoot);
    moveTo(0);
    key(3);  // ".." at the root stays there
    EXPECT_EQ(browser.listedFolder, kRoot);
    EXPECT_TRUE(browser.isOpen());
    key(2);  // back at the root closes
    EXPECT_FALSE(browser.isOpen());
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);
}

TEST_F(BrowserTest, EmptyFolderAndLongHeader) {
    fs::create_directories(root + "/a-rather-long-name/second-level-folder");
    open();
    moveTo(1);
    key(3);
    EXPECT_EQ(browser.cursor.value.load(), 1);  // a new folder starts at its first entry
    key(3);
    EXPECT_EQ(browser.listedFolder, std::string(kRoot) + "a-rather-long-name/second-level-folder/");
    EXPECT_EQ(names(), (std::vector<std::string>{"..", FileEntry::kEmptyFolderName}));
    EXPECT_EQ(browser.cursor.value.load(), 1);
}

TEST_F(BrowserTest, AFolderThatVanishesKeepsTheBrowserInside) {
    fs::create_directories(root + "/corvane");
    touch("e.seq");
    open();
    moveTo(rowOf("corvane"));
    fs::remove(root + "/corvane");
    key(3);
    frame();
    EXPECT_TRUE(noticed("Failed to load folder: corvane/"));
    EXPECT_EQ(browser.requestedFolder, kRoot);
    EXPECT_EQ(browser.listedFolder, kRoot);
    key(2);  // closes, never climbs to "/home/"
    EXPECT_FALSE(browser.isOpen());
    EXPECT_EQ(browser.listedFolder, kRoot);
}

TEST_F(BrowserTest, RootThatCannotBeMadeWarnsOncePerOpen) {
    fs::remove_all(root);
    std::ofstream(root) << "x";  // a file where the root should be
    open();
    for (int k = 0; k < 10; ++k)
        frame();
    auto n = guitest::notices();
    EXPECT_EQ(std::count(n.begin(), n.end(), "Failed to create: /home/corvane/"), 1);
    fs::remove(root);
    GUI::currentEditor = nullptr;
    browser.mode = FileBrowser::Browsing;
    open();  // tried again, and this time it works
    frame();
    EXPECT_EQ(browser.listedFolder, kRoot);
    EXPECT_TRUE(fs::is_directory(root + "/recordings"));
}

TEST_F(BrowserTest, MarkingAndPreview) {
    wav("s1.wav");
    wav("s2.wav");
    wav("s3.wav");
    touch("t.scl", "! t\n x\n 1\n 2/1\n");
    fs::create_directories(root + "/sub");
    open();
    const int s1 = rowOf("s1.wav");
    moveTo(s1);
    EXPECT_EQ(preview.played, std::vector<std::string>{std::string(kRoot) + "s1.wav"});
    key(0);
    EXPECT_EQ(browser.markedCount, 1u);
    EXPECT_EQ(browser.markedType, uint32_t(FileTypeAudio));
    moveTo(rowOf("t.scl"));
    key(0);  // another kind is marked: refused
    EXPECT_EQ(browser.markedCount, 1u);

    // Key 0 held: passing over files marks them; over folders and back nothing drifts.
    guitest::hold(0);
    moveTo(s1 + 1);
    moveTo(s1 + 2);
    moveTo(0);
    moveTo(s1 + 2);
    moveTo(s1);
    guitest::release(0);
    EXPECT_EQ(browser.markedCount, 3u);
    int marked = 0;
    for (const FileEntry& e : browser.files)
        marked += e.marked;
    EXPECT_EQ(marked, 3);

    key(3);
    EXPECT_EQ(browser.mode.load(), uint32_t(FileBrowser::LoadConfirm));
    answer(true);
    EXPECT_TRUE(noticed("Loading 3 files..."));
    EXPECT_TRUE(calls.empty());  // the busy notice is drawn first
    frame();
    EXPECT_EQ(calls, std::vector<std::string>{"samples 3"});
    EXPECT_FALSE(browser.isOpen());
}

TEST_F(BrowserTest, CancelledLoadLeavesMarkingFree) {
    touch("a.seq");
    wav("s.wav");
    open();
    moveTo(rowOf("a.seq"));
    key(3);
    answer(false);
    EXPECT_EQ(browser.mode.load(), uint32_t(FileBrowser::Browsing));
    EXPECT_EQ(browser.markedCount, 0u);
    EXPECT_EQ(browser.markedType, 0u);
    frame();
    moveTo(rowOf("s.wav"));
    key(0);
    EXPECT_EQ(browser.markedCount, 1u);
    EXPECT_TRUE(calls.empty());
}

TEST_F(BrowserTest, MotionFilesAndEveryMarkedTuningAreRead) {
    touch("m.mot");
    touch("t1.scl");
    touch("t2.scl");
    open();
    moveTo(rowOf("m.mot"));
    key(3);
    answer(true);
    frame();
    EXPECT_EQ(calls, std::vector<std::string>{"read /home/corvane/m.mot 1"});

    calls.clear();
    GUI::currentEditor = nullptr;
    open();
    moveTo(rowOf("t1.scl"));
    key(0);
    moveTo(rowOf("t2.scl"));
    key(0);
    key(3);
    answer(true);
    frame();
    EXPECT_EQ(calls, (std::vector<std::string>{"tuning /home/corvane/t1.scl", "tuning /home/corvane/t2.scl"}));
}

TEST_F(BrowserTest, LastProjectOutsideTheDataFolderIsNotOpened) {
    touch("etc/x.proj");  // where the mapper would put "/etc/x.proj"
    browser.lastProject.setFromString("/home/corvane/../../etc/x.proj");
    browser.loadLastProject();
    EXPECT_TRUE(noticed("Could not load last project..."));
    EXPECT_EQ(Driver::confirm.state(), uint32_t(kPopupIdle));
    EXPECT_EQ(GUI::currentEditor.load(), nullptr);

    touch("projects/p-project/p.proj");
    browser.lastProject.setFromString("/home/corvane/projects/p-project/p.proj");
    browser.loadLastProject();
    EXPECT_EQ(GUI::currentEditor.load(), &browser);
    frame();
    answer(true);
    frame();
    EXPECT_EQ(calls, std::vector<std::string>{"read /home/corvane/projects/p-project/p.proj 1"});
}

class SaveTest : public BrowserTest {
protected:
    // Key 1 on the file row, "save new file", the type, a one-letter name, then the confirmation.
    // cancelAt: the step answered "no" (0 action list, 1 type list, 2 name, 3 confirmation), -1 none.
    void saveAs(int typeIndex, int cancelAt) {
        moveTo(int(browser.folders.size()));
        key(1);
        int step = 0;
        auto next = [&] { return step++ != cancelAt; };
        if (!next())
            return answer(false);
        answer(true);  // "save new file"
        // The list remembers the last choice: to the top first.
        for (int k = 0; k < 5 * 8; ++k)
            Driver::listSelection.encoder(12, -1, false);
        for (int k = 0; k < 5 * typeIndex; ++k)
            Driver::listSelection.encoder(12, 1, false);
        if (!next())
            return answer(false);
        answer(true);
        ASSERT_TRUE(Driver::numpad.isOpen());
        Driver::numpad.key(16, 2);  // "m"
        frame();
        if (!next()) {
            Driver::numpad.key(2, 2);
            Driver::numpad.key(2, 2);
            frame();
            frame();
            return;
        }
        Driver::numpad.key(3, 2);
        frame();
        frame();  // the page sees the accepted name and asks
        if (!next())
            return answer(false);
        answer(true);
        frame();
    }
};

TEST_F(SaveTest, CancellingAnyStepWritesNothing) {
    fs::create_directories(root + "/F");
    for (int step = 0; step < 4; ++step) {
        GUI::currentEditor = nullptr;
        open();
        moveTo(rowOf("F"));
        key(3);
        saveAs(1, step);
        frame();
        EXPECT_EQ(browser.mode.load(), uint32_t(FileBrowser::Browsing)) << step;
        EXPECT_TRUE(calls.empty()) << step;
        key(2);
        key(2);
    }
}

TEST_F(SaveTest, ANewProjectIsWrittenAndRemembered) {
    filetest::World world;
    browser.services.save = [](const std::string& p, FileType type, int t, bool overwrite) {
        return saveByFileType(p, type, *fileTargets().tracks[size_t(t - 1)], overwrite, true);
    };
    fs::create_directories(root + "/F");
    open();
    moveTo(rowOf("F"));
    key(3);
    saveAs(0, -1);
    EXPECT_FALSE(browser.isOpen());
    EXPECT_EQ(browser.lastProject.toString(), "/home/corvane/F/m-project/m.proj");
    const std::string out = testsupport::shellOutput("jq -e . '" + root + "/F/m-project/m.proj' >/dev/null && echo ok");
    EXPECT_EQ(out, "ok\n");
}

TEST_F(SaveTest, NamesThatLeaveTheFolderAreRefused) {
    touch("a.seq");
    open();
    moveTo(rowOf("a.seq"));
    key(1);
    answer(true);
    answer(true);
    ASSERT_TRUE(Driver::numpad.isOpen());
    // A text that climbs out of the folder, as a pad with "/" and "." keys could give.
    Driver::numpad.text = "../x";
    Driver::numpad.dirty = true;
    frame();
    Driver::numpad.key(3, 2);
    frame();
    frame();
    EXPECT_TRUE(noticed("Invalid file name"));
    EXPECT_EQ(browser.mode.load(), uint32_t(FileBrowser::Browsing));
    EXPECT_TRUE(calls.empty());
}

}  // namespace
