// What the screen tells the player is said on the console too, once a
// notice, on a line of its own and after the lines of what it reports: an
// offline run, whose screen nobody sees, says how its save or load went. A
// console that nobody reads holds up neither the run nor its end.
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/example_run.h"
#include "tests/support/wait.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Each match counts, also one that begins with the newline ending the last.
size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Every "screen: " begins a line, and no empty line follows it.
void expectNoticesOnLinesOfTheirOwn(const std::string& out) {
    for (size_t at = out.find("screen: "); at != std::string::npos; at = out.find("screen: ", at + 1)) {
        EXPECT_TRUE(at == 0 || out[at - 1] == '\n') << out;
        EXPECT_NE(out.compare(out.find('\n', at), 2, "\n\n"), 0) << out;
    }
}

TEST(Notices, AnOfflineSaveAndLoadSayOnTheConsoleHowTheyWent) {
    const std::string root = testsupport::freshPath("notices-root");
    const std::string saved = testsupport::runExample(root, "save-project.panel", "4");
    ASSERT_TRUE(saved.ends_with("\nstatus 0\n")) << saved;
    EXPECT_EQ(count(saved, "\nscreen: song.proj has been saved.\n"), 1u) << saved;
    // Busy notices are not said.
    EXPECT_EQ(count(saved, "screen: Saving file..."), 0u) << saved;

    // The project folder is there: the same save again is refused.
    const std::string again = testsupport::runExample(root, "save-project.panel", "4");
    ASSERT_TRUE(again.ends_with("\nstatus 0\n")) << again;
    EXPECT_EQ(count(again, "\nscreen: Error while saving: couldn't create project folder\n"), 1u) << again;
    EXPECT_EQ(count(again, "has been saved."), 0u) << again;

    // Nothing saved or loaded in a fresh root: no last project to load.
    const std::string none = testsupport::runExample(testsupport::freshPath("notices-empty"), "load-project.panel", "1");
    ASSERT_TRUE(none.ends_with("\nstatus 0\n")) << none;
    EXPECT_EQ(count(none, "\nscreen: Could not load last project...\n"), 1u) << none;
}

// A console line without its newline (the parse error of a template cut
// short) comes before the template's notice, and the recording's notice
// text ends in a newline of its own.
TEST(Notices, EachNoticeIsALineOfItsOwn) {
    const std::string root = testsupport::freshPath("notices-lines");
    std::filesystem::create_directories(root + "/projects/template-project");
    std::ofstream(root + "/projects/template-project/template.proj") << "{\"project\": {\"tempo\": 12";
    const std::string out = testsupport::runExample(root, "record-input.panel", "1");
    ASSERT_TRUE(out.ends_with("\nstatus 0\n")) << out;
    EXPECT_EQ(count(out, "\nscreen: Error while loading template: parsing JSON failed\n"), 1u) << out;
    EXPECT_EQ(count(out, "\nscreen: Started recording\n"), 1u) << out;
    expectNoticesOnLinesOfTheirOwn(out);
}

// The files' lines and the notice once took two ways to the console, and
// the notice came first in about one save of three.
TEST(Notices, ASaveIsSaidDoneAfterTheLinesOfTheFilesItWrote) {
    for (int run = 0; run < 10; ++run) {
        const std::string root = testsupport::freshPath("notices-order");
        const std::string out = testsupport::runExample(root, "save-project.panel", "4");
        ASSERT_TRUE(out.ends_with("\nstatus 0\n")) << out;
        const size_t lastFile = out.rfind("writeFile(" + root + "/projects/song-project/");
        ASSERT_NE(lastFile, std::string::npos) << out;
        EXPECT_GT(out.find("\nscreen: song.proj has been saved.\n"), lastFile) << out;
        expectNoticesOnLinesOfTheirOwn(out);
    }
}

// Standard output a full pipe that nobody reads (a paused pager): the save
// and the render go on after the save's notice, and a SIGINT ends the run.
// The pipe is handed over as a shell does, its description shared.
TEST(Notices, AConsoleThatNobodyReadsHoldsNeitherTheRunNorItsEnd) {
    const std::string root = testsupport::freshPath("notices-unread");
    const std::string errFile = root + ".err";
    const std::string script = testsupport::kExamples + "save-project.panel";
    int console[2];
    ASSERT_EQ(pipe2(console, O_CLOEXEC | O_NONBLOCK), 0);
    const char page[4096] = {};
    while (write(console[1], page, sizeof page) > 0) {
    }
    ASSERT_EQ(fcntl(console[1], F_SETFL, 0), 0);  // as blocking as a shell leaves it

    const char* argv[] = {CORVANE_BINARY, "--root", root.c_str(), "--offline", "--seconds", "3600",
                          "--panel-script", script.c_str(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(console[1], 1);
        dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        execv(CORVANE_BINARY, const_cast<char**>(argv));
        _exit(127);
    }
    testsupport::Reaper reaper{pid};

    // Saved, then the render (which runs the screen's task between its
    // blocks) goes on for a second of audio at least.
    const std::string saved = root + "/projects/song-project/song.proj", output = root + "/output.wav";
    ASSERT_TRUE(testsupport::waitUntil([&] { return std::filesystem::exists(saved); })) << testsupport::slurp(errFile);
    std::error_code ec;
    const auto savedAt = std::filesystem::file_size(output, ec);
    ASSERT_TRUE(testsupport::waitUntil([&] { return std::filesystem::file_size(output, ec) > savedAt + 768000; }));

    ASSERT_EQ(kill(pid, SIGINT), 0);
    int status = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }))
        << testsupport::slurp(errFile);
    reaper.pid = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << testsupport::slurp(errFile);
    EXPECT_EQ(fcntl(console[1], F_GETFL) & O_NONBLOCK, 0);
    close(console[0]);
    close(console[1]);
}

}  // namespace
