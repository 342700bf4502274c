// File types, result texts and the folder listing's entries, checked
// against sox, stat and date.
#include "FileTestSupport.h"
#include "instrument/files/FileTypes.h"
#include "instrument/files/PartFile.h"
#include "tests/gui/GuiTestSupport.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

using namespace filetest;

class FileTypesTest : public FileTest {};

TEST_F(FileTypesTest, TextsExtensionsAndExistence) {
    EXPECT_FALSE(fileExists(""));
    EXPECT_STREQ(loadResultText(LoadParseFailed), "parsing JSON failed");
    EXPECT_STREQ(loadResultText(LoadResult(9)), "success");
    EXPECT_STREQ(saveResultText(SaveFolderFailed), "couldn't create project folder");
    EXPECT_STREQ(saveResultText(SaveResult(-1)), "success");
    EXPECT_EQ(fileTypeExtension(FileTypeMotion), "mot");
    EXPECT_EQ(fileTypeExtension(FileTypeAudio), "");
    EXPECT_EQ(fileTypes().at("motion recordings"), FileTypeMotion);
    EXPECT_TRUE(hasFileType(FileTypeProject | FileTypeTuning, FileTypeTuning));
    EXPECT_FALSE(logReadResult("/home/corvane/x.proj", LoadSuccess));
    EXPECT_TRUE(logReadResult("/home/corvane/projects/p-project/p.proj", LoadParseFailed));
    EXPECT_TRUE(logWriteResult("p.proj", SaveNothing));
}

TEST_F(FileTypesTest, EntriesByExtensionAudioFirstAndOnlyRegularFilesProbed) {
    for (const char* name : {"a.SEQ", "b.sg", "c.mot", "d.scl", "e"})
        spit(std::string("/home/corvane/") + name, "{}");
    EXPECT_EQ(FileEntry("/home/corvane", "a.SEQ").type, FileTypeOther);  // case matters
    EXPECT_EQ(FileEntry("/home/corvane", "b.sg").type, FileTypeSampleLists);
    EXPECT_EQ(FileEntry("/home/corvane", "c.mot").type, FileTypeMotion);  // motion files list as such
    EXPECT_EQ(FileEntry("/home/corvane", "d.scl").type, FileTypeTuning);
    EXPECT_EQ(FileEntry("/home/corvane", "e").type, FileTypeOther);

    // 100000 frames at 48 kHz, named like a project: audio wins.
    const std::string wav = hostFile("/home/corvane/x.proj");
    ASSERT_EQ(std::system(("sox -n -r 48000 -c 1 -t wav " + wav + " synth 100000s sine 440 2>/dev/null").c_str()), 0);
    FileEntry audio("/home/corvane", "x.proj");
    EXPECT_EQ(audio.type, FileTypeAudio);
    EXPECT_EQ(std::to_string(audio.frames) + "\n", sh("soxi -s " + wav));
    EXPECT_EQ(audio.sampleRate, 48000);
    EXPECT_EQ(audio.minutes, 0);
    EXPECT_EQ(audio.seconds, 2);
    EXPECT_EQ(audio.milliseconds, 83);
    EXPECT_EQ(std::to_string(audio.size) + "\n", sh("stat -c %s " + wav));
    EXPECT_FALSE(audio.date.empty());
    EXPECT_LE(audio.date.size(), 63u);

    // A FIFO is never opened: the listing would block on it.
    ASSERT_EQ(mkfifo(hostFile("/home/corvane/pipe.inst").c_str(), 0644), 0);
    FileEntry fifo("/home/corvane", "pipe.inst");
    EXPECT_EQ(fifo.type, FileTypeInstrument);  // typed by its name all the same
    EXPECT_EQ(fifo.engine, "");
    ASSERT_TRUE(host::makeFolders(hostFile("/home/corvane/folder.seq")));
    EXPECT_EQ(FileEntry("/home/corvane", "folder.seq").type, FileTypeSequencer);

    FileEntry gone("/home/corvane", "gone.seq");
    EXPECT_EQ(gone.size, 0);
    EXPECT_EQ(gone.date, "");
    EXPECT_EQ(FileEntry().name, "folder does not contain files..");
}

TEST_F(FileTypesTest, TuningFilesReachTheScaleRegistry) {
    World w;
    spit("/home/corvane/good.scl", "! good.scl\n5 tones\n5\n240.0\n480.0\n720.0\n960.0\n2/1\n");
    spit("/home/corvane/bad.scl", "! bad.scl\nbad\n2\nx.y\n2/1\n");
    EXPECT_EQ(readTuning("/home/corvane/good.scl"), LoadSuccess);
    ASSERT_NE(w.scales.getScale("good.scl"), nullptr);
    EXPECT_EQ(w.scales.getScale("good.scl")->stepsPerOctave(), 5);
    EXPECT_EQ(readTuning("/home/corvane/bad.scl"), LoadInterpretFailed);
    EXPECT_EQ(readTuning("/home/corvane/none.scl"), LoadFileMissing);
}

namespace {

// Runs body in a child process stopped after `seconds`; its exit status, or
// -signal when it was killed.
template <class F>
int inChildWithin(unsigned seconds, F&& body) {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(seconds);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

}  // namespace

// A scale file is bounded like the JSON files and never opened unless
// regular; 200,000 degrees in falling order load within seconds.
TEST_F(FileTypesTest, ScaleFilesAreBoundedRegularAndLoadQuickly) {
    World w;
    std::string big = "! big.scl\nmany degrees\n200000\n";
    for (int i = 1; i <= 200000; ++i)
        big += std::to_string(1200.0 * (200001 - i) / 200001.0) + "\n";  // descending: every insert out of order
    spit("/home/corvane/big.scl", big);
    const int loaded = inChildWithin(20, [&] {
        if (readTuning("/home/corvane/big.scl") != LoadSuccess)
            return 1;
        const PitchScale* scale = w.scales.getScale("big.scl");
        return scale && scale->stepsPerOctave() == 200001 ? 0 : 2;
    });
    EXPECT_EQ(loaded, 0);

    ASSERT_EQ(mkfifo(hostFile("/home/corvane/pipe.scl").c_str(), 0644), 0);
    EXPECT_EQ(inChildWithin(10, [] { return int(readTuning("/home/corvane/pipe.scl")); }), int(LoadOpenFailed));
    spit("/home/corvane/huge.scl", "! huge.scl\nhuge\n1\n2/1\n");
    ASSERT_EQ(truncate(hostFile("/home/corvane/huge.scl").c_str(), off_t(PartFile::kMaxFileSize) + 1), 0);
    EXPECT_EQ(readTuning("/home/corvane/huge.scl"), LoadOpenFailed);
    EXPECT_EQ(w.scales.getScale("huge.scl"), nullptr);
}

// The on-screen notice holds 58 characters: a long file name is shortened
// so that the notice still shows which file failed and how.
TEST_F(FileTypesTest, AFailedFileWithALongNameStillGetsItsNotice) {
    guitest::clearNotices();
    const std::string name = "a-rather-long-name-for-the-lead-instrument-of-the-song.inst";
    EXPECT_TRUE(logReadResult("/home/corvane/projects/" + name, LoadSamplesMissing));
    const std::vector<std::string> shown = guitest::notices();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_LE(shown[0].size(), GuiNotify::kMaxText);
    EXPECT_EQ(shown[0].substr(0, 10), name.substr(0, 10));
    EXPECT_NE(shown[0].find("..: some samples could not be found"), std::string::npos) << shown[0];
}
