// The display picture and the other outputs among the player's files:
// never over another option's file or the root's own, never over a file
// beside it, and through links only as the kernel would follow them.
#include "tests/support/Shell.h"
#include "tests/support/TempDir.h"
#include "tests/support/corvane_process.h"
#include "tests/support/sound_file.h"
#include "tests/support/wait.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

using testsupport::Outcome;
using testsupport::slurp;

void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string freshFolder(const std::string& name) {
    const std::string folder = testsupport::freshPath(name);
    host::makeFolders(folder);
    return folder;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The instrument started in the working folder `cwd`, once `before` has
// seen its process id (the child waits on a pipe until then).
Outcome runIn(const std::string& cwd, const std::vector<std::string>& args,
              const std::function<void(pid_t)>& before = {}) {
    const std::string out = testsupport::freshPath("display-out", "-stdout.txt");
    const std::string err = testsupport::freshPath("display-out", "-stderr.txt");
    int go[2];
    if (pipe(go) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(go[1]);
        char byte;
        if (read(go[0], &byte, 1) != 1 || chdir(cwd.c_str()) != 0)
            _exit(126);
        close(go[0]);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        std::vector<char*> argv{const_cast<char*>(CORVANE_BINARY)};
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(CORVANE_BINARY, argv.data());
        _exit(127);
    }
    close(go[0]);
    if (before)
        before(pid);
    (void)!write(go[1], "g", 1);
    close(go[1]);
    return testsupport::finishCorvane(pid, out, err);
}

// Whether the file is a display picture (256 x 64, 16 grey levels).
bool isPicture(const std::string& path) { return slurp(path).rfind("P5\n256 64\n15\n", 0) == 0; }

// Any option that writes (the picture, the capture, the default capture
// among them) refuses a start that names its file twice, before anything
// is written; devices are left to be shared.
TEST(DisplayOut, TwoOptionsNamingOneFileRefuseTheStart) {
    const std::string root = freshFolder("one-file");
    host::makeFolders(root + "/sub");
    spit(root + "/take.wav", "a take\n");
    ASSERT_EQ(symlink("take.wav", (root + "/screen.pgm").c_str()), 0);
    ASSERT_EQ(symlink("sub/new.wav", (root + "/later.pgm").c_str()), 0);  // not there yet
    ASSERT_TRUE(testsupport::writeSound(root + "/in.wav", std::vector<float>(4800, 0.25f)));
    ASSERT_EQ(link((root + "/in.wav").c_str(), (root + "/in-again.wav").c_str()), 0);
    const std::string input = slurp(root + "/in.wav");
    struct Case {
        std::vector<std::string> options;
        std::string said;
    };
    const Case cases[] = {
        {{"--audio-out", root + "/x.wav", "--display-out", root + "/x.wav"},
         "--display-out and --audio-out name one file: " + root + "/x.wav"},
        {{"--audio-out", root + "/take.wav", "--display-out", root + "/screen.pgm"},
         "--display-out and --audio-out name one file: " + root + "/take.wav"},
        // Only what the player named is named.
        {{"--display-out", root + "/output.wav"},
         "--display-out names the default audio output: " + root + "/output.wav"},
        {{"--audio-out", root + "/sub/../sub/new.wav", "--display-out", root + "/later.pgm"},
         "--display-out and --audio-out name one file: " + root + "/sub/../sub/new.wav"},
        {{"--audio-in", root + "/in.wav", "--audio-out", root + "/in.wav"},
         "--audio-in and --audio-out name one file: " + root + "/in.wav"},
        {{"--audio-in", root + "/in.wav", "--audio-out", root + "/in-again.wav"},
         "--audio-in and --audio-out name one file: " + root + "/in-again.wav"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        std::vector<std::string> args{"--root", root, "--offline", "--blocks", "1"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        Outcome r = runIn(root, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, c.said + "\nError: unable to initialise audio\n")) << r.err;
    }
    EXPECT_TRUE(slurp(root + "/take.wav") == "a take\n") << "the take was written over";
    EXPECT_TRUE(slurp(root + "/in.wav") == input) << "the input was written over";
    for (const char* made : {"/x.wav", "/output.wav", "/sub/new.wav"})
        EXPECT_NE(access((root + made).c_str(), F_OK), 0) << made;
    // One device for two options harms nobody.
    Outcome r = runIn(root, {"--root", root, "--offline", "--blocks", "1", "--panel-script", "/dev/null",
                             "--audio-out", "/dev/null"});
    EXPECT_EQ(r.status, 0) << r.err;
}

// scripts/run.sh in `dir` with `args` and what follows the command (a
// redirection); returns its standard error and status.
std::string runSh(const std::string& dir, const std::string& args, const std::string& tail) {
    const std::string err = testsupport::freshPath("display-out-run", ".txt");
    const std::string status = testsupport::shellOutput(
        "cd '" + dir + "' && CORVANE_BINARY='" CORVANE_BINARY "' CORVANE_LAUNCHER='" CORVANE_LAUNCHER "' '" +
        CORVANE_SOURCE_DIR + "/scripts/run.sh' " + args + " 2>'" + err + "' </dev/null " + tail +
        "; echo \"status $?\"");
    return slurp(err) + status;
}

// Standard output taken for the audio is still the file it was: a picture
// named by that file's name would replace the audio.
TEST(DisplayOut, StandardOutputIsTheFileItWritesInto) {
    const std::string dir = freshFolder("stdout-file");
    const std::string said = runSh(dir, "--root root --offline --blocks 1 --audio-out /dev/stdout --display-out x.wav",
                                   ">x.wav");
    EXPECT_TRUE(said.ends_with("--display-out and --audio-out name one file: /dev/stdout\n"
                               "Error: unable to initialise audio\nstatus 1\n"))
        << said;
    EXPECT_TRUE(slurp(dir + "/x.wav").empty()) << "the picture took the audio's file";
}

// The root's configuration and host folder (its lock among them) are no
// output under any name: replaced by a picture, the lock would let a second
// instrument take the root.
TEST(DisplayOut, TheRootsOwnFilesAreNoOutput) {
    const std::string dir = freshFolder("own-files");
    const std::string root = dir + "/root";
    host::makeFolders(root + "/.host");
    spit(root + "/corvane.json", "{}\n");
    spit(root + "/.host/corvane.lock", "");
    struct stat lock {};
    ASSERT_EQ(stat((root + "/.host/corvane.lock").c_str(), &lock), 0);
    ASSERT_EQ(link((root + "/corvane.json").c_str(), (dir + "/second.json").c_str()), 0);
    ASSERT_EQ(symlink("root/.host/corvane.lock", (dir + "/lock.pgm").c_str()), 0);
    for (const char* option : {"--display-out", "--audio-out"})
        for (const std::string named : {"root/corvane.json", "root/.host/corvane.lock", "root/.host/new.wav",
                                        "second.json", "lock.pgm"}) {
            SCOPED_TRACE(named);
            const std::string said =
                runSh(dir, "--root root --offline --blocks 1 " + std::string(option) + " " + named, "");
            EXPECT_TRUE(said.ends_with(option + (" names one of the data root's own files: " + named) +
                                       "\nError: unable to initialise audio\nstatus 1\n"))
                << said;
        }
    EXPECT_TRUE(slurp(root + "/corvane.json") == "{}\n") << "the configuration was written over";
    struct stat after {};
    EXPECT_EQ(stat((root + "/.host/corvane.lock").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, lock.st_ino) << "the lock was replaced";
    EXPECT_EQ(after.st_size, 0);
    EXPECT_NE(access((root + "/.host/new.wav").c_str(), F_OK), 0);
}

// The picture is written aside under a hidden name of its own: a player's
// NAME.tmp stays, and a leftover of a killed run with this very process id
// (the name it would take first) neither blocks the start nor goes.
TEST(DisplayOut, TemporaryPictureNeverTakesAFileThatIsThere) {
    const std::string root = freshFolder("aside-root");
    const std::string pictures = freshFolder("aside");
    spit(pictures + "/screen.pgm.tmp", "the player's\n");
    std::string leftover;
    Outcome r = runIn(root, {"--root", root, "--offline", "--blocks", "1", "--display-out", pictures + "/screen.pgm"},
                      [&](pid_t pid) {
                          leftover = pictures + "/.screen.pgm.corvane-" + std::to_string(pid) + ".tmp";
                          spit(leftover, "P5\n256 64\n15\nhalf a pic");
                      });
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isPicture(pictures + "/screen.pgm"));
    EXPECT_EQ(slurp(pictures + "/screen.pgm.tmp"), "the player's\n");
    EXPECT_EQ(slurp(leftover), "P5\n256 64\n15\nhalf a pic");
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(pictures))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"screen.pgm", "screen.pgm.tmp", leftover.substr(pictures.size() + 1)}));
}

// Each new picture is written aside and renamed over the old one: a viewer
// holding the old picture (here by a hard link) keeps it whole, and the name
// leads to a new file. Written in place, the old file would change under it.
TEST(DisplayOut, ANewPictureReplacesTheOldWholeNeverWritesIntoIt) {
    const std::string dir = freshFolder("picture-replaced");
    const std::string screen = dir + "/screen.pgm", held = dir + "/held.pgm";
    const std::string err = dir + "/err.txt";
    // Playing, so the screen keeps being drawn.
    testsupport::Reaper run{testsupport::startCorvane(
        {"--root", dir + "/root", "--panel-script", std::string(CORVANE_SOURCE_DIR) + "/examples/first-sound.panel",
         "--display-out", screen},
        "/dev/null", err)};
    ASSERT_GT(run.pid, 0);
    const size_t pictureBytes = std::string("P5\n256 64\n15\n").size() + 256 * 64;
    ASSERT_TRUE(testsupport::waitUntil([&] { return isPicture(screen) && slurp(screen).size() == pictureBytes; },
                                       std::chrono::milliseconds(2)))
        << slurp(err);
    ASSERT_EQ(link(screen.c_str(), held.c_str()), 0) << strerror(errno);
    struct stat old {};
    ASSERT_EQ(stat(held.c_str(), &old), 0);
    const std::string oldPicture = slurp(held);
    ASSERT_EQ(oldPicture.size(), pictureBytes);

    // The next picture: either the name leads elsewhere or the old file was touched.
    struct stat now {}, kept {};
    ASSERT_TRUE(testsupport::waitUntil([&] {
        if (stat(screen.c_str(), &now) != 0 || stat(held.c_str(), &kept) != 0)
            return false;
        return now.st_ino != old.st_ino || kept.st_size != old.st_size ||
               kept.st_mtim.tv_sec != old.st_mtim.tv_sec || kept.st_mtim.tv_nsec != old.st_mtim.tv_nsec;
    }, std::chrono::milliseconds(2)))
        << slurp(err);
    EXPECT_NE(now.st_ino, old.st_ino) << "the picture was written into the file it replaces";
    EXPECT_TRUE(slurp(held) == oldPicture) << "the old picture changed under its reader";
    EXPECT_EQ(testsupport::shellOutput("pamfile '" + held + "' 2>&1"), held + ":\tPGM raw, 256 by 64  maxval 15\n");

    // However the run ends, the name holds a whole picture.
    kill(run.pid, SIGTERM);
    testsupport::finishCorvane(run.pid, "/dev/null", err);
    run.pid = 0;
    EXPECT_EQ(testsupport::shellOutput("pamfile '" + screen + "' 2>&1"), screen + ":\tPGM raw, 256 by 64  maxval 15\n");
}

// In a sticky folder anyone may write to, a link is followed only when it
// is the player's or the folder owner's, at every hop; another's link is
// refused and the file it leads to is left alone. Only where this process
// may give a link away (as root).
TEST(DisplayOut, LinkInASharedStickyFolderIsFollowedOnlyWhenItsOwnerMayLeadThere) {
    const std::string root = freshFolder("sticky-root");
    const std::string shared = freshFolder("sticky");
    const uid_t folderOwner = 54321, stranger = 54322;
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    if (chown(shared.c_str(), folderOwner, folderOwner) != 0)
        GTEST_SKIP() << "cannot give a folder away here: " << strerror(errno);
    const auto link = [&](const std::string& name, const std::string& target, uid_t owner) {
        const std::string path = shared + "/" + name;
        EXPECT_EQ(symlink(target.c_str(), path.c_str()), 0);
        EXPECT_EQ(lchown(path.c_str(), owner, owner), 0) << strerror(errno);
        return path;
    };
    spit(root + "/mine.pgm", "the player's own\n");
    const std::string planted = link("planted.pgm", root + "/mine.pgm", stranger);
    const std::string chain = link("chain.pgm", planted, geteuid());
    for (const std::string& path : {planted, chain}) {
        Outcome r = runIn(root, {"--root", root, "--offline", "--blocks", "1", "--display-out", path});
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_TRUE(contains(r.err, "display picture: cannot write " + path +
                                        ": a link in a shared sticky folder that is not yours\n"))
            << r.err;
    }
    EXPECT_TRUE(slurp(root + "/mine.pgm") == "the player's own\n") << "the player's file was written over";
    for (const auto& [name, owner] : {std::pair{"own.pgm", geteuid()}, std::pair{"owners.pgm", folderOwner}}) {
        const std::string target = root + "/by-" + name;
        Outcome r = runIn(root, {"--root", root, "--offline", "--blocks", "1", "--display-out", link(name, target, owner)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(isPicture(target)) << name;
    }
}

// A relative link leads from its own folder, whatever the working folder.
TEST(DisplayOut, RelativeLinkLeadsFromItsOwnFolder) {
    const std::string root = freshFolder("relative");
    host::makeFolders(root + "/dir");
    host::makeFolders(root + "/elsewhere");
    ASSERT_EQ(symlink("target.pgm", (root + "/dir/pic.pgm").c_str()), 0);
    for (const std::string& named : {root + "/dir/pic.pgm", std::string("../dir/pic.pgm")}) {
        SCOPED_TRACE(named);
        std::remove((root + "/dir/target.pgm").c_str());
        Outcome r = runIn(root + "/elsewhere", {"--root", root, "--offline", "--blocks", "1", "--display-out", named});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(isPicture(root + "/dir/target.pgm"));
        EXPECT_NE(access((root + "/elsewhere/target.pgm").c_str(), F_OK), 0);
    }
}

}  // namespace
