// The examples as the README gives them. The template project in examples/,
// copied into a data root: it loads at the start, keeps the note lists the
// first sound plays, and holds the settings the README promises (read back
// by jq). A project saved by one example script on a fresh data root, and
// loaded by the other in a later run. The README's first command as given,
// without --root, and the README's own length and line widths.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/example_run.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using testsupport::kExamples;
using testsupport::runExample;
constexpr const char* kTemplateFolder = "template-project";

// The interleaved frames of a WAV and its channel count; none when it
// cannot be read.
std::vector<float> readFrames(const std::string& path, int& channels) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    channels = info.channels;
    if (!file)
        return {};
    std::vector<float> frames(size_t(info.frames) * size_t(info.channels));
    const sf_count_t read = sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    frames.resize(size_t(std::max<sf_count_t>(read, 0)) * size_t(info.channels));
    return frames;
}

// RMS of the main output (channels 1 and 2) of an 8-channel WAV; -1 when
// the file cannot be read.
double mainOutputRms(const std::string& path) {
    int channels = 0;
    const std::vector<float> frames = readFrames(path, channels);
    if (frames.empty() || channels < 2)
        return -1;
    const size_t count = frames.size() / size_t(channels);
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < 2; ++c) {
            const double v = frames[i * size_t(channels) + size_t(c)];
            sum += v * v;
        }
    return std::sqrt(sum / double(count * 2));
}

// Notes begun in channel 1 of an output file: 10 ms windows whose level
// rises past half the loudest one, after falling below a quarter of it.
int noteOnsets(const std::string& path) {
    int channels = 0;
    const std::vector<float> frames = readFrames(path, channels);
    if (frames.empty())
        return -1;
    const size_t count = frames.size() / size_t(channels);
    constexpr size_t kWindow = 480;
    std::vector<double> levels;
    for (size_t start = 0; start + kWindow <= count; start += kWindow) {
        double sum = 0;
        for (size_t i = start; i < start + kWindow; ++i) {
            const double v = frames[i * size_t(channels)];
            sum += v * v;
        }
        levels.push_back(std::sqrt(sum / kWindow));
    }
    double loudest = 0;
    for (double l : levels)
        loudest = std::max(loudest, l);
    int onsets = 0;
    bool sounding = false;
    for (double l : levels) {
        if (!sounding && l > 0.5 * loudest) {
            ++onsets;
            sounding = true;
        } else if (sounding && l < 0.25 * loudest) {
            sounding = false;
        }
    }
    return loudest > 0 ? onsets : 0;
}

TEST(Examples, TemplateProjectLoadsKeepsItsSettingsAndTheFirstSoundPlays) {
    namespace fs = std::filesystem;
    const std::string root = testsupport::freshPath("template-root");
    const std::string folder = root + "/projects/" + kTemplateFolder;
    fs::create_directories(root + "/projects");
    fs::copy(kExamples + kTemplateFolder, folder, fs::copy_options::recursive);

    const std::string wav = root + "/out.wav";
    const testsupport::Outcome r =
        testsupport::runCorvane({"--root", root, "--offline", "--seconds", "10", "--panel-script",
                                 kExamples + "first-sound.panel", "--audio-out", wav},
                                testsupport::freshPath("template-out", ".txt"),
                                testsupport::freshPath("template-err", ".txt"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Loading template project\n"), std::string::npos) << r.out;
    // A template without note lists empties them: the lane and the clock
    // would then play nothing.
    EXPECT_GT(mainOutputRms(wav), 0.005);

    auto jq = [&](const std::string& filter, const std::string& file) {
        return testsupport::shellOutput("jq -r '" + filter + "' '" + folder + "/" + file + "'");
    };
    // The MIDI recipes turn "MIDI start/stop" and "MIDI note in" from false
    // to true: the template leaves both as at power-on.
    EXPECT_EQ(jq(".clock[\"MIDI start/stop\"].value, .project[\"in 1 to out chan\"].value, "
                 ".project[\"in 2 to out chan\"].value, (.files.nts | type)",
                 "template.proj"),
              "false\n1\n2\nstring\n");
    // Track 1's part files, as the project names them.
    auto partOfTrackOne = [&](const std::string& entry) {
        std::string name = jq(".files." + entry + "[0] // empty", "template.proj");
        if (!name.empty())
            name.pop_back();
        return name;
    };
    const std::string inst = partOfTrackOne("inst"), seq = partOfTrackOne("seq");
    ASSERT_FALSE(inst.empty());
    ASSERT_FALSE(seq.empty());
    EXPECT_EQ(jq(".track[\"MIDI note in\"].value", inst), "false\n");
    // Every pulse lane off, as at power-on: the first sound's key 5 switches lane 1 on.
    EXPECT_EQ(jq("[.sequencer | to_entries[] | select(.key | test(\"^[1-4] enabled$\")) | .value.value[]] "
                 "| length > 0 and all(. == \"false\")",
                 seq),
              "true\n");
}

// A fresh data root has projects/ to save into, as the board's home folder
// has: the project saved there loads again through "load last project".
TEST(Examples, AProjectSavedOnAFreshRootLoadsInTheNextRunAndPlays) {
    const std::string root = testsupport::freshPath("song-root");
    const std::string saved = runExample(root, "save-project.panel", "4");
    ASSERT_TRUE(saved.ends_with("\nstatus 0\n")) << saved;

    const std::string project = root + "/projects/song-project/";
    auto jq = [](const std::string& filter, const std::string& file) {
        return testsupport::shellOutput("jq -r '" + filter + "' '" + file + "' 2>&1");
    };
    EXPECT_EQ(jq(".files.seq[0], .files.inst[0], .files.nts, (.clock | type), (.project | type)",
                 project + "song.proj"),
              "track-1.seq\ntrack-1.inst\nnotelists.nts\nobject\nobject\n")
        << saved;
    // The lane the script switched on is in the project.
    EXPECT_EQ(jq(".sequencer[\"1 enabled\"].value[0]", project + "track-1.seq"), "true\n");
    EXPECT_EQ(jq(".config[\"last project\"].value", root + "/corvane.json"),
              "/home/corvane/projects/song-project/song.proj\n");

    // The next run never touches the lane: the project brings it.
    const std::string loaded = runExample(root, "load-project.panel", "10");
    ASSERT_TRUE(loaded.ends_with("\nstatus 0\n")) << loaded;
    EXPECT_NE(loaded.find("readFile(" + project + "song.proj)"), std::string::npos) << loaded;
    EXPECT_GT(mainOutputRms(root + "/output.wav"), 0.002) << loaded;

    // Nothing saved: the menu warns instead of asking, and nothing plays.
    const std::string empty = testsupport::freshPath("empty-root");
    const std::string none = runExample(empty, "load-project.panel", "10");
    ASSERT_TRUE(none.ends_with("\nstatus 0\n")) << none;
    const double silence = mainOutputRms(empty + "/output.wav");
    EXPECT_GE(silence, 0.0) << none;
    EXPECT_LT(silence, 1e-6) << none;
}

// Saved, changed and saved over, then loaded: one project folder, and the
// load plays the tempo it was saved with last.
TEST(Examples, AProjectSavedAgainLoadsItsNewState) {
    const std::string root = testsupport::freshPath("again-root");
    const std::string first = runExample(root, "save-project.panel", "4");
    ASSERT_TRUE(first.ends_with("\nstatus 0\n")) << first;
    const std::string again = runExample(root, "save-project-again.panel", "3");
    ASSERT_TRUE(again.ends_with("\nstatus 0\n")) << again;

    const std::string projects = root + "/projects/";
    EXPECT_EQ(testsupport::shellOutput("ls '" + projects + "'"), "song-project\n");
    EXPECT_EQ(testsupport::shellOutput("jq -r '.clock.BPM.value' '" + projects + "song-project/song.proj'"),
              "140\n")
        << again;
    EXPECT_EQ(testsupport::shellOutput("jq -r '.config[\"last project\"].value' '" + root + "/corvane.json'"),
              "/home/corvane/projects/song-project/song.proj\n");

    // 100 BPM gives 15 notes in the load's ten seconds, 140 BPM 21.
    const std::string loaded = runExample(root, "load-project.panel", "10");
    ASSERT_TRUE(loaded.ends_with("\nstatus 0\n")) << loaded;
    const int onsets = noteOnsets(root + "/output.wav");
    EXPECT_GE(onsets, 19) << loaded;
    EXPECT_LE(onsets, 23) << loaded;
}

// The README's first command, word for word, from the checkout: no --root,
// so the data root is the default one under the scratch HOME given to it
// (made there, parents included), or under XDG_DATA_HOME when that is set.
TEST(Examples, TheFirstCommandWithoutARootPlaysIntoTheDefaultDataRoot) {
    namespace fs = std::filesystem;
    const std::string command = "scripts/run.sh --offline --seconds 10 --panel-script examples/first-sound.panel";
    auto run = [&](const std::string& home, const std::string& dataHome) {
        const std::string xdg = dataHome.empty() ? "-u XDG_DATA_HOME" : "XDG_DATA_HOME='" + dataHome + "'";
        return testsupport::shellOutput("cd '" CORVANE_SOURCE_DIR "' && env -u CORVANE_LAUNCHER " + xdg + " HOME='" +
                                        home + "' CORVANE_BINARY='" CORVANE_BINARY "' " + command +
                                        " 2>&1 </dev/null; echo \"status $?\"");
    };
    auto expectPlayedInto = [](const std::string& root, const std::string& said) {
        const std::string wav = root + "/output.wav";
        EXPECT_NE(said.find("Audio output is written to " + wav + "\n"), std::string::npos) << said;
        EXPECT_TRUE(fs::is_regular_file(root + "/corvane.json")) << said;
        SF_INFO info{};
        SNDFILE* file = sf_open(wav.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr) << "\n" << said;
        sf_close(file);
        EXPECT_EQ(info.channels, 8);
        EXPECT_EQ(info.samplerate, 48000);
        EXPECT_EQ(info.frames, 480000);
        // Track 1's notes on the main output.
        EXPECT_GT(mainOutputRms(wav), 0.002) << said;
    };

    // A new user's HOME: nothing in it yet.
    const std::string home = testsupport::freshPath("home");
    fs::create_directories(home);
    const std::string said = run(home, "");
    ASSERT_TRUE(said.ends_with("\nstatus 0\n")) << said;
    expectPlayedInto(home + "/.local/share/corvane", said);

    const std::string other = testsupport::freshPath("home");
    const std::string dataHome = testsupport::freshPath("data-home");
    fs::create_directories(other);
    const std::string saidThere = run(other, dataHome);
    ASSERT_TRUE(saidThere.ends_with("\nstatus 0\n")) << saidThere;
    expectPlayedInto(dataHome + "/corvane", saidThere);
    EXPECT_TRUE(fs::is_empty(other)) << saidThere;
}

// The README is read by a player: under 600 lines, and no line of prose wider
// than 100 characters. Code (indented four spaces), table rows and a system
// text quoted whole on a line of its own are as wide as they must be.
TEST(Examples, TheReadmeStaysShortAndItsProseLinesNarrow) {
    std::ifstream file(CORVANE_SOURCE_DIR "/README.md");
    ASSERT_TRUE(file.good());
    const std::regex quotedAlone(R"(^ *"[^"]*"[.,;:]?$)");
    std::vector<std::string> wide;
    int count = 0;
    for (std::string line; std::getline(file, line);) {
        ++count;
        const bool prose = !line.starts_with("    ") && !line.starts_with("|") && !std::regex_match(line, quotedAlone);
        if (prose && line.size() > 100)
            wide.push_back(std::to_string(count) + ": " + line);
    }
    EXPECT_LT(count, 600);
    EXPECT_TRUE(wide.empty()) << testing::PrintToString(wide);
}

}  // namespace
