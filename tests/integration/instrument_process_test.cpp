// The instrument as a process: the first-sound example heard with sox, the
// exit paths (SIGTERM, the main menu's shutdown), the configuration file kept
// or saved, and the exit-code file that tells a crash from a clean restart.
#include "gui/MonoGFX.h"
#include "tests/support/Pty.h"
#include "tests/support/raw_terminal.h"
#include "tests/support/Shell.h"
#include "tests/support/corvane_process.h"
#include "tests/support/TempDir.h"
#include "tests/support/wait.h"
#include "tests/support/sound_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using testsupport::Outcome;
using testsupport::slurp;

void spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Outcome run(const std::string& name, std::vector<std::string> args) {
    const std::string out = testsupport::freshPath(name, "-stdout.txt");
    const std::string err = testsupport::freshPath(name, "-stderr.txt");
    return testsupport::runCorvane(args, out, err);
}

std::string freshRoot(const std::string& name) {
    const std::string root = testsupport::freshPath(name);
    host::makeFolders(root);
    return root;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(InstrumentProcess, FirstSoundPlaysNotesOnTheBeat) {
    const std::string root = freshRoot("first-sound");
    const std::string wav = root + "/first.wav";
    Outcome r = run("first-sound", {"--root", root, "--offline", "--seconds", "10", "--panel-script",
                                std::string(CORVANE_SOURCE_DIR) + "/examples/first-sound.panel", "--audio-out", wav});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "-->\tCorvane has been initialized!\n")) << r.out;
    // The main output (channels 1 and 2) is well above silence.
    const std::string stats = testsupport::shellOutput("sox '" + wav + "' -n remix 1 2 stat 2>&1");
    const size_t at = stats.find("RMS     amplitude:");
    ASSERT_NE(at, std::string::npos) << stats;
    const double rms = std::stod(stats.substr(at + 18));
    EXPECT_GT(rms, 0.005) << stats;

    // Onsets: the RMS of every 10 ms window of the main output, as sox
    // computes it; a note starts where the level jumps from low to high.
    const std::string mono = root + "/first-mono.raw";
    testsupport::shellOutput("sox '" + wav + "' -t f32 -e floating-point -c 1 '" + mono + "' remix 1 2");
    std::string raw = slurp(mono);
    std::vector<float> s(raw.size() / 4);
    memcpy(s.data(), raw.data(), s.size() * 4);
    ASSERT_GT(s.size(), 48000u * 9);
    std::vector<double> level;
    for (size_t i = 0; i + 480 <= s.size(); i += 480) {
        double sum = 0;
        for (size_t k = i; k < i + 480; ++k)
            sum += double(s[k]) * s[k];
        level.push_back(std::sqrt(sum / 480));
    }
    // The level the notes reach, robust to the first note: the panel's knobs
    // only set the track volume once the interface task has read them.
    std::vector<double> sorted = level;
    std::sort(sorted.begin(), sorted.end());
    const double peak = sorted[sorted.size() * 95 / 100];
    std::vector<size_t> onsets;
    bool quiet = true;
    for (size_t w = 0; w < level.size(); ++w) {
        if (quiet && level[w] > 0.3 * peak) {
            onsets.push_back(w);
            quiet = false;
        } else if (level[w] < 0.05 * peak) {
            quiet = true;
        }
    }
    ASSERT_GE(onsets.size(), 4u) << "peak " << peak;
    // Notes come on the clock's grid: the gaps are whole multiples of the
    // smallest gap (within a window or two of 10 ms).
    size_t smallest = SIZE_MAX;
    for (size_t i = 1; i < onsets.size(); ++i)
        smallest = std::min(smallest, onsets[i] - onsets[i - 1]);
    ASSERT_GT(smallest, 3u);
    for (size_t i = 1; i < onsets.size(); ++i) {
        const double ratio = double(onsets[i] - onsets[i - 1]) / double(smallest);
        EXPECT_NEAR(ratio, std::round(ratio), 2.5 / double(smallest)) << "gap " << i;
    }
    // And nothing sounds before the start key (block 100, about 0.13 s).
    EXPECT_GT(onsets.front(), 12u);
}

// SIGHUP (the terminal closed) is a way out like SIGTERM.
TEST(InstrumentProcess, SigtermAndSighupSaveTheConfigurationAndAValidWav) {
    for (int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        const std::string root = freshRoot("signal-config-" + std::to_string(signal));
        const std::string out = root + "/stdout.txt", err = root + "/stderr.txt";
        pid_t pid = testsupport::startCorvane({"--root", root}, out, err);
        // Wait for audio to flow (the signal handlers are in place by then).
        struct stat st {};
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return stat((root + "/output.wav").c_str(), &st) == 0 && st.st_size > 200000; },
            std::chrono::milliseconds(1)));
        ASSERT_EQ(kill(pid, signal), 0);
        Outcome r = testsupport::finishCorvane(pid, out, err);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(testsupport::shellOutput("jq -c '.config[\"OSC in port\"]' '" + root + "/corvane.json'"),
                             "909"))
            << slurp(root + "/corvane.json");
        EXPECT_EQ(testsupport::shellOutput("soxi -c '" + root + "/output.wav' 2>/dev/null"), "8\n");
        SF_INFO info{};
        SNDFILE* f = sf_open((root + "/output.wav").c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr);
        EXPECT_GT(info.frames, 0);
        sf_close(f);
    }
}

TEST(InstrumentProcess, ConfigurationWithATypoIsKeptByteForByte) {
    const std::string root = freshRoot("typo-config");
    const std::string typo = "{\n\t\"config\": {\n\t\t\"OSC in port\": {\"value\": 1234,,}\n\t}\n}\n";
    spit(root + "/corvane.json", typo);
    Outcome r = run("typo-config", {"--root", root, "--offline", "--blocks", "200"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Failed to load config file\n")) << r.out;
    EXPECT_EQ(slurp(root + "/corvane.json"), typo);

    // A good file is read, applied (a display clock out of range clamped to
    // 160) and written back with the values it held.
    spit(root + "/corvane.json", "{\"config\": {\"oled clock\": {\"value\": 999}, \"OSC in port\": {\"value\": 9123}}}");
    r = run("good-config", {"--root", root, "--offline", "--blocks", "200"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.out, "Failed to load config file")) << r.out;
    EXPECT_TRUE(contains(r.out, "Reinit OLED to 0000\n")) << r.out;
    EXPECT_TRUE(contains(r.out, ":9123")) << r.out;  // the receiver listens on the loaded port
    EXPECT_TRUE(contains(testsupport::shellOutput("jq -c '.config[\"oled clock\"]' '" + root + "/corvane.json'"),
                         "160"))
        << slurp(root + "/corvane.json");
}

// The configuration is read at every start and never rewritten when it
// cannot be read: a document nested too deep for the readers must be refused,
// or every start would crash on it.
TEST(InstrumentProcess, DeeplyNestedConfigurationIsKeptAndTheDefaultsUsed) {
    const std::string root = freshRoot("deep-config");
    const std::string deep = "{\"config\": {\"screensaver\": " + std::string(100000, '[') +
                             std::string(100000, ']') + ", \"OSC in port\": {\"value\": 9124}}}\n";
    spit(root + "/corvane.json", deep);
    for (int start = 0; start < 2; ++start) {
        Outcome r = run("deep-config", {"--root", root, "--offline", "--blocks", "200"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.out, "Failed to load config file\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "-->\tCorvane has been initialized!\n")) << r.out;
        EXPECT_FALSE(contains(r.out, ":9124")) << r.out;  // nothing of the file applied: the default port
        EXPECT_TRUE(slurp(root + "/corvane.json") == deep);
    }
}

TEST(InstrumentProcess, ExitCodeFileTellsACrashFromARestart) {
    const std::string root = freshRoot("exit-code");
    Outcome first = run("exit-first", {"--root", root, "--offline", "--blocks", "100"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(contains(first.out, "First time running since power on\n")) << first.out;
    EXPECT_TRUE(contains(first.out, "No template project found\n"));

    // The file is the host's, out of the player's sight; what an earlier
    // version left in the player's tmp/ is neither read nor kept.
    const std::string exitFile = root + "/.host/corvane-exit-code";
    spit(exitFile, "0\n");
    host::makeFolders(root + "/tmp");
    spit(root + "/tmp/corvane-exit-code", "139\n");
    spit(root + "/tmp/corvane.lock", "");
    Outcome clean = run("exit-clean", {"--root", root, "--offline", "--blocks", "100"});
    EXPECT_TRUE(contains(clean.out, "Last exit code = 0\n")) << clean.out;
    EXPECT_TRUE(contains(clean.out, "No template project found\n"));  // looked for: no crash
    struct stat st {};
    EXPECT_NE(lstat((root + "/tmp").c_str(), &st), 0);
    EXPECT_EQ(lstat((root + "/.host/corvane.lock").c_str(), &st), 0);

    spit(exitFile, "139\n");
    Outcome crashed = run("exit-crashed", {"--root", root, "--offline", "--blocks", "100"});
    EXPECT_TRUE(contains(crashed.out, "Last exit code = 139\n")) << crashed.out;
    EXPECT_FALSE(contains(crashed.out, "template project"));  // the crash warning instead

    spit(exitFile, "oops\n");
    Outcome garbled = run("exit-garbled", {"--root", root, "--offline", "--blocks", "100"});
    EXPECT_TRUE(contains(garbled.out, "Exception occurred while reading last exit code\n")) << garbled.out;
    EXPECT_TRUE(contains(garbled.out, "Last exit code = 3\n"));
    EXPECT_FALSE(contains(garbled.out, "template project"));
}

TEST(InstrumentProcess, MainMenuShutdownExitsWithThree) {
    const std::string root = freshRoot("menu-shutdown");
    // Key 1 held with key 23: the main menu; encoder 12 five detents (ten
    // steps, five to an entry) down to "shutdown Corvane"; key 3 chooses it, key 3 again answers "yes".
    // Offline, with the steps far apart, so the interface task (a thread
    // of its own) has long carried out each step before the next.
    spit(root + "/menu.panel",
         "100 key 1 down\n104 key 23 down\n110 key 23 up\n112 key 1 up\n"
         "3000 encoder 12 turn 5\n"
         "6000 key 3 down\n6006 key 3 up\n"
         "9000 key 3 down\n9006 key 3 up\n");
    Outcome r = run("menu-shutdown", {"--root", root, "--offline", "--blocks", "20000", "--panel-script",
                                      root + "/menu.panel"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
}

// A folder takes the configuration file's name after the start, so the save
// at the exit fails: status 1 instead of 0, the audio kept. A power-off keeps
// its 3 (the launcher would restart on anything else). The output goes into
// a FIFO that is read only after the folder is made: the program cannot
// render more than its four-second buffer ahead, nor reach its exit.
TEST(InstrumentProcess, ConfigurationThatCannotBeSavedGivesStatusOneUnlessPoweringOff) {
    for (const bool powerOff : {false, true}) {
        SCOPED_TRACE(powerOff);
        const std::string root = freshRoot(powerOff ? "unsaved-power-off" : "unsaved-config");
        const std::string fifo = root + "/out.fifo";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        spit(root + "/menu.panel", "100 key 1 down\n104 key 23 down\n110 key 23 up\n112 key 1 up\n"
                                   "3000 encoder 12 turn 5\n6000 key 3 down\n6006 key 3 up\n"
                                   "9000 key 3 down\n9006 key 3 up\n");
        std::vector<std::string> args{"--root", root, "--offline", "--audio-out", fifo};
        for (const std::string& a : powerOff ? std::vector<std::string>{"--blocks", "20000", "--panel-script",
                                                                         root + "/menu.panel"}
                                             : std::vector<std::string>{"--blocks", "4500"})
            args.push_back(a);
        const std::string out = root + "/stdout.txt", err = root + "/stderr.txt";
        const pid_t pid = testsupport::startCorvane(args, out, err);
        const int reader = open(fifo.c_str(), O_RDONLY);
        ASSERT_GE(reader, 0);
        ASSERT_TRUE(testsupport::waitUntil([&] { return contains(slurp(out), "Corvane has been initialized!\n"); },
                                           std::chrono::milliseconds(1)));
        ASSERT_EQ(mkdir((root + "/corvane.json").c_str(), 0755), 0);
        std::vector<char> buffer(65536);
        size_t got = 0;
        for (ssize_t n; (n = read(reader, buffer.data(), buffer.size())) > 0;)
            got += size_t(n);
        close(reader);
        const Outcome r = testsupport::finishCorvane(pid, out, err);
        EXPECT_EQ(r.status, powerOff ? 3 : 1) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, "Failed to save config file\n")) << r.out;
        EXPECT_TRUE(contains(r.out, "corvane.json] failed: Is a directory\n")) << r.out;
        if (!powerOff) {
            EXPECT_EQ(got, 94u + 4500u * 64 * 32);
        }
    }
}

// Channels 1 and 2 of a WAV file, summed, from frame `from` on.
std::vector<float> mainOutput(const std::string& wav, size_t from) {
    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<float> all(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    std::vector<float> main;
    for (size_t i = from; i < size_t(info.frames); ++i)
        main.push_back(all[i * info.channels] + all[i * info.channels + 1]);
    return main;
}

// An output into a pipe whose reader leaves: no death by SIGPIPE; the run
// ends as a stop request does, says which output failed and saves.
TEST(InstrumentProcess, OutputPipeWhoseReaderLeavesEndsTheRunWithStatusOne) {
    const std::string root = freshRoot("fifo-out");
    const std::string fifo = root + "/out.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = root + "/stdout.txt", err = root + "/stderr.txt";
    pid_t pid = testsupport::startCorvane({"--root", root, "--offline", "--seconds", "600", "--audio-out", fifo},
                                          out, err);
    const int reader = open(fifo.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    std::vector<char> buffer(65536);
    size_t got = 0;
    while (got < 200000) {
        const ssize_t n = read(reader, buffer.data(), buffer.size());
        ASSERT_GT(n, 0);
        got += size_t(n);
    }
    close(reader);
    Outcome r = testsupport::finishCorvane(pid, out, err);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "Error: cannot write the audio output " + fifo + ": Broken pipe\n")) << r.err;
    EXPECT_TRUE(contains(testsupport::shellOutput("jq -c '.config[\"OSC in port\"]' '" + root + "/corvane.json'"),
                         "909"))
        << r.out;
}

// A root whose template routes "mic in 1" to output 1 ("in 1 to out chan").
std::string rootHearingInputOne(const std::string& name) {
    const std::string root = freshRoot(name);
    host::makeFolders(root + "/projects/template-project");
    spit(root + "/projects/template-project/template.proj",
         "{\"project\": {\"in 1 to out chan\": {\"value\": 1}}, \"files\": {}}\n");
    return root;
}

// A 1 kHz sine at half scale, `seconds` long.
std::vector<float> sine1k(int rate, double seconds) {
    std::vector<float> sine(size_t(rate * seconds));
    for (size_t i = 0; i < sine.size(); ++i)
        sine[i] = 0.5f * float(std::sin(2.0 * M_PI * 1000.0 * double(i) / rate));
    return sine;
}

// The main output of `wav` holds a 1 kHz tone over one second from 0.25 s on
// (rising zero crossings), well above silence.
void expectTone1k(const std::string& wav) {
    const std::vector<float> s = mainOutput(wav, 12000);
    ASSERT_GE(s.size(), 48001u);
    int rising = 0;
    float peak = 0.0f, quietest = 1.0f;
    for (size_t i = 1; i <= 48000; ++i) {
        rising += s[i - 1] < 0.0f && s[i] >= 0.0f;
        peak = std::max(peak, std::fabs(s[i]));
        if (i % 480 == 0) {  // no gap of silence in any 10 ms
            float level = 0.0f;
            for (size_t k = i - 480; k < i; ++k)
                level = std::max(level, std::fabs(s[k]));
            quietest = std::min(quietest, level);
        }
    }
    EXPECT_GT(peak, 0.1f);
    EXPECT_GT(quietest, 0.1f);
    EXPECT_NEAR(rising, 1000, 3);
}

// A 44.1 kHz file is converted, not played 9 % fast; its channel 1 feeds
// "mic in 1", which the template routes to output 1.
TEST(InstrumentProcess, AudioInputAtAnotherRateKeepsItsPitch) {
    const std::string root = rootHearingInputOne("input-rate");
    const std::string tone = root + "/tone.wav";
    ASSERT_TRUE(testsupport::writeSound(tone, sine1k(44100, 2.0), 44100));

    const std::string wav = root + "/out.wav";
    Outcome r = run("input-rate", {"--root", root, "--offline", "--seconds", "1.5", "--audio-in", tone,
                                   "--audio-out", wav});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "Audio input " + tone + ": 44100 Hz converted to 48000 Hz\n")) << r.err;
    expectTone1k(wav);
}

// The input is read as it plays: from a FIFO that gets its writer only after
// the start (the console says it waits), and from a streaming command's pipe.
TEST(InstrumentProcess, AudioInputStreamsFromAFifoAndAPipe) {
    const std::string root = rootHearingInputOne("input-stream");
    const std::string fifo = root + "/in.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string tone = root + "/tone.wav";
    ASSERT_TRUE(testsupport::writeSound(tone, sine1k(48000, 2.0), 48000));
    const std::string out = root + "/stdout.txt", err = root + "/stderr.txt";
    const std::string wav = root + "/fifo.wav";
    pid_t pid = testsupport::startCorvane(
        {"--root", root, "--offline", "--seconds", "1.5", "--audio-in", fifo, "--audio-out", wav}, out, err);
    const std::string waiting = "Audio input " + fifo + ": waiting for a writer\n";
    if (!testsupport::waitUntil([&] { return contains(slurp(err), waiting); })) {
        kill(pid, SIGKILL);
        testsupport::finishCorvane(pid, out, err);
        FAIL() << "no word of waiting for a writer";
    }
    {
        std::ofstream writer(fifo, std::ios::binary);
        writer << slurp(tone);
    }
    Outcome r = testsupport::finishCorvane(pid, out, err);
    ASSERT_EQ(r.status, 0) << r.err;
    expectTone1k(wav);

    const std::string piped = root + "/pipe.wav";
    const std::string command = "'" + std::string(CORVANE_BINARY) + "' --root '" + root +
                                "' --offline --seconds 1.5 --audio-out '" + piped +
                                "' --audio-in <(sox -n -r 44100 -c 2 -t wav - synth 3 sine 1000 vol 0.5) 2>&1";
    const std::string said = testsupport::shellOutput("bash -c \"" + command + "\"; echo status $?");
    EXPECT_TRUE(contains(said, ": 44100 Hz converted to 48000 Hz\n")) << said;
    EXPECT_TRUE(contains(said, "status 0\n")) << said;
    EXPECT_FALSE(contains(said, "ended after")) << said;  // sox gives a pipe no length
    expectTone1k(piped);
}

// A writer that sends the header and then nothing holds the start: the
// console says what it waits for, and the run goes on once the data comes.
TEST(InstrumentProcess, AudioInputSaysItWaitsForTheWritersData) {
    const std::string root = freshRoot("input-stalled");
    const std::string fifo = root + "/in.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string tone = root + "/tone.wav";
    ASSERT_TRUE(testsupport::writeSound(tone, sine1k(48000, 1.0), 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::string sound = slurp(tone);
    const size_t data = sound.find("data");
    ASSERT_NE(data, std::string::npos);
    const std::string out = root + "/stdout.txt", err = root + "/stderr.txt";
    pid_t pid = testsupport::startCorvane(
        {"--root", root, "--offline", "--seconds", "0.5", "--audio-in", fifo, "--audio-out", root + "/out.wav"}, out,
        err);
    const std::string waiting = "Audio input " + fifo + ": waiting for the writer's data\n";
    {
        std::ofstream writer(fifo, std::ios::binary);
        writer << sound.substr(0, data + 8) << std::flush;
        const bool said = testsupport::waitUntil([&] { return contains(slurp(err), waiting); });
        writer << sound.substr(data + 8);
        EXPECT_TRUE(said) << slurp(err);
    }
    Outcome r = testsupport::finishCorvane(pid, out, err);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find(waiting), r.err.rfind(waiting)) << r.err;  // once
}

// A file that ends before the length its header gives (cut short, or its
// writer killed) says so; the inputs are silent after it, as at an end.
TEST(InstrumentProcess, AudioInputCutShortSaysWhereItEnded) {
    const std::string root = freshRoot("input-cut");
    const std::string cut = root + "/cut.wav";
    ASSERT_TRUE(testsupport::writeSound(cut, sine1k(48000, 1.0), 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::string sound = slurp(cut);
    const size_t data = sound.find("data");
    ASSERT_NE(data, std::string::npos);
    ASSERT_EQ(truncate(cut.c_str(), off_t(data + 8 + 2 * 14400)), 0);  // 0.3 s of the 1 s it claims
    Outcome r = run("input-cut", {"--root", root, "--offline", "--seconds", "0.5", "--audio-in", cut, "--audio-out",
                                  root + "/out.wav"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "Audio input " + cut + " ended after 0.3 s\n")) << r.err;
}

// Start-up refusals of --audio-in say why.
TEST(InstrumentProcess, AudioInputRefusalsNameTheirCause) {
    const std::string root = freshRoot("input-refused");
    const std::string text = root + "/notes.txt";
    spit(text, "not a sound\n");
    SF_INFO info{};
    ASSERT_EQ(sf_open(text.c_str(), SFM_READ, &info), nullptr);
    const std::string unknownFormat = sf_strerror(nullptr);  // libsndfile's own words
    const std::pair<std::string, std::string> cases[] = {
        {root + "/missing.wav", "No such file or directory"},
        {root, "not a regular file"},
        {text, unknownFormat},
    };
    for (const auto& [path, reason] : cases) {
        Outcome r = run("input-refused", {"--root", root, "--offline", "--blocks", "1", "--audio-in", path});
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_TRUE(contains(r.err, "Audio input " + path + " cannot be read: " + reason + "\n")) << r.err;
        EXPECT_TRUE(contains(r.err, "Error: unable to initialise audio\n")) << r.err;
    }
}

// The picture the run keeps of the display (--display-out): 256 x 64 grey
// levels, empty until the first frame is there.
std::vector<uint8_t> displayPicture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, grey = 0;
    in >> magic >> width >> height >> grey;
    in.get();
    std::vector<uint8_t> pixels(256 * 64);
    if (magic != "P5" || width != 256 || height != 64 ||
        !in.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size())))
        return {};
    return pixels;
}

// A display picture that cannot be written refuses the start, with why.
TEST(InstrumentProcess, DisplayPictureThatCannotBeWrittenRefusesTheStart) {
    const std::string root = freshRoot("display-refused");
    host::makeFolders(root + "/folder");
    const std::pair<std::string, std::string> cases[] = {
        {root + "/missing/screen.pgm", "No such file or directory"},
        {root + "/folder", "Is a directory"},
    };
    for (const auto& [path, reason] : cases) {
        Outcome r = run("display-refused", {"--root", root, "--offline", "--blocks", "1", "--display-out", path});
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_TRUE(contains(r.err, "display picture: cannot write " + path + ": " + reason + "\n")) << r.err;
    }
}

// A display picture named through a symbolic link goes where the link
// leads, in the target's folder, whether the target is there yet or not;
// the link stays a link.
TEST(InstrumentProcess, DisplayPictureThroughALinkIsWrittenToItsTarget) {
    const std::string root = freshRoot("display-link");
    const std::string pictures = freshRoot("display-link-pictures");
    spit(pictures + "/kept.pgm", "an older picture\n");
    for (const std::string& target : {pictures + "/kept.pgm", pictures + "/new.pgm"}) {
        SCOPED_TRACE(target);
        const std::string link = root + "/screen-" + target.substr(target.rfind('/') + 1);
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
        Outcome r = run("display-link", {"--root", root, "--offline", "--blocks", "1", "--display-out", link});
        EXPECT_EQ(r.status, 0) << r.err;
        struct stat st {};
        ASSERT_EQ(lstat(link.c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
        EXPECT_EQ(displayPicture(target).size(), 256u * 64u) << slurp(target);
    }
}

// A FIFO or a device named as the display picture cannot take a picture
// that is replaced whole: the start is refused and the node is left as it
// is. The device (the null device's numbers) only where mknod is allowed.
TEST(InstrumentProcess, DisplayPictureOnAFifoOrADeviceRefusesTheStartAndLeavesIt) {
    const std::string root = freshRoot("display-node");
    std::vector<std::pair<std::string, mode_t>> nodes{{root + "/fifo.pgm", S_IFIFO}};
    ASSERT_EQ(mkfifo(nodes[0].first.c_str(), 0600), 0);
    if (mknod((root + "/null.pgm").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        nodes.push_back({root + "/null.pgm", S_IFCHR});
    else
        std::printf("(no device node made here: %s)\n", strerror(errno));
    for (const auto& [path, type] : nodes) {
        SCOPED_TRACE(path);
        Outcome r = run("display-node", {"--root", root, "--offline", "--blocks", "1", "--display-out", path});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "display picture: cannot write " + path + ": not a regular file\n")) << r.err;
        struct stat st {};
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, type);
    }
}

// Whether a settings page in the picture has the cursor on the row of the
// parameter `name` showing `value` (rows, columns and font as the page
// draws them).
bool settingsRowShows(const std::vector<uint8_t>& picture, const std::string& name, const std::string& value) {
    if (picture.empty())
        return false;
    constexpr int kRows = 5, kFirstRowY = 13, kRowPitch = 10, kNameX = 52, kValueX = 134;
    for (int row = 0; row < kRows; ++row) {
        const int y = kFirstRowY + kRowPitch * row;
        MonoGFX expected;
        expected.init(256, 64);
        expected.setFont(&font_compact, 1, 0);
        expected.setColour(15);
        expected.drawText(kNameX, y, name);
        const int right = kValueX + expected.drawText(kValueX, y, value);
        bool same = true;
        int ink = 0;
        for (int py = y; py < y + kRowPitch - 1 && same; ++py)
            for (int px = kNameX; px < right && same; ++px) {
                const bool lit = expected.pixel(px, py) != 0;
                same = (picture[size_t(py * 256 + px)] == 15) == lit;
                ink += lit;
            }
        if (same && ink > 0)
            return true;
    }
    return false;
}

// The block of a panel script's last event.
uint64_t lastScriptBlock(const std::string& script) {
    std::istringstream lines(script);
    uint64_t last = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line.substr(0, line.find('#')));
        uint64_t block = 0;
        if (fields >> block)
            last = std::max(last, block);
    }
    return last;
}

// The README's MIDI example in real time: the script switches "MIDI note in"
// on, and a note sent to the printed port is heard. The port is printed as
// a link of the root that leads to the run's terminal while it runs and
// goes with it.
TEST(InstrumentProcess, MidiNotesExampleIsHeardInRealTime) {
    const std::string root = freshRoot("midi-notes");
    const std::string out = root + "/stdout.txt", err = root + "/stderr.txt";
    const std::string wav = root + "/output.wav", screen = root + "/screen.pgm";
    // A note sent before the setting is on is rightly not heard, and the
    // page steps go through the interface task, which a busy machine runs
    // late: the note waits until the display shows the setting on. The
    // example shows it for a tenth of a second, less than the display file
    // may take to catch up, so after the example as the README gives it the
    // player opens the track's settings page again and leaves it open.
    const std::string example = slurp(std::string(CORVANE_SOURCE_DIR) + "/examples/midi-notes.panel");
    const uint64_t again = lastScriptBlock(example) + 300;
    const std::pair<uint64_t, const char*> reopen[] = {
        {0, "key 1 down"}, {6, "track 1 down"}, {100, "track 1 up"}, {106, "key 1 up"}};
    std::string script = example + "\n";
    for (const auto& [offset, event] : reopen)
        script += std::to_string(again + offset) + " " + event + "\n";
    spit(root + "/midi-notes.panel", script);
    pid_t pid = testsupport::startCorvane(
        {"--root", root, "--panel-script", root + "/midi-notes.panel", "--display-out", screen}, out, err);
    // A failed wait must not leave the instrument playing on.
    testsupport::Reaper reaper{pid};
    std::string port, terminal;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        const std::string said = slurp(err);
        const size_t at = said.find("MIDI port: ");
        const size_t end = said.find('\n', at);
        if (at == std::string::npos || end == std::string::npos)
            return false;
        const std::string line = said.substr(at + 11, end - at - 11);
        const size_t arrow = line.find(" -> ");
        port = line.substr(0, arrow);
        terminal = arrow == std::string::npos ? "" : line.substr(arrow + 4);
        return true;
    }, std::chrono::milliseconds(1)));
    EXPECT_EQ(port, root + "/.host/midi-port");
    char target[256] = {};
    EXPECT_EQ(readlink(port.c_str(), target, sizeof target - 1), ssize_t(terminal.size()));
    EXPECT_EQ(target, terminal);
    // Progress is the output written: 64 frames of 8 floats a block.
    auto blocksWritten = [&] {
        struct stat st {};
        return stat(wav.c_str(), &st) == 0 && st.st_size > 94 ? uint64_t(st.st_size - 94) / 2048 : 0;
    };
    auto waitForBlock = [&](uint64_t block) {
        return testsupport::waitUntil([&] { return blocksWritten() >= block; }, std::chrono::milliseconds(1));
    };
    const int midi = open(port.c_str(), O_WRONLY | O_NOCTTY);
    ASSERT_GE(midi, 0) << port;
    ASSERT_TRUE(testsupport::waitUntil([&] { return settingsRowShows(displayPicture(screen), "MIDI note in", "true"); },
                                       std::chrono::milliseconds(5)))
        << "the display never showed \"MIDI note in\" as true";
    const unsigned char on[] = {0x90, 0x3c, 0x64}, off[] = {0x80, 0x3c, 0x00};
    ASSERT_EQ(write(midi, on, 3), 3);
    const uint64_t sent = blocksWritten();
    ASSERT_TRUE(waitForBlock(sent + 300));
    ASSERT_EQ(write(midi, off, 3), 3);
    close(midi);
    ASSERT_TRUE(waitForBlock(sent + 400));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    Outcome r = testsupport::finishCorvane(pid, out, err);
    reaper.pid = 0;
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat st {};
    EXPECT_NE(lstat(port.c_str(), &st), 0);
    const std::vector<float> s = mainOutput(wav, size_t(sent) * 64);
    ASSERT_GT(s.size(), 300u * 64);
    double sum = 0;
    for (size_t i = 0; i < 300 * 64; ++i)
        sum += double(s[i]) * s[i];
    EXPECT_GT(std::sqrt(sum / (300 * 64)), 0.005) << r.out;
}

// A root where the host folder cannot be made still plays: the console says
// once that nothing keeps a second instrument off it, and the MIDI port is
// printed as the terminal it is.
TEST(InstrumentProcess, RootWhoseHostFolderIsAFileRunsUnguardedAndSaysSo) {
    const std::string root = freshRoot("host-file");
    spit(root + "/.host", "mine\n");
    Outcome r = run("host-file", {"--root", root, "--offline", "--blocks", "100"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string unguarded = "Bela_initAudio: cannot lock " + root +
                                  "/.host/corvane.lock (Not a directory): the data root is not guarded against a "
                                  "second instrument\n";
    EXPECT_TRUE(contains(r.err, unguarded)) << r.err;
    EXPECT_EQ(r.err.find(unguarded), r.err.rfind(unguarded)) << r.err;
    const size_t at = r.err.find("MIDI port: /dev/pts/");
    ASSERT_NE(at, std::string::npos) << r.err;
    const size_t next = r.err.find('\n', at) + 1;
    EXPECT_EQ(r.err.substr(next, r.err.find('\n', next) + 1 - next),
              "MIDI port: cannot make the link " + root + "/.host/midi-port (Not a directory)\n")
        << r.err;
    EXPECT_EQ(slurp(root + "/.host"), "mine\n");
}

// An offline render shows how far it has come on a terminal, one line
// rewritten in place and ended; into a file it says nothing of it.
TEST(InstrumentProcess, OfflineRenderShowsHowFarItHasComeOnATerminal) {
    const std::string root = freshRoot("progress");
    const std::vector<std::string> args{"--root", root, "--offline", "--seconds", "1",
                                        "--audio-out", root + "/out.wav"};
    testsupport::Pty pty;
    const int slave = testsupport::openRawTerminal(pty.slave);
    ASSERT_GE(slave, 0);
    const std::string out = root + "/stdout.txt";
    const pid_t pid = testsupport::startCorvane(args, out, pty.slave);
    std::string console;
    int status = -1;
    const auto drain = [&] {
        char bytes[4096];
        for (ssize_t n; (n = read(pty.master, bytes, sizeof bytes)) > 0;)
            console.append(bytes, size_t(n));
    };
    ASSERT_TRUE(testsupport::waitUntil([&] {
        drain();  // a full terminal would hold the run up
        return waitpid(pid, &status, WNOHANG) == pid;
    }));
    drain();
    close(slave);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << console;
    const std::string last = "\rrendered 00:01 of 00:01\n";
    EXPECT_TRUE(contains(console, last)) << console;
    EXPECT_EQ(console.find(last), console.rfind(last)) << console;

    const Outcome toFile = run("progress-file", args);
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.err.find("rendered"), std::string::npos) << toFile.err;
}

}  // namespace
