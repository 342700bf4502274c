// The main of every test program.
//
// The firmware's globals live as long as the process, and a whole-instrument
// test leaves them as it found them only by chance; ctest runs each test in a
// process of its own. So does this main when the program is run directly and
// its filter picks more than one test: each one is run again as a child
// (this program, its arguments, --gtest_filter=Suite.Name), the child's
// output is passed on and the results are summed up as Google Test would.
// A run that picks one test, --gtest_list_tests (ctest's discovery) and
// CORVANE_TEST_IN_PROCESS=1 run in this process as usual.
//
// Passed on to each child: every flag given, so --gtest_repeat=N repeats
// each test N times in its process. --gtest_output / GTEST_OUTPUT: each child
// writes a report of its own, merged into the one asked for (a child that
// crashed has no entry there; the summary counts it as failed). The tests
// run in the listed order: --gtest_shuffle shuffles nothing across processes.
// GTEST_SHARD_INDEX / GTEST_TOTAL_SHARDS deal the tests out here, as Google
// Test would; the children run their one test unsharded.
//
// Before anything, HOME and XDG_DATA_HOME point into this process's scratch
// folder, so no test can reach the user's data, whatever root it forgets to set.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kInProcess = "CORVANE_TEST_IN_PROCESS";

void keepAwayFromUserData() {
    const std::string home = testsupport::tempDir() + "home";
    host::makeFolders(home + "/.local/share");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
}

// Runs this program again with `args`; its standard output comes back
// through `out`, its standard error goes where ours goes.
pid_t spawn(const std::string& argv0, const std::vector<std::string>& args, int* out) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        std::vector<char*> argv{const_cast<char*>(argv0.c_str())};
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return -1;
    }
    *out = fds[0];
    return pid;
}

// Hands each whole line the child writes to `line`; returns its wait status.
template <typename F>
int drain(pid_t pid, int fd, F&& line) {
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, size_t(n));
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            line(pending.substr(start, end - start + 1));
        pending.erase(0, start);
    }
    if (!pending.empty())
        line(pending + "\n");
    close(fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The tests the arguments pick, in the order Google Test would run them.
std::vector<std::string> selectedTests(const std::string& argv0, std::vector<std::string> args, bool* ok) {
    args.push_back("--gtest_list_tests");
    args.push_back("--gtest_output=");
    std::vector<std::string> names;
    std::string suite;
    int fd = -1;
    pid_t pid = spawn(argv0, args, &fd);
    if (pid < 0) {
        *ok = false;
        return names;
    }
    int status = drain(pid, fd, [&](const std::string& line) {
        // "Suite.  # TypeParam = ..." then "  Name  # GetParam() = ..."
        const bool test = line.rfind("  ", 0) == 0;
        size_t from = test ? 2 : 0;
        size_t end = line.find_first_of(" \n", from);
        std::string word = line.substr(from, end - from);
        if (word.empty())
            return;
        if (!test)
            suite = word;
        else if (!suite.empty())
            names.push_back(suite + word);
    });
    *ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return names;
}

std::string withoutColour(const std::string& line) {
    std::string plain;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\033') {
            size_t m = line.find('m', i);
            if (m != std::string::npos) {
                i = m;
                continue;
            }
        }
        plain += line[i];
    }
    return plain;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool isDisabled(const std::string& name) {
    return startsWith(name, "DISABLED_") || name.find(".DISABLED_") != std::string::npos ||
           name.find("/DISABLED_") != std::string::npos;
}

std::string plural(size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// Where the report goes, as Google Test reads --gtest_output.
struct Report {
    std::string format, path;
    bool wanted() const { return !path.empty(); }
};

Report reportAsked(const std::string& argv0) {
    Report r;
    std::string flag = GTEST_FLAG_GET(output);
    if (flag.empty())
        return r;
    size_t colon = flag.find(':');
    r.format = flag.substr(0, colon);
    r.path = colon == std::string::npos ? "" : flag.substr(colon + 1);
    if (r.format != "json")
        r.format = "xml";
    if (r.path.empty())
        r.path = "test_detail." + r.format;
    else if (r.path.back() == '/') {
        std::string base = argv0.substr(argv0.find_last_of('/') + 1);
        r.path += base + "." + r.format;
    }
    return r;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each child's report holds one suite with its one test; the suites go into
// one report under totals of the whole run.
void mergeReports(const Report& report, const std::vector<std::string>& parts, size_t tests, size_t failures,
                  double seconds) {
    std::string body;
    for (auto& part : parts) {
        std::string text = slurp(part);
        if (report.format == "xml") {
            size_t from = text.find("<testsuite ");
            size_t to = text.rfind("</testsuites>");
            if (from != std::string::npos && to != std::string::npos && to > from)
                body += "  " + text.substr(from, to - from);
        } else {
            size_t from = text.find("\"testsuites\": [");
            size_t to = text.rfind(']');
            if (from == std::string::npos || to == std::string::npos || to <= from)
                continue;
            from += std::strlen("\"testsuites\": [");
            std::string suite = text.substr(from, to - from);
            while (!suite.empty() && (suite.back() == '\n' || suite.back() == ' '))
                suite.pop_back();
            body += (body.empty() ? "" : ",") + suite;
        }
    }
    if (size_t slash = report.path.rfind('/'); slash != std::string::npos && slash > 0)
        host::makeFolders(report.path.substr(0, slash));
    std::ofstream out(report.path, std::ios::binary);
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", seconds);
    if (report.format == "xml") {
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites tests=\"" << tests << "\" failures=\""
            << failures << "\" disabled=\"0\" errors=\"0\" time=\"" << time << "\" name=\"AllTests\">\n"
            << body << "</testsuites>\n";
    } else {
        out << "{\n  \"tests\": " << tests << ",\n  \"failures\": " << failures
            << ",\n  \"disabled\": 0,\n  \"errors\": 0,\n  \"time\": \"" << time
            << "s\",\n  \"name\": \"AllTests\",\n  \"testsuites\": [" << body << "\n  ]\n}\n";
    }
    if (!out.good())
        std::fprintf(stderr, "could not write the test report %s\n", report.path.c_str());
}

int runEachInItsOwnProcess(const std::string& argv0, const std::vector<std::string>& args,
                           const std::vector<std::string>& tests) {
    // A shard takes every total-th runnable test, as Google Test deals them.
    const char* index = getenv("GTEST_SHARD_INDEX");
    const char* total = getenv("GTEST_TOTAL_SHARDS");
    const long shards = index && total ? std::max(1L, std::atol(total)) : 1;
    const long shard = shards > 1 ? std::atol(index) : 0;
    if (const char* status = getenv("GTEST_SHARD_STATUS_FILE"); status && shards > 1)
        if (FILE* file = std::fopen(status, "w"))
            std::fclose(file);
    size_t disabled = 0, runnable = 0;
    std::vector<std::string> torun;
    for (auto& t : tests) {
        if (isDisabled(t) && !GTEST_FLAG_GET(also_run_disabled_tests))
            ++disabled;
        else if (long(runnable++ % size_t(shards)) == shard)
            torun.push_back(t);
    }
    std::set<std::string> suites;
    for (auto& t : torun)
        suites.insert(t.substr(0, t.find('.')));

    // The children run one test each: no sharding of their own.
    unsetenv("GTEST_SHARD_INDEX");
    unsetenv("GTEST_TOTAL_SHARDS");
    setenv(kInProcess, "1", 1);
    const Report report = reportAsked(argv0);
    const std::string colour = GTEST_FLAG_GET(color);
    const bool coloured = colour == "yes" || (colour == "auto" && isatty(1));

    std::printf("[==========] Running %s from %s, each in a process of its own.\n",
                plural(torun.size(), "test").c_str(), plural(suites.size(), "test suite").c_str());
    const auto began = std::chrono::steady_clock::now();
    std::vector<std::string> failed, skipped, reports;
    size_t passed = 0;
    for (size_t i = 0; i < torun.size(); ++i) {
        const std::string& name = torun[i];
        std::vector<std::string> childArgs = args;
        childArgs.push_back("--gtest_filter=" + name);
        if (coloured)
            childArgs.push_back("--gtest_color=yes");
        if (report.wanted()) {
            reports.push_back(testsupport::tempDir() + "report-" + std::to_string(i) + "." + report.format);
            childArgs.push_back("--gtest_output=" + report.format + ":" + reports.back());
        }
        int fd = -1;
        pid_t pid = spawn(argv0, childArgs, &fd);
        if (pid < 0) {
            std::printf("[  FAILED  ] %s (could not be started: %s)\n", name.c_str(), std::strerror(errno));
            failed.push_back(name);
            continue;
        }
        // Passes on the test's own lines; the child's header and summary
        // make way for the ones of the whole run.
        bool summary = false, wasSkipped = false, afterFooter = false;
        int status = drain(pid, fd, [&](const std::string& line) {
            std::string plain = withoutColour(line);
            const bool blankAfterFooter = afterFooter && plain == "\n";
            afterFooter = startsWith(plain, "[----------]");
            if (startsWith(plain, "[==========] Running") || startsWith(plain, "Repeating all tests"))
                summary = false;
            if (startsWith(plain, "[==========]") && plain.find(" ran.") != std::string::npos)
                summary = true;
            if (startsWith(plain, ("[  SKIPPED ] " + name + " (").c_str()))
                wasSkipped = true;
            if (summary || blankAfterFooter || startsWith(plain, "[==========]") || afterFooter ||
                startsWith(plain, "Note: Google Test filter") || startsWith(plain, "Note: This is test shard"))
                return;
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fflush(stdout);
        });
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            if (wasSkipped)
                skipped.push_back(name);
            else
                ++passed;
        } else {
            if (WIFSIGNALED(status))
                std::printf("[  FAILED  ] %s (ended by signal %d, %s)\n", name.c_str(), WTERMSIG(status),
                            strsignal(WTERMSIG(status)));
            failed.push_back(name);
            if (GTEST_FLAG_GET(fail_fast))
                break;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (report.wanted())
        mergeReports(report, reports, passed + skipped.size() + failed.size(), failed.size(), seconds);

    std::printf("[==========] %s from %s ran. (%lld ms total)\n", plural(torun.size(), "test").c_str(),
                plural(suites.size(), "test suite").c_str(), (long long)(seconds * 1000));
    std::printf("[  PASSED  ] %s.\n", plural(passed, "test").c_str());
    if (!skipped.empty()) {
        std::printf("[  SKIPPED ] %s, listed below:\n", plural(skipped.size(), "test").c_str());
        for (auto& t : skipped)
            std::printf("[  SKIPPED ] %s\n", t.c_str());
    }
    if (!failed.empty()) {
        std::printf("[  FAILED  ] %s, listed below:\n", plural(failed.size(), "test").c_str());
        for (auto& t : failed)
            std::printf("[  FAILED  ] %s\n", t.c_str());
        std::printf("\n%2zu FAILED %s\n", failed.size(), failed.size() == 1 ? "TEST" : "TESTS");
    }
    if (disabled)
        std::printf("  YOU HAVE %s\n", plural(disabled, "DISABLED TEST").c_str());
    std::fflush(stdout);
    return failed.empty() ? 0 : 1;
}

bool asksForHelp(const std::vector<std::string>& args) {
    for (auto& a : args)
        if (a == "--help" || a == "-h" || a == "-?" || a == "/?" || a == "--gtest_help")
            return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    keepAwayFromUserData();
    const std::string argv0 = argv[0];
    const std::vector<std::string> args(argv + 1, argv + argc);
    testing::InitGoogleMock(&argc, argv);

    const char* inProcess = getenv(kInProcess);
    if ((inProcess && *inProcess && std::strcmp(inProcess, "0") != 0) || GTEST_FLAG_GET(list_tests) ||
        asksForHelp(args))
        return RUN_ALL_TESTS();
    bool listed = false;
    std::vector<std::string> tests = selectedTests(argv0, args, &listed);
    if (!listed || tests.size() <= 1)
        return RUN_ALL_TESTS();
    return runEachInItsOwnProcess(argv0, args, tests);
}
