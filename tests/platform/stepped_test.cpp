#include "platform/Audio.h"
#include "platform/AudioInput.h"
#include "platform/AuxiliaryTask.h"
#include "platform/Paths.h"
#include "platform/SampleValues.h"
#include "platform/Stepped.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/TempDir.h"
#include "tests/support/sound_file.h"


#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

// While set, a refused sf_open_fd is followed at once by an open of this
// file, which takes the lowest free number: the one libsndfile 1.2.0 has
// just closed, whatever it was told.
const char* gOpenAfterRefusal = nullptr;
int gOpenedAfterRefusal = -1;

extern "C" SNDFILE* sf_open_fd(int fd, int mode, SF_INFO* info, int closeDescriptor) {
    using Open = SNDFILE* (*)(int, int, SF_INFO*, int);
    static const auto real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "sf_open_fd"));
    SNDFILE* file = real(fd, mode, info, closeDescriptor);
    if (!file && gOpenAfterRefusal) {
        if (fcntl(fd, F_GETFD) != -1)
            close(fd);  // as 1.2.0 does, for a release that does not
        gOpenedAfterRefusal = open(gOpenAfterRefusal, O_RDONLY | O_CLOEXEC);
    }
    return file;
}

namespace {

struct Probe {
    std::vector<uint64_t> renderedAt;  // audioFramesElapsed per block
    std::vector<std::string> log;
    AuxiliaryTask task = nullptr;
    bool setupResult = true;
    bool cleanedUp = false;
    bool denormalsFlushed = false;
};
Probe* gProbe = nullptr;

bool probeSetup(BelaContext* context, void*) {
    gProbe->task = Bela_createAuxiliaryTask([](void*) { gProbe->log.push_back("task"); }, 50, "probe-task");
    return gProbe->setupResult && gProbe->task;
}

void probeRender(BelaContext* context, void*) {
    gProbe->renderedAt.push_back(context->audioFramesElapsed);
    gProbe->log.push_back("render");
    // Schedule on every second block, twice, to check coalescing.
    if (gProbe->renderedAt.size() % 2 == 0) {
        Bela_scheduleAuxiliaryTask(gProbe->task);
        Bela_scheduleAuxiliaryTask(gProbe->task);
    }
    volatile float tiny = FLT_MIN;
    volatile float half = tiny / 4.0f;
    gProbe->denormalsFlushed = half == 0.0f;
    context->audioOut[0] = context->audioIn[3];
}

void probeCleanup(BelaContext*, void*) { gProbe->cleanedUp = true; }

class SteppedRun : public ::testing::Test {
protected:
    void SetUp() override {
        gProbe = &probe;
        root = testsupport::tempDir() + "stepped-root";
        settings.setup = probeSetup;
        settings.render = probeRender;
        settings.cleanup = probeCleanup;
        settings.mode = HostMode::Stepped;
        settings.root = root;
    }
    void TearDown() override {
        Bela_cleanupAudio();
        gProbe = nullptr;
    }
    Probe probe;
    BelaInitSettings settings;
    std::string root;
};

TEST_F(SteppedRun, StepsBlocksAndRunsScheduledTasksAfterTheirBlock) {
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
    BelaContext* c = host::context();
    EXPECT_EQ(c->audioFrames, 64u);
    EXPECT_EQ(c->audioInChannels, 8u);
    EXPECT_EQ(c->audioOutChannels, 8u);
    EXPECT_EQ(c->digitalFrames, 64u);
    EXPECT_EQ(c->audioSampleRate, 48000.0f);
    ASSERT_EQ(Bela_startAudio(), 0);
    host::stepBlocks(4);
    std::vector<std::string> expected = {"render", "render", "task", "render", "render", "task"};
    EXPECT_EQ(probe.log, expected);
    EXPECT_EQ(probe.renderedAt, (std::vector<uint64_t>{0, 64, 128, 192}));
    EXPECT_EQ(host::blocksRendered(), 4u);
    EXPECT_TRUE(probe.denormalsFlushed);
}

TEST_F(SteppedRun, TasksWaitWhenNotRunAndInputsReachRender) {
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
    host::audioInBuffer()[3] = 0.25f;
    host::stepBlocks(2, false);
    EXPECT_EQ(probe.log, (std::vector<std::string>{"render", "render"}));
    EXPECT_EQ(host::context()->audioOut[0], 0.25f);
    host::runPendingTasks();
    EXPECT_EQ(probe.log.back(), "task");
    host::runPendingTasks();  // nothing pending any more
    EXPECT_EQ(probe.log.size(), 3u);
}

TEST_F(SteppedRun, FailingSetupFailsInitAndCleansUp) {
    probe.setupResult = false;
    EXPECT_NE(Bela_initAudio(&settings, nullptr), 0);
    EXPECT_TRUE(probe.cleanedUp);
    EXPECT_NE(Bela_startAudio(), 0);
}

TEST_F(SteppedRun, CleanupCallsCleanupAndAllowsANewRun) {
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
    Bela_cleanupAudio();
    EXPECT_TRUE(probe.cleanedUp);
    probe.cleanedUp = false;
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
    host::stepBlocks(1);
    EXPECT_EQ(probe.renderedAt.size(), 1u);
}

TEST_F(SteppedRun, AudioInputFileFeedsTheInputsThenSilence) {
    // Two channels, 100 frames: channel c, frame f holds (c + 1) * 0.001 * f,
    // except a few values no input can carry.
    std::string path = testsupport::tempDir() + "input.wav";
    std::vector<float> frames(200);
    for (int i = 0; i < 100; ++i) {
        frames[2 * i] = 0.001f * i;
        frames[2 * i + 1] = 0.002f * i;
    }
    frames[2 * 20] = NAN;
    frames[2 * 21 + 1] = -INFINITY;
    frames[2 * 22] = 3.0f;
    frames[2 * 23 + 1] = -1e30f;
    ASSERT_TRUE(testsupport::writeSound(path, frames, 48000, 2));

    settings.audioInFile = path;
    testing::internal::CaptureStderr();
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Audio input " + path + ": 3 values replaced"), std::string::npos) << said;
    // File channel 1 feeds input 1 ("mic in 1"), channel 2 input 2; the
    // firmware reads input k from context channel 4 - k.
    const BelaContext* c = host::context();
    host::stepBlocks(1, false);
    EXPECT_FLOAT_EQ(c->audioIn[10 * 8 + 3], 0.010f);
    EXPECT_FLOAT_EQ(c->audioIn[10 * 8 + 2], 0.020f);
    EXPECT_EQ(c->audioIn[10 * 8 + 1], 0.0f);
    EXPECT_EQ(c->audioIn[10 * 8 + 0], 0.0f);
    EXPECT_EQ(c->audioIn[20 * 8 + 3], 0.0f);
    EXPECT_EQ(c->audioIn[21 * 8 + 2], 0.0f);
    EXPECT_EQ(c->audioIn[22 * 8 + 3], 3.0f);  // within the bound: kept
    EXPECT_EQ(c->audioIn[23 * 8 + 2], -kSampleValueBound);
    host::stepBlocks(1, false);  // frames 64..127: the file ends at 100
    EXPECT_FLOAT_EQ(c->audioIn[(99 - 64) * 8 + 3], 0.099f);
    EXPECT_EQ(c->audioIn[(100 - 64) * 8 + 3], 0.0f);
    EXPECT_EQ(c->audioIn[63 * 8 + 2], 0.0f);
}

// A file several times the reader's ring arrives whole and in order: each
// block waits for its frames, however far the reader is behind.
TEST_F(SteppedRun, LongAudioInputArrivesWholeAndInOrder) {
    const std::string path = testsupport::tempDir() + "long-input.wav";
    const size_t length = 3 * host::AudioInputStream::kRingFrames + 100;
    std::vector<float> frames(2 * length);
    for (size_t i = 0; i < length; ++i) {
        frames[2 * i] = float(i % 1000) / 1000.0f;
        frames[2 * i + 1] = -float(i % 777) / 1000.0f;
    }
    ASSERT_TRUE(testsupport::writeSound(path, frames, 48000, 2));
    settings.audioInFile = path;
    ASSERT_EQ(Bela_initAudio(&settings, nullptr), 0);
    const BelaContext* c = host::context();
    size_t wrong = 0;
    for (size_t block = 0; block * 64 < length + 64; ++block) {
        host::stepBlocks(1, false);
        for (size_t f = 0; f < 64; ++f) {
            const size_t i = block * 64 + f;
            const float first = i < length ? float(i % 1000) / 1000.0f : 0.0f;
            const float second = i < length ? -float(i % 777) / 1000.0f : 0.0f;
            wrong += c->audioIn[f * 8 + 3] != first || c->audioIn[f * 8 + 2] != second;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(SteppedRun, UnreadableAudioInputFailsInit) {
    settings.audioInFile = testsupport::tempDir() + "missing.wav";
    EXPECT_NE(Bela_initAudio(&settings, nullptr), 0);
}

// The input closes only what is its own: a file opened after the refusal
// (on the number libsndfile let go of) is still open, and the same file.
TEST(AudioInputStream, ARefusedFileLeavesTheNextDescriptorAlone) {
    const std::string text = testsupport::tempDir() + "notes.txt", kept = testsupport::tempDir() + "kept.txt";
    std::ofstream(text) << "not a sound\n";
    std::ofstream(kept) << "kept\n";
    gOpenAfterRefusal = kept.c_str();
    EXPECT_FALSE(host::AudioInputStream().open(text, 8));
    gOpenAfterRefusal = nullptr;
    struct stat opened {}, file {};
    ASSERT_EQ(stat(kept.c_str(), &file), 0);
    ASSERT_EQ(fstat(gOpenedAfterRefusal, &opened), 0);
    EXPECT_TRUE(opened.st_dev == file.st_dev && opened.st_ino == file.st_ino);
    close(gOpenedAfterRefusal);
}

TEST(BlockFence, ReturnsAtOnceWhenNothingRenders) {
    Bela_blockFence();
    SUCCEED();
}

TEST(Options, PlatformOptionsAreTakenAndOthersHandedBack) {
    BelaInitSettings s;
    const char* args[] = {"corvane", "--offline", "--blocks", "750", "--root", "/tmp/x", "--audio-out", "o.wav",
                          "-h"};
    optind = 1;
    const struct option custom[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
    int c = Bela_getopt_long(9, const_cast<char**>(args), "h", custom, &s);
    EXPECT_EQ(c, 'h');
    EXPECT_EQ(s.mode, HostMode::Offline);
    EXPECT_EQ(s.stopAfterBlocks, 750u);
    EXPECT_EQ(s.root, "/tmp/x");
    EXPECT_EQ(s.audioOutFile, "o.wav");

    const char* bad[] = {"corvane", "--blocks", "-3"};
    optind = 1;
    EXPECT_EQ(Bela_getopt_long(3, const_cast<char**>(bad), "h", custom, &s), '?');
    const char* unknown[] = {"corvane", "--frobnicate"};
    optind = 1;
    EXPECT_EQ(Bela_getopt_long(2, const_cast<char**>(unknown), "h", custom, &s), '?');
    const char* seconds[] = {"corvane", "--seconds", "2"};
    optind = 1;
    EXPECT_EQ(Bela_getopt_long(3, const_cast<char**>(seconds), "h", custom, &s), -1);
    EXPECT_EQ(s.stopAfterBlocks, 1500u);
}

TEST(Paths, FixedPathsMapUnderTheRootAndNeverEscapeIt) {
    std::string root = testsupport::tempDir() + "path-root";
    ASSERT_TRUE(host::setRoot(root));
    EXPECT_EQ(host::hostPath("/home/corvane/corvane.json"), root + "/corvane.json");
    EXPECT_EQ(host::hostPath("/home/corvane/projects/"), root + "/projects/");
    EXPECT_EQ(host::hostPath("/home/corvane"), root);
    // The board's /tmp is the host's, out of the file browser's sight; the
    // player's own tmp/ stays the player's.
    EXPECT_EQ(host::hostPath("/tmp/corvane-exit-code"), root + "/.host/corvane-exit-code");
    EXPECT_EQ(host::hostPath("/var/../tmp/"), root + "/.host/");
    EXPECT_EQ(host::hostPath("/home/corvane/tmp/a.wav"), root + "/tmp/a.wav");
    EXPECT_EQ(host::hostPath("tmp/a.wav"), root + "/tmp/a.wav");
    EXPECT_EQ(host::hostPath("/etc/ssh/sshd_config"), root + "/etc/ssh/sshd_config");
    EXPECT_EQ(host::hostPath("/home/corvane/../../etc/passwd"), root + "/etc/passwd");
    EXPECT_EQ(host::hostPath("recordings/a.wav"), root + "/recordings/a.wav");
    EXPECT_EQ(host::hostPath("/home/corvaneX/a"), root + "/home/corvaneX/a");
    for (const char* p : {"/../..", "..", "../../../x", "/home/corvane/./../.."})
        EXPECT_EQ(host::hostPath(p).rfind(root, 0), 0u) << p;
}

// A test that forgets its root must not reach the user's data: every test
// program's main points HOME and XDG_DATA_HOME into its scratch folder.
TEST(Paths, TheDefaultRootOfATestIsInItsScratchFolder) {
    const std::string scratch = testsupport::tempDir();
    EXPECT_EQ(host::defaultRoot().rfind(scratch, 0), 0u) << host::defaultRoot();
    const char* home = getenv("HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(std::string(home).rfind(scratch, 0), 0u) << home;
}

}  // namespace
