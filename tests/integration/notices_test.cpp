// What the screen tells the player is said on the console too, once a
// notice: an offline run, whose screen nobody sees, says how its save or load
// went.
#include "tests/support/TempDir.h"
#include "tests/support/example_run.h"

#include <gtest/gtest.h>

#include <string>

namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
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

}  // namespace
