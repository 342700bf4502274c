// The corvane executable as a user meets it: options, exit status, signals
// and the captured output audio.
#include <gtest/gtest.h>

#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"

#include <sndfile.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::Outcome;
using testsupport::slurp;

// Standard output dropped, standard error kept in `errFile`.
pid_t spawn(const std::vector<std::string>& args, const std::string& errFile) {
    return testsupport::startCorvane(args, "/dev/null", errFile);
}

long long fileSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<long long>(in.tellg()) : -1;
}

Outcome run(const std::vector<std::string>& args) {
    static int calls = 0;
    const std::string errFile = testsupport::tempDir() + "corvane-stderr-" + std::to_string(++calls) + ".txt";
    return testsupport::runCorvane(args, "/dev/null", errFile);
}

// Both outputs kept, in files named after the run.
Outcome runKept(const std::string& name, const std::vector<std::string>& args) {
    const std::string base = testsupport::tempDir() + name;
    return testsupport::runCorvane(args, base + "-stdout.txt", base + "-stderr.txt");
}

// Asked for, the usage is the program's output: "corvane --help | less".
TEST(Process, HelpPrintsTheUsageOnStandardOutputAndExitsZero) {
    for (const char* option : {"--help", "-h"}) {
        Outcome r = runKept(std::string("help") + option, {option});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.out.rfind("Usage: corvane [options]\n", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("   --help [-h]:                        Print this menu\n"), std::string::npos);
        EXPECT_NE(r.out.find("--root DIR"), std::string::npos);
        EXPECT_NE(r.out.find("--midi-port PATH"), std::string::npos);
        EXPECT_EQ(r.err, "") << option;
    }
}

TEST(Process, UnknownOptionExitsOneWithoutStartingAudio) {
    std::string root = testsupport::tempDir() + "unknown-option-root";
    Outcome r = runKept("unknown-option", {"--root", root, "--no-such-option"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Usage: corvane"), std::string::npos);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(access((root + "/output.wav").c_str(), F_OK), -1);
}

TEST(Process, OfflineRunWritesExactlyTheRequestedAudio) {
    std::string root = testsupport::tempDir() + "offline-root";
    std::string wav = testsupport::tempDir() + "offline-750.wav";
    Outcome r = run({"--root", root, "--offline", "--blocks", "750", "--audio-out", wav});
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.frames, 48000);
    EXPECT_EQ(info.channels, 8);
    EXPECT_EQ(info.samplerate, 48000);
    sf_close(f);
    // And a second, independent reader agrees, without a warning.
    EXPECT_EQ(testsupport::shellOutput("soxi -s '" + wav + "' 2>&1"), "48000\n");
    EXPECT_EQ(testsupport::shellOutput("soxi -c '" + wav + "' 2>/dev/null"), "8\n");
}

TEST(Process, SigtermInRealTimeModeStopsCleanlyWithStatusZero) {
    std::string root = testsupport::tempDir() + "sigterm-root";
    std::string errFile = testsupport::tempDir() + "sigterm-stderr.txt";
    pid_t pid = spawn({"--root", root}, errFile);
    // Waits for audio to reach the capture, not for a span of time (the
    // guard only ends a hung run).
    for (int i = 0; i < 6000 && fileSize(root + "/output.wav") <= 94; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << slurp(errFile);
    // The default capture was closed properly on the way out.
    SF_INFO info{};
    SNDFILE* f = sf_open((root + "/output.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.channels, 8);
    EXPECT_GT(info.frames, 0);
    sf_close(f);
    EXPECT_NE(slurp(errFile).find(root + "/output.wav"), std::string::npos);
}

// The header follows the data while the run goes on: after kill -9 the file
// holds all but about the last second, and the readers take it.
TEST(Process, AKilledRunKeepsItsRecordingButTheLastSecond) {
    const std::string root = testsupport::tempDir() + "kill-root";
    const std::string wav = testsupport::tempDir() + "killed.wav";
    const std::string errFile = testsupport::tempDir() + "kill-stderr.txt";
    const uint64_t secondBytes = 48000ull * 8 * 4;
    pid_t pid = spawn({"--root", root, "--audio-out", wav}, errFile);
    // Waits for the header to count two seconds (the guard only ends a hung run).
    uint32_t headerBytes = 0;
    for (int i = 0; i < 6000 && headerBytes < 2 * secondBytes; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(wav, std::ios::binary);
        in.seekg(90);
        in.read(reinterpret_cast<char*>(&headerBytes), 4);
        if (!in)
            headerBytes = 0;
    }
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_GE(headerBytes, 2 * secondBytes) << slurp(errFile);

    std::ifstream in(wav, std::ios::binary | std::ios::ate);
    const uint64_t fileData = uint64_t(in.tellg()) - 94;
    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    sf_close(f);
    const uint64_t kept = uint64_t(info.frames) * 32;
    EXPECT_GE(kept, 2 * secondBytes);
    EXPECT_LE(kept, fileData);
    EXPECT_LE(fileData - kept, secondBytes + secondBytes / 4);  // a second, and the writer's last round
    EXPECT_EQ(testsupport::shellOutput("soxi -s '" + wav + "' 2>&1"), std::to_string(info.frames) + "\n");
}

// `main` chooses the instrument's board; nothing of a codec is heard on the
// host, so the platform says so when it has made and started it.
TEST(Process, TheBoardsCodecIsMadeAndStarted) {
    const std::string root = testsupport::tempDir() + "codec-root";
    Outcome r = runKept("codec", {"--root", root, "--offline", "--blocks", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Audio codec of VeskPcm3168A started\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("codec of VeskPcm3168A did not"), std::string::npos) << r.err;
}

// A file named on the console is one the user can open.
TEST(Process, ConsoleLinesNameFilesByTheirPathsInTheDataRoot) {
    const std::string root = testsupport::tempDir() + "paths-root";
    Outcome r = runKept("paths", {"--root", root, "--offline", "--blocks", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("[FileReadWrite] readFile(" + root + "/corvane.json)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("writeFile(" + root + "/corvane.json)\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("/home/corvane"), std::string::npos) << r.out;
}

}  // namespace
