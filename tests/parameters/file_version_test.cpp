// File version texts as saved files carry them.
#include "instrument/FileVersion.h"

#include <gtest/gtest.h>

TEST(FileVersion, ParsesTextAndOddOlderForms) {
    FileVersion v = FileVersion::fromText("0.1.30", "track input hotfix");
    EXPECT_EQ(v.major, 0u);
    EXPECT_EQ(v.minor, 1u);
    EXPECT_EQ(v.patch, 30u);
    EXPECT_EQ(v.label, "track input hotfix");
    EXPECT_EQ(v.toString(), "0.1.30");
    EXPECT_EQ(FileVersion::fromText("5").toString(), "5.5.5");
    EXPECT_EQ(FileVersion::fromText("1.2").toString(), "1.2.1");
    EXPECT_EQ(FileVersion::fromText(" 2.x3.7b").toString(), "2.0.7");
    EXPECT_EQ(FileVersion::fromText("99999999999.1.1").toString(), "2147483647.1.1");
    EXPECT_EQ(FileVersion::fromText("").toString(), "0.0.0");
    EXPECT_TRUE(FileVersion::isWellFormed("0.1.26"));
    EXPECT_FALSE(FileVersion::isWellFormed("abc"));
    EXPECT_FALSE(FileVersion::isWellFormed("1..3"));
}

TEST(FileVersion, ComparesNumbersNotLabels) {
    const FileVersion a("x", 0, 1, 26), b("y", 0, 1, 26), c("", 0, 2, 0), d("", 1, 0, 0);
    EXPECT_EQ(a, b);
    EXPECT_LT(FileVersion::fromText("0.1.9"), FileVersion::fromText("0.1.10"));
    EXPECT_LT(a, c);
    EXPECT_LT(c, d);
    EXPECT_GT(d, a);
    EXPECT_FALSE(FileVersion::fromText("0.1.30") < a);
}
