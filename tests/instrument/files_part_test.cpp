// Part files: the layout every written file has, atomic replacement under
// failures, and every kind of bad file giving its load result.
#include "FileTestSupport.h"
#include "instrument/files/FileTypes.h"
#include "instrument/files/PartFile.h"
#include "instrument/files/ProjectFolder.h"
#include "parameters/ModulationManager.h"
#include "sequencing/NoteManager.h"
#include "tests/gui/GuiTestSupport.h"

#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

using namespace filetest;
using json = nlohmann::json;

namespace {

constexpr const char* kPath = "/home/corvane/part.inst";

// Runs body in a child process and returns its exit status (-signal when killed).
template <class F>
int inChild(F&& body) {
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

json goodDocument() {
    return {{"config", {{"OSC in port", {{"value", 909}}}}}, {"effects", json::array()}};
}

}  // namespace

class PartFileTest : public FileTest {};

TEST_F(PartFileTest, WrittenFileIsTabIndentedSortedAndReadByIndependentParsers) {
    World world;
    world.track(0).nameParam.setFromString("lead");
    json doc;
    doc["zeta"] = {{"b", 1}, {"a", json::array({1.5, -6.0})}};
    doc["alpha"] = "x";
    ASSERT_EQ(writeFile(kPath, doc), SaveSuccess);
    const std::string text = slurp(kPath);
    EXPECT_EQ(text.front(), '{');
    EXPECT_EQ(text.substr(text.size() - 2), "}\n");
    EXPECT_NE(text.find("\n\t\"firmware version\": \"0.1.30\""), std::string::npos);
    EXPECT_NE(text.find("\n\t\t\"a\": [\n\t\t\t1.5,\n\t\t\t-6.0\n"), std::string::npos);
    const std::string file = hostFile(kPath);
    EXPECT_EQ(sh("python3 -m json.tool --sort-keys --tab " + file), text);
    EXPECT_EQ(sh("jq -c '[.. | objects | keys_unsorted == (keys_unsorted | sort)] | all' " + file), "true\n");
    EXPECT_EQ(sh("jq -r '.\"firmware version\"' " + file), "0.1.30\n");
}

TEST_F(PartFileTest, NothingToSaveCreatesNoFile) {
    json doc;
    EXPECT_EQ(writeFile(kPath, doc), SaveNothing);
    EXPECT_FALSE(fileExists(kPath));
}

TEST_F(PartFileTest, BadFilesGiveTheirLoadResult) {
    World world;
    TestTrack& t = world.track(0);
    auto load = [&](const std::string& text) {
        spit(kPath, text);
        return readFile(kPath, t, false);
    };
    EXPECT_EQ(readFile("/home/corvane/none.inst", t, false), LoadFileMissing);
    EXPECT_EQ(load(""), LoadFileEmpty);
    EXPECT_EQ(load("null"), LoadFileEmpty);
    EXPECT_EQ(load("{\"config\": {\"OSC in port\""), LoadParseFailed);        // truncated
    EXPECT_EQ(load("{\"config\": \"\xff\xfe\"}"), LoadParseFailed);            // not UTF-8
    EXPECT_EQ(load("[1, 2]"), LoadInterpretFailed);                            // not an object
    EXPECT_EQ(load("\"text\""), LoadInterpretFailed);
    EXPECT_EQ(load("{\"firmware version\": 5}"), LoadInterpretFailed);         // not text
    EXPECT_EQ(load("{\"firmware version\": \"abc\"}"), LoadInterpretFailed);   // not numbers
    EXPECT_EQ(load("{\"config\": []}"), LoadSuccess);  // an array is no group: every value to its default
    // Wrong types where a reader needs its kind.
    EXPECT_EQ(load("{\"synthesis\": {\"synth engine\": 5}}"), LoadInterpretFailed);
    EXPECT_EQ(load("{\"note list\": [{\"symbol\": [1], \"type\": [\"NoteOn\"], \"octave\": [0], \"dbfs\": [\"loud\"], \"chance\": [1]}]}"), LoadInterpretFailed);
    EXPECT_EQ(load("{\"sample groups\": [1]}"), LoadInterpretFailed);
    EXPECT_EQ(load("{\"unknown\": 1}"), LoadSuccess);

    // A folder and a FIFO are refused without reading (a FIFO would block).
    ASSERT_TRUE(host::makeFolders(hostFile("/home/corvane/dir.inst")));
    EXPECT_EQ(readFile("/home/corvane/dir.inst", t, false), LoadOpenFailed);
    ASSERT_EQ(mkfifo(hostFile("/home/corvane/fifo.inst").c_str(), 0644), 0);
    EXPECT_EQ(readFile("/home/corvane/fifo.inst", t, false), LoadOpenFailed);

    // More values than a document may hold: refused while it is read.
    std::string many = "{\"padding\": [";
    for (uint64_t i = 0; i < PartFile::kMaxValues; ++i)
        many += "0,";
    EXPECT_EQ(load(many + "0]}"), LoadOpenFailed);

    // Past the size cap: refused before anything is read (a sparse file).
    spit(kPath, "{}");
    ASSERT_EQ(truncate(hostFile(kPath).c_str(), off_t(PartFile::kMaxFileSize) + 1), 0);
    EXPECT_EQ(readFile(kPath, t, false), LoadOpenFailed);
}

TEST_F(PartFileTest, TypeErrorResetsThePresentSectionsAndSkipsTheRest) {
    World world;
    TestTrack& t = world.track(0);
    NoteList list;
    list.steps.resize(2);
    list.steps[0].add(Note{});
    world.notes.setList(3, list);
    world.oscPort.setValue(1234, false);
    const int resetsBefore = t.synthesisResets;
    spit(kPath, R"({"synthesis": {"synth engine": "subtractive"},
                    "note list": [{"symbol": [1], "type": ["NoteOn"]}],
                    "morph": {"recordings": [{"x": [1], "y": [1], "t": [0]}]},
                    "config": {"OSC in port": {"value": 77}}})");
    EXPECT_EQ(readFile(kPath, t, false), LoadInterpretFailed);
    EXPECT_GT(t.synthesisResets, resetsBefore + 1);  // once by the reader, once after the failure
    EXPECT_TRUE(world.notes.list(3)->steps.empty());
    EXPECT_TRUE(world.motion.isEmpty(0));
    EXPECT_EQ(world.oscPort.value.load(), 1234);
}

TEST_F(PartFileTest, FileWithoutVersionIsOlderAndNewerOneIsNotUpgraded) {
    World world;
    TestTrack& t = world.track(0);
    const std::string old = R"({"synthesis": {"synth engine": "subtractive", "freq": {"value": 9.0}}})";
    spit(kPath, old);
    ASSERT_EQ(readFile(kPath, t, false), LoadSuccess);
    EXPECT_FLOAT_EQ(t.subtractive.filtFreq.getValue(), 9.0f);
    json newer = json::parse(old);
    newer["firmware version"] = "0.2.0";
    spit(kPath, newer.dump());
    ASSERT_EQ(readFile(kPath, t, false), LoadSuccess);
    EXPECT_NE(t.subtractive.filtFreq.getValue(), 9.0f);
}

// Saving never destroys the previous good file.
TEST_F(PartFileTest, FailedWritesLeaveThePreviousFileAndReportFailure) {
    json good = goodDocument();
    ASSERT_EQ(writeFile(kPath, good), SaveSuccess);
    const std::string before = slurp(kPath);
    json big = goodDocument();
    big["padding"] = std::string(1 << 20, 'x');
    const std::string folder = std::filesystem::path(hostFile(kPath)).parent_path();

    // A full file system: a file size limit stops the write half-way.
    const int full = inChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        return int(writeFile(kPath, big));
    });
    EXPECT_EQ(full, SaveCreateFailed);
    EXPECT_EQ(slurp(kPath), before);

    // A read-only folder (as root, only another user meets the permission).
    const int readOnly = inChild([&] {
        if (chmod(folder.c_str(), 0555) != 0)
            return 100;
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
                return 101;
        }
        return int(writeFile(kPath, big));
    });
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(readOnly, SaveCreateFailed);
    EXPECT_EQ(slurp(kPath), before);

    // Killed between the write and the rename.
    const int killed = inChild([&] {
        PartFile::gBeforeRename = [](const std::string&) { raise(SIGKILL); };
        return int(writeFile(kPath, big));
    });
    EXPECT_EQ(killed, -SIGKILL);
    EXPECT_EQ(slurp(kPath), before);
    World world;
    EXPECT_EQ(readFile(kPath, world.track(0), false), LoadSuccess);
    // The next save takes the killed one's temporary file away.
    auto leftovers = [&] { return sh("ls -A " + folder + " | grep -c '^.part.inst.tmp-'"); };
    EXPECT_EQ(leftovers(), "1\n");
    ASSERT_EQ(writeFile(kPath, good), SaveSuccess);
    EXPECT_EQ(leftovers(), "0\n");

    // A folder where the file should be.
    ASSERT_TRUE(host::makeFolders(hostFile("/home/corvane/taken.inst")));
    EXPECT_EQ(writeFile("/home/corvane/taken.inst", good), SaveCreateFailed);
}

// Readers copy documents recursively: one nested far deeper than any file the
// instrument writes is refused while it is read, before anything changes.
TEST_F(PartFileTest, DeeplyNestedDocumentsAreRefusedAndChangeNothing) {
    World world;
    TestTrack& t = world.track(0);
    const size_t depth = 100000;
    auto nested = [&](const std::string& before, const std::string& after) {
        return before + std::string(depth, '[') + std::string(depth, ']') + after;
    };
    t.sequencer.pattern.setValue(7, false);
    const int sequencerResets = t.sequencerResets;
    spit(kPath, nested(R"({"sequencer": {"pattern": {"value": )", "}}}"));
    EXPECT_EQ(readFile(kPath, t, false), LoadInterpretFailed);
    EXPECT_EQ(t.sequencer.pattern.values[0], 7);
    EXPECT_EQ(t.sequencerResets, sequencerResets);

    world.bpm.setValue(97.0f, false);
    const std::string project = "/home/corvane/projects/deep.proj";
    spit(project, nested(R"({"files": {}, "clock": {"BPM": )", "}}"));
    EXPECT_EQ(readFile(project, t, false), LoadInterpretFailed);
    EXPECT_FLOAT_EQ(world.bpm.getValue(), 97.0f);
    EXPECT_EQ(t.sequencerResets, sequencerResets);

    // A file as deep as the limit still loads.
    std::string limit = R"({"unknown": )" + std::string(PartFile::kMaxDepth - 1, '[') +
                        std::string(PartFile::kMaxDepth - 1, ']') + "}";
    spit(kPath, limit);
    EXPECT_EQ(readFile(kPath, t, false), LoadSuccess);
}

// A value the parameter or note cannot hold makes the file one that cannot
// be interpreted, with its warning, instead of a silent partial load.
TEST_F(PartFileTest, TextsForNumbersAndNotesOutOfRangeRefuseTheFile) {
    World world;
    TestTrack& t = world.track(0);
    auto load = [&](const std::string& text) {
        spit(kPath, text);
        return readFile(kPath, t, false);
    };
    EXPECT_EQ(load(R"({"sequencer": {"start": {"value": "abc"}}})"), LoadInterpretFailed);
    EXPECT_EQ(load(R"({"sequencer": {"start": {"value": "12"}}})"), LoadSuccess);  // a number as text
    EXPECT_EQ(t.sequencer.start.values[0], 12);
    EXPECT_EQ(load(R"({"synthesis": {"synth engine": "subtractive", "filt freq": {"value": "abc"}}})"),
              LoadInterpretFailed);

    const std::string notes = R"({"note list": [{"symbol": [1], "type": ["NoteOn"], "octave": [OCT],
                                                 "dbfs": [-6.0], "chance": [10]}]})";
    auto withOctave = [&](const std::string& octave) {
        std::string text = notes;
        return text.replace(text.find("OCT"), 3, octave);
    };
    EXPECT_EQ(load(withOctave("1e20")), LoadInterpretFailed);
    EXPECT_EQ(load(withOctave("4294967296")), LoadInterpretFailed);
    ASSERT_EQ(load(withOctave("-2147483648")), LoadSuccess);
    EXPECT_EQ(world.notes.list(0)->steps[0][0].octave, INT32_MIN);
}

// A chain of modulators on each other's controls is as long as the deepest
// file still loads: the longest one round-trips, and a longer one in a file
// loads up to that length, refusing the rest with a notice.
TEST_F(PartFileTest, TheLongestChainOfModulatorsLoadsBackAndALongerOneIsCut) {
    World world;
    TestTrack& t = world.track(0);
    ASSERT_TRUE(t.setSynthesisName("subtractive"));
    t.applySynthesis();
    Parameter* first = t.engineGroup().storedParameters.front();
    first->channelCount = std::max(first->channelCount, 1u);
    Parameter* control = first;
    for (uint32_t i = 0; i < ModulationManager::kMaxNesting; ++i) {
        std::shared_ptr<Modulator> m = t.manager.addModulatorTo("LFO", *control);
        ASSERT_NE(m, nullptr) << i;
        control = m->controls[0];
    }
    guitest::clearNotices();
    EXPECT_EQ(t.manager.addModulatorTo("LFO", *control), nullptr);
    EXPECT_EQ(guitest::notices(), std::vector<std::string>{"Modulators nest at most 80 deep"});

    const std::string link = control->name;  // the control goes with its modulator
    ASSERT_EQ(saveByFileType(kPath, FileTypeInstrument, t, true, true), SaveSuccess);
    t.manager.removeAll();
    ASSERT_EQ(readFile(kPath, t, false), LoadSuccess);
    EXPECT_EQ(t.manager.size(), size_t(ModulationManager::kMaxNesting));

    // One link more at the end of the chain, as an older firmware could save it.
    json document = readJson(kPath);
    json* last = &document["synthesis"][first->name];
    while (last->contains("modulator"))
        last = &(*last)["modulator"][0][link];
    (*last)["modulator"] = json::array({{{"modulator type", "LFO"}}});
    spit(kPath, document.dump());
    t.manager.removeAll();
    guitest::clearNotices();
    ASSERT_EQ(readFile(kPath, t, false), LoadSuccess);
    EXPECT_EQ(t.manager.size(), size_t(ModulationManager::kMaxNesting));
    EXPECT_EQ(guitest::notices(), std::vector<std::string>{"Modulators nest at most 80 deep"});
}
