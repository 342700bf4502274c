// The corvane executable as a user meets it: options, exit status, signals
// and the captured output audio.
#include <gtest/gtest.h>

#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/sound_file.h"
#include "tests/support/wait.h"

#include <sndfile.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
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
    const std::string base = testsupport::freshPath(name);
    return testsupport::runCorvane(args, base + "-stdout.txt", base + "-stderr.txt");
}

// Asked for or not, the usage goes to the error stream; asked for, the status is 0.
TEST(Process, HelpPrintsTheUsageOnStandardErrorAndExitsZero) {
    for (const char* option : {"--help", "-h"}) {
        Outcome r = runKept(std::string("help") + option, {option});
        EXPECT_EQ(r.status, 0) << option;
        EXPECT_EQ(r.err.rfind("Usage: corvane [options]\n", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("   --help [-h]:                        Print this menu\n"), std::string::npos);
        EXPECT_NE(r.err.find("--root DIR"), std::string::npos);
        EXPECT_NE(r.err.find("--midi-port PATH"), std::string::npos);
        EXPECT_NE(r.err.find("link ROOT/.host/midi-port"), std::string::npos);
        EXPECT_EQ(r.out, "") << option;
    }
}

TEST(Process, UnknownOptionExitsOneWithoutStartingAudio) {
    std::string root = testsupport::freshPath("unknown-option-root");
    Outcome r = runKept("unknown-option", {"--root", root, "--no-such-option"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Usage: corvane"), std::string::npos);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(access((root + "/output.wav").c_str(), F_OK), -1);
}

TEST(Process, OfflineRunWritesExactlyTheRequestedAudio) {
    std::string root = testsupport::freshPath("offline-root");
    std::string wav = testsupport::freshPath("offline-750", ".wav");
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
    std::string root = testsupport::freshPath("sigterm-root");
    std::string errFile = testsupport::freshPath("sigterm-stderr", ".txt");
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
    const std::string root = testsupport::freshPath("kill-root");
    const std::string wav = testsupport::freshPath("killed", ".wav");
    const std::string errFile = testsupport::freshPath("kill-stderr", ".txt");
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
    const std::string root = testsupport::freshPath("codec-root");
    Outcome r = runKept("codec", {"--root", root, "--offline", "--blocks", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Audio codec of VeskPcm3168A started\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("codec of VeskPcm3168A did not"), std::string::npos) << r.err;
}

// A file named on the console is one the user can open.
TEST(Process, ConsoleLinesNameFilesByTheirPathsInTheDataRoot) {
    const std::string root = testsupport::freshPath("paths-root");
    Outcome r = runKept("paths", {"--root", root, "--offline", "--blocks", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("[FileReadWrite] readFile(" + root + "/corvane.json)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("writeFile(" + root + "/corvane.json)\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("/home/corvane"), std::string::npos) << r.out;
}

// Frames the capture holds so far (8 channels of 32-bit float after a
// 94-byte header).
long long framesIn(const std::string& wav) {
    const long long size = fileSize(wav);
    return size > 94 ? (size - 94) / 32 : 0;
}

bool waitForFrames(const std::string& wav, long long frames) {
    return testsupport::waitUntil([&] { return framesIn(wav) >= frames; }, std::chrono::milliseconds(5));
}

// The level of the main output (outputs 1 and 2) in windows of 10 ms.
std::vector<double> mainLevels(const std::string& wav) {
    std::vector<double> level;
    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    if (!f || info.channels < 2)
        return level;
    std::vector<float> frames(size_t(480) * size_t(info.channels));
    while (sf_readf_float(f, frames.data(), 480) == 480) {
        double sum = 0;
        for (size_t k = 0; k < 480; ++k)
            for (size_t c = 0; c < 2; ++c)
                sum += double(frames[k * size_t(info.channels) + c]) * frames[k * size_t(info.channels) + c];
        level.push_back(std::sqrt(sum / 960));
    }
    sf_close(f);
    return level;
}

// A run that a failed assertion leaves behind is ended.
struct RunningCorvane {
    pid_t pid = -1;
    ~RunningCorvane() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    int stop() {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

// A USB MIDI interface is a raw MIDI device, no terminal; a FIFO is read the
// same way. The README's example script switches track 1's MIDI notes on.
TEST(Process, NotesWrittenIntoAFifoPlayTrackOne) {
    const std::string root = testsupport::freshPath("fifo-root");
    ASSERT_TRUE(host::makeFolders(root));
    const std::string fifo = root + "/midi-in";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string wav = root + "/fifo.wav";
    const std::string errFile = root + "-stderr.txt";
    RunningCorvane corvane;
    const std::string script = std::string(CORVANE_SOURCE_DIR) + "/examples/midi-notes.panel";
    corvane.pid = testsupport::startCorvane(
        {"--root", root, "--midi-port", fifo, "--panel-script", script, "--audio-out", wav}, root + "-stdout.txt",
        errFile);
    const std::string opened = "MIDI port " + fifo + " is a FIFO: MIDI in only\n";
    ASSERT_TRUE(testsupport::waitUntil([&] { return slurp(errFile).find(opened) != std::string::npos; },
                                       std::chrono::milliseconds(5)))
        << slurp(errFile);
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0) << slurp(errFile);
    // A tenth of a second of output first, silent without a note. A note
    // played before the script has switched the setting on is rightly not
    // heard, and the script's page steps go through the interface task,
    // which a busy machine runs late: the note is played again with each
    // tenth of a second of output until the output has it.
    ASSERT_TRUE(waitForFrames(wav, 4800)) << slurp(errFile);
    const long long before = framesIn(wav);
    const uint8_t on[] = {0x90, 60, 100}, off[] = {0x80, 60, 0};
    long long next = before / 480 * 480, played = -1;
    const auto heard = [&] {
        // The windows of mainLevels from the first note on, as far as the
        // capture holds them.
        std::ifstream in(wav, std::ios::binary);
        in.seekg(94 + next * 32);
        std::vector<float> frames(480 * 8);
        while (in.read(reinterpret_cast<char*>(frames.data()), std::streamsize(frames.size() * 4))) {
            next += 480;
            double sum = 0;
            for (size_t k = 0; k < 480; ++k)
                sum += double(frames[k * 8]) * frames[k * 8] + double(frames[k * 8 + 1]) * frames[k * 8 + 1];
            if (std::sqrt(sum / 960) > 0.005)
                return true;
        }
        if (played < 0 || framesIn(wav) >= played + 4800) {
            played = framesIn(wav);
            EXPECT_EQ(write(writer, on, 3), 3);
        }
        return false;
    };
    ASSERT_TRUE(testsupport::waitUntil(heard, std::chrono::milliseconds(5))) << slurp(errFile);
    ASSERT_EQ(write(writer, off, 3), 3);
    close(writer);
    ASSERT_EQ(corvane.stop(), 0) << slurp(errFile);

    const std::vector<double> level = mainLevels(wav);
    const size_t split = size_t(before / 480);
    ASSERT_GT(level.size(), split);
    EXPECT_LT(*std::max_element(level.begin(), level.begin() + long(split)), 1e-5);
    EXPECT_GT(*std::max_element(level.begin() + long(split), level.end()), 0.005);
}

}  // namespace

namespace {

// "Samples read" in what `sox ... -n stat` printed; -1 when it is missing.
long long soxSamplesRead(const std::string& stats) {
    const size_t at = stats.find("Samples read:");
    return at == std::string::npos ? -1 : std::stoll(stats.substr(at + 13));
}

// A FIFO cannot seek: its header says "length unknown", and a reader gets
// every frame rendered, whether it opens the FIFO before the program or
// after it (the program then says it waits).
TEST(Process, AFifoOutputIsReadWholeByAReaderStartedEitherSide) {
    const std::string root = testsupport::freshPath("live-root");
    ASSERT_TRUE(host::makeFolders(root));
    const std::string fifo = root + "/live.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string sox = "sox -t wav '" + fifo + "' -n stat 2>&1";
    const std::vector<std::string> args{"--root", root, "--offline", "--blocks", "100", "--audio-out", fifo};
    const long long rendered = 100 * 64 * 8;

    const std::string errFile = root + "-stderr.txt";
    RunningCorvane corvane;
    corvane.pid = spawn(args, errFile);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return slurp(errFile).find("Audio output " + fifo + " is a FIFO: waiting for a reader\n") !=
                     std::string::npos; },
        std::chrono::milliseconds(5)));
    const std::string programFirst = testsupport::shellOutput(sox);
    int status = 0;
    waitpid(corvane.pid, &status, 0);
    corvane.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << slurp(errFile);
    EXPECT_EQ(soxSamplesRead(programFirst), rendered) << programFirst;
    EXPECT_EQ(programFirst.find("WARN"), std::string::npos) << programFirst;

    FILE* reader = popen(sox.c_str(), "r");
    ASSERT_NE(reader, nullptr);
    const Outcome r = run(args);
    std::string readerFirst;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, reader)) > 0;)
        readerFirst.append(buffer, n);
    pclose(reader);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(soxSamplesRead(readerFirst), rendered) << readerFirst;
}

// A root that cannot be a folder is refused with the system's reason.
TEST(Process, ADataRootThatIsAFileIsRefusedWithItsReason) {
    const std::string root = testsupport::freshPath("root-is-a-file");
    std::ofstream(root) << "not a folder\n";
    const Outcome r = runKept("root-file", {"--root", root, "--offline", "--blocks", "10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Bela_initAudio: cannot use " + root +
                         " as the data root: Not a directory\nError: unable to initialise audio\n"),
              std::string::npos)
        << r.err;
}

// A template project whose sample list holds 40 damaged files: 20 lines name
// them at once, and the count of the rest is said although nothing follows.
TEST(Process, DamagedSamplesBeyondTheBurstAreCountedBeforeTheRunEnds) {
    const std::string root = testsupport::tempDir() + "damaged-burst-root";
    std::filesystem::remove_all(root);
    const std::string project = root + "/projects/template-project";
    host::makeFolders(root + "/samples");
    host::makeFolders(project);
    std::vector<float> values(4800, 0.25f);
    values[100] = NAN;
    std::string entries;
    for (int k = 0; k < 40; ++k) {
        const std::string name = "d" + std::to_string(k) + ".wav";
        ASSERT_TRUE(testsupport::writeSound(root + "/samples/" + name, values));
        entries += std::string(k ? "," : "") + "{\"sample\": \"/home/corvane/samples/" + name + "\"}";
    }
    std::ofstream(project + "/lists.sl") << "{\"sample groups\": {\"damaged\": [" << entries << "]}}";
    std::ofstream(project + "/template.proj") << "{\"project\": {}, \"files\": {\"sg\": \"lists.sl\"}}";

    const Outcome r = runKept("damaged-burst", {"--root", root, "--offline", "--blocks", "100"});
    EXPECT_EQ(r.status, 0) << r.err;
    // A slow start may let a 21st line through, or say a count early.
    // Whole lines: the notices of the same files are said as "screen: ...".
    const std::regex named(R"(d\d+\.wav: 1 values replaced)");
    const std::regex leftOut(R"((\d+) more reads with values replaced not shown)");
    long shown = 0, counted = 0, countLines = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, named))
            ++shown;
        else if (std::regex_match(line, m, leftOut))
            counted += std::stol(m[1]), ++countLines;
    }
    EXPECT_GE(shown, 20) << r.out;
    EXPECT_GE(countLines, 1) << r.out;
    EXPECT_EQ(shown + counted, 40) << r.out;
}

}  // namespace
