// Standard output as the audio output (--audio-out /dev/stdout | ...): it
// carries the WAV stream alone, whatever name leads there; the console and
// what run.sh's build says go to standard error.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "platform/WavWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kRunScript = std::string(CORVANE_SOURCE_DIR) + "/scripts/run.sh";
const std::string kFirstSound = std::string(CORVANE_SOURCE_DIR) + "/examples/first-sound.panel";

// Every sample of a WAV file as libsndfile reads it; empty when it cannot.
std::vector<float> samplesOf(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<float> samples;
    std::vector<float> chunk(4096 * size_t(info.channels));
    for (sf_count_t n; (n = sf_readf_float(file, chunk.data(), 4096)) > 0;)
        samples.insert(samples.end(), chunk.begin(), chunk.begin() + n * info.channels);
    sf_close(file);
    return samples;
}

// The first sound rendered offline through run.sh into `audioOut`, with
// what follows the command (a redirection or a pipe) in `tail`; returns its
// standard error and status.
std::string renderFirstSound(const std::string& audioOut, const std::string& tail) {
    const std::string err = testsupport::freshPath("stdout-err", ".txt");
    const std::string status = testsupport::shellOutput(
        "CORVANE_BINARY='" CORVANE_BINARY "' CORVANE_LAUNCHER='" CORVANE_LAUNCHER "' '" + kRunScript + "' --root '" +
        testsupport::freshPath("stdout-root") + "' --offline --seconds 3 --panel-script '" + kFirstSound +
        "' --audio-out " + audioOut + " 2>'" + err + "' </dev/null " + tail + "; echo \"status $?\"");
    return testsupport::slurp(err) + status;
}

TEST(StdoutAudio, EveryNameOfStandardOutputCarriesTheSameSamplesAndTheConsoleGoesToStandardError) {
    const std::string file = testsupport::freshPath("stdout-reference", ".wav");
    ASSERT_TRUE(renderFirstSound("'" + file + "'", ">/dev/null").ends_with("status 0\n"));
    const std::vector<float> reference = samplesOf(file);
    ASSERT_EQ(reference.size(), size_t(3 * 48000 * 8));

    // Into a file, into a pipe, through the names the kernel gives it, and
    // through a second name of the file standard output is.
    for (const auto& [name, tail] : std::vector<std::pair<std::string, std::string>>{
             {"/dev/stdout", ">'%s'"}, {"/dev/stdout", "| cat >'%s'"}, {"/dev/fd/1", "| cat >'%s'"},
             {"/proc/self/fd/1", ">'%s'"}, {"'%s'", ">'%s'"}}) {
        SCOPED_TRACE(name + " " + tail);
        const std::string captured = testsupport::freshPath("stdout-captured", ".wav");
        std::string redirect = tail, audioOut = name;
        redirect.replace(redirect.find("%s"), 2, captured);
        if (const size_t at = audioOut.find("%s"); at != std::string::npos)
            audioOut.replace(at, 2, captured);
        const std::string err = renderFirstSound(audioOut, redirect);
        ASSERT_TRUE(err.ends_with("status 0\n")) << err;
        EXPECT_NE(err.find("MainClock resumed\n"), std::string::npos) << err;
        EXPECT_NE(err.find("in: 8, out 8\n"), std::string::npos) << err;
        const std::vector<float> samples = samplesOf(captured);
        ASSERT_EQ(samples.size(), reference.size());
        EXPECT_TRUE(samples == reference);
    }
}

// run.sh's build (a stand-in checkout, deps.sh and cmake) says nothing on
// standard output: it may be the audio.
TEST(StdoutAudio, RunShBuildsOnStandardError) {
    const std::string checkout = testsupport::freshPath("stdout-checkout");
    host::makeFolders(checkout + "/scripts");
    host::makeFolders(checkout + "/bin");
    std::ofstream(checkout + "/scripts/run.sh") << testsupport::slurp(kRunScript);
    std::ofstream(checkout + "/scripts/deps.sh") << "#!/bin/sh\necho 'Installing: sox'\n";
    std::ofstream(checkout + "/bin/cmake") << "#!/bin/sh\necho \"cmake $*\"\n";
    for (const char* script : {"/scripts/run.sh", "/scripts/deps.sh", "/bin/cmake"})
        chmod((checkout + script).c_str(), 0755);
    const std::string err = testsupport::freshPath("stdout-build-err", ".txt");
    const std::string out = testsupport::shellOutput("env -u CORVANE_BINARY CORVANE_LAUNCHER=true PATH='" + checkout +
                                                     "/bin':\"$PATH\" '" + checkout + "/scripts/run.sh' 2>'" + err +
                                                     "'; echo \"status $?\"");
    EXPECT_EQ(out, "status 0\n");
    const std::string said = testsupport::slurp(err);
    EXPECT_NE(said.find("Installing: sox\n"), std::string::npos) << said;
    EXPECT_NE(said.find("cmake --build build/release"), std::string::npos) << said;
}

// A session with standard output as the audio is one stream: the launcher
// writes its one header, each run appends to it, and nothing is moved aside
// (the next run would write over the kept take through it).
TEST(StdoutAudio, TheLauncherWritesTheOneHeaderAndEachRunAppends) {
    const std::string dir = testsupport::freshPath("stdout-restart");
    host::makeFolders(dir);
    const std::string program = dir + "/program.sh";
    // Started, one word of "audio", then a restart and a power-off.
    std::ofstream(program) << "#!/bin/sh\nprintf 1 >\"/dev/fd/$CORVANE_STARTED_FD\"\n"
                              "printf \"run $CORVANE_LAUNCHER_RUN;\" >>/dev/stdout\n"
                              "[ \"$CORVANE_LAUNCHER_RUN\" = 2 ] && exit 3\nexit 5\n";
    chmod(program.c_str(), 0755);
    const std::string status = testsupport::shellOutput(
        "cd '" + dir + "' && CORVANE_BINARY='" + program + "' CORVANE_LAUNCHER='" CORVANE_LAUNCHER "' '" + kRunScript +
        "' --root root --audio-out /dev/stdout >take.wav 2>/dev/null </dev/null; echo \"status $?\"");
    EXPECT_EQ(status, "status 0\n");
    const auto header = host::WavWriter::header(8, 48000, 0);
    EXPECT_EQ(testsupport::slurp(dir + "/take.wav"), std::string(header.begin(), header.end()) + "run 1;run 2;");
    EXPECT_FALSE(std::filesystem::exists(dir + "/take-1.wav"));
}

// run.sh with the audio into a pipe, the reader of which takes `bytes` and
// goes (a player quit); returns standard error and the status.
std::string listenFor(const std::string& options, const std::string& bytes) {
    const std::string err = testsupport::freshPath("reader-err", ".txt");
    const std::string status = testsupport::freshPath("reader-status", ".txt");
    testsupport::shellOutput("{ CORVANE_BINARY='" CORVANE_BINARY "' CORVANE_LAUNCHER='" CORVANE_LAUNCHER "' '" +
                             kRunScript + "' --root '" + testsupport::freshPath("reader-root") + "' " + options +
                             " --audio-out /dev/stdout 2>'" + err + "' </dev/null; echo \"status $?\" >'" + status +
                             "'; } | head -c " + bytes + " >/dev/null");
    return testsupport::slurp(err) + testsupport::slurp(status);
}

// The reader of standard output going away ends the session at once, with
// one line and status 0: the player stopped listening. No restart.
TEST(StdoutAudio, TheReaderLeavingEndsTheSession) {
    for (const auto& [options, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"", "300000"}, {"", "10"}, {"--offline --seconds 60", "300000"}}) {
        SCOPED_TRACE(options + " " + bytes);
        const std::string said = listenFor(options, bytes);
        EXPECT_TRUE(said.ends_with("status 0\n")) << said;
        size_t lines = 0;
        for (size_t at = said.find("reader of standard output closed"); at != std::string::npos;
             at = said.find("reader of standard output closed", at + 1))
            ++lines;
        EXPECT_EQ(lines, 1u) << said;
        EXPECT_EQ(said.find("restarting"), std::string::npos) << said;
        EXPECT_EQ(said.find("Error"), std::string::npos) << said;
    }
}

// A closed standard output named as the audio is refused, with the line and
// where to read more: its number holds /dev/null, where the audio would
// vanish unsaid.
TEST(StdoutAudio, AClosedStandardOutputIsRefused) {
    for (const std::string options : {"--offline --seconds 1", ""}) {
        SCOPED_TRACE(options);
        const std::string err = testsupport::freshPath("closed-err", ".txt");
        // Only a hung run meets the bound.
        const std::string status = testsupport::shellOutput(
            "CORVANE_BINARY='" CORVANE_BINARY "' CORVANE_LAUNCHER='" CORVANE_LAUNCHER "' timeout -s KILL 60 '" +
            kRunScript + "' --root '" + testsupport::freshPath("closed-root") + "' " + options +
            " --audio-out /dev/stdout >&- 2>'" + err + "' </dev/null; echo \"status $?\"");
        EXPECT_EQ(status, "status 1\n");
        EXPECT_EQ(testsupport::slurp(err), "corvane: --audio-out /dev/stdout: standard output is closed\n"
                                           "Try 'corvane --help' for more information.\n");
    }
}

// A device is no file that fills the disk: an offline render into one needs
// no bound, and renders on until it is stopped.
TEST(StdoutAudio, AnOfflineRenderIntoADeviceNeedsNoBound) {
    int started[2];
    ASSERT_EQ(pipe2(started, O_CLOEXEC), 0);
    const std::string out = testsupport::freshPath("device-out", ".txt");
    const std::string err = testsupport::freshPath("device-err", ".txt");
    const std::string root = testsupport::freshPath("device-root");
    const pid_t pid = fork();
    if (pid == 0) {
        // The start's sign, as the launcher asks for it.
        const int sign = dup(started[1]);
        setenv("CORVANE_STARTED_FD", std::to_string(sign).c_str(), 1);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        execl(CORVANE_BINARY, CORVANE_BINARY, "--root", root.c_str(), "--offline", "--audio-out", "/dev/null",
              nullptr);
        _exit(127);
    }
    close(started[1]);
    char sign = 0;
    const bool startedUp = read(started[0], &sign, 1) == 1;  // none when it is refused: it ends
    close(started[0]);
    if (startedUp)
        kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    const std::string said = testsupport::slurp(err);
    EXPECT_TRUE(startedUp) << said;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
    EXPECT_EQ(said.find("needs --seconds or --blocks"), std::string::npos) << said;
}

}  // namespace
