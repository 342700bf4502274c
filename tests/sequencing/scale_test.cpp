#include "sequencing/PitchScale.h"
#include "sequencing/SclReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

SclParseResult parse(const std::string& text) {
    std::istringstream in(text);
    return parseSclFile(in);
}

double midiHz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

TEST(PitchScale, BuiltInDivisionsAroundTheReference) {
    PitchScaleManager manager;
    EXPECT_EQ(manager.scaleNames(),
              (std::vector<std::string>{"12 edo", "19 edo", "24 edo", "5 edo", "7 edo", "9 edo"}));
    for (int steps : {5, 7, 9, 12, 19, 24}) {
        const PitchScale* scale = manager.getScale(std::to_string(steps) + " edo");
        ASSERT_NE(scale, nullptr);
        ASSERT_EQ(scale->stepsPerOctave(), steps);
        EXPECT_FLOAT_EQ(scale->frequency(9, 0), 440.0f);
        EXPECT_FLOAT_EQ(scale->frequency(9 + steps, 0), 880.0f);
        EXPECT_FLOAT_EQ(scale->frequency(9 - steps, 0), 220.0f);
        EXPECT_FLOAT_EQ(scale->frequency(9, 1), 880.0f);
        // Degree 0 lies nine steps below the reference.
        EXPECT_NEAR(scale->frequency(0, 0), 440.0 * std::pow(2.0, -9.0 / steps), 1e-3);
        for (const auto& interval : scale->intervals)
            EXPECT_EQ(interval.name.empty(), steps != 12);
    }
}

TEST(PitchScale, TwelveToneDegreesMatchMidiNotesInEveryOctave) {
    PitchScaleManager manager;
    const PitchScale* scale = manager.getScale("12 edo");
    ASSERT_NE(scale, nullptr);
    EXPECT_NEAR(scale->frequency(0, 0), 261.6256, 1e-3);
    EXPECT_EQ(scale->intervals[1].name, "_minor second");
    EXPECT_EQ(scale->intervals[11].name, "major seventh");
    for (int degree = -30; degree <= 30; ++degree)
        for (int octave = -3; octave <= 3; ++octave)
            EXPECT_NEAR(scale->frequency(degree, octave), midiHz(60 + degree + 12 * octave),
                        midiHz(60 + degree + 12 * octave) * 1e-5)
                << degree << " " << octave;
    EXPECT_FLOAT_EQ(scale->frequency(-1, 0), scale->frequency(11, -1));
}

TEST(PitchScale, LookupIsExactAndNeverInserts) {
    PitchScaleManager manager;
    EXPECT_EQ(manager.getScale("12edo"), nullptr);
    EXPECT_EQ(manager.getScale(""), nullptr);
    EXPECT_EQ(manager.scaleNames().size(), 6u);
}

TEST(PitchScale, IntervalsRefuseNonFiniteAndNonPositiveRatiosAndDropTheOctave) {
    PitchScale scale;
    scale.setIntervals({1.0, 1.5, 2.0}, "x");
    ASSERT_EQ(scale.stepsPerOctave(), 2);
    EXPECT_FLOAT_EQ(scale.intervals[1].ratio, 1.5f);
    EXPECT_NEAR(scale.intervals[1].cents, 701.955f, 1e-2);
    scale.setIntervals({1.0, 2.001}, "x");
    EXPECT_EQ(scale.stepsPerOctave(), 2);  // not the octave: stays a degree
    scale.setIntervals({1.25, 1.0, -1.0, 0.0, INFINITY, NAN, 1e300}, "x");
    ASSERT_EQ(scale.stepsPerOctave(), 2);
    EXPECT_FLOAT_EQ(scale.intervals[0].ratio, 1.0f);
    EXPECT_FLOAT_EQ(scale.intervals[1].ratio, 1.25f);
    for (int d = -20; d < 20; ++d)
        EXPECT_TRUE(std::isfinite(scale.frequency(d, 0)));
    scale.setIntervals({}, "x");
    EXPECT_EQ(scale.frequency(3, 0), 0.0f);  // empty: silence, not a division by zero
}

TEST(PitchScale, AddScaleKeysByFileNameAndReplacesDegreesKeepingTheReference) {
    PitchScaleManager manager;
    ASSERT_TRUE(manager.addScale("/home/corvane/tunings/bp.scl", {1.0, 1.2, 1.5, 2.0}));
    const PitchScale* scale = manager.getScale("bp.scl");
    ASSERT_NE(scale, nullptr);
    EXPECT_EQ(scale->name, "/home/corvane/tunings/bp.scl");
    EXPECT_EQ(scale->stepsPerOctave(), 3);
    EXPECT_EQ(scale->referenceStep, 9);

    ASSERT_TRUE(manager.addScale("/other/bp.scl", {1.0, 1.1}));
    scale = manager.getScale("bp.scl");
    ASSERT_NE(scale, nullptr);
    EXPECT_EQ(scale->name, "/other/bp.scl");
    EXPECT_EQ(scale->stepsPerOctave(), 2);
    EXPECT_FLOAT_EQ(scale->referenceFrequency, 440.0f);
    EXPECT_EQ(manager.scaleNames().size(), 7u);

    ASSERT_TRUE(manager.addScale("plain.scl", {1.0}));
    EXPECT_NE(manager.getScale("plain.scl"), nullptr);
}

TEST(PitchScale, AddScaleRefusesALeftoverWithoutDegrees) {
    PitchScaleManager manager;
    std::string error;
    EXPECT_FALSE(manager.addScale("dir/octave.scl", {2.0}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(manager.addScale("dir/none.scl", {}, &error));
    EXPECT_EQ(manager.getScale("octave.scl"), nullptr);
    EXPECT_EQ(manager.getScale("none.scl"), nullptr);
    // A refused file leaves an earlier scale of that name untouched.
    ASSERT_TRUE(manager.addScale("a/s.scl", {1.0, 1.5}));
    EXPECT_FALSE(manager.addScale("b/s.scl", {2.0}));
    EXPECT_EQ(manager.getScale("s.scl")->stepsPerOctave(), 2);
    EXPECT_EQ(manager.getScale("s.scl")->name, "a/s.scl");
}

TEST(SclReader, TwelveToneFileInCentsRegistersTwelveDegrees) {
    std::string text = "! 12tet.scl\n!\n12 tone equal temperament\n 12\n!\n";
    for (int i = 1; i <= 12; ++i)
        text += " " + std::to_string(i * 100) + ".0\n";
    SclParseResult result = parse(text);
    ASSERT_TRUE(result.ok()) << result.error;
    ASSERT_EQ(result.ratios.size(), 13u);
    EXPECT_EQ(result.ratios[0], 1.0);
    EXPECT_NEAR(result.ratios[12], 2.0, 1e-12);
    EXPECT_NEAR(result.ratios[7], std::pow(2.0, 7.0 / 12.0), 1e-12);
    PitchScaleManager manager;
    ASSERT_TRUE(manager.addScale("12tet.scl", result.ratios));
    const PitchScale* scale = manager.getScale("12tet.scl");
    ASSERT_EQ(scale->stepsPerOctave(), 12);
    EXPECT_NEAR(scale->frequency(0, 0), 261.6256, 1e-3);
}

TEST(SclReader, RealWorldShapedLinesParse) {
    // Windows line ends, tabs, trailing comments, a ratio, whole numbers, a
    // count that does not match, comment lines between pitches.
    const std::string text =
        "! just.scl\r\n"
        "Just intonation: 5-limit\r\n"
        "\t7\t! count is wrong\r\n"
        "  \t \r\n"
        "5/4 ! major third\r\n"
        "   ! indented comment\r\n"
        "\t3/2\tfifth\r\n"
        "-3\r\n"
        "-3.0 cents down\r\n"
        "word\r\n"
        "2\r\n";
    SclParseResult result = parse(text);
    ASSERT_TRUE(result.ok()) << result.error;
    ASSERT_EQ(result.ratios.size(), 5u);
    EXPECT_EQ(result.ratios[1], 1.25);
    EXPECT_EQ(result.ratios[2], 1.5);
    EXPECT_NEAR(result.ratios[3], std::pow(2.0, -3.0 / 1200.0), 1e-12);
    EXPECT_EQ(result.ratios[4], 2.0);
    // LF and CRLF read the same.
    std::string lf = text;
    for (size_t p; (p = lf.find('\r')) != std::string::npos;)
        lf.erase(p, 1);
    EXPECT_EQ(parse(lf).ratios, result.ratios);
    // Registered: 1.0, a degree just below it, 1.25, 1.5 (the octave dropped).
    PitchScaleManager manager;
    ASSERT_TRUE(manager.addScale("just.scl", result.ratios));
    const PitchScale* scale = manager.getScale("just.scl");
    ASSERT_EQ(scale->stepsPerOctave(), 4);
    EXPECT_LT(scale->intervals[0].ratio, 1.0f);
}

TEST(SclReader, BadNumbersAndUnplayableRatiosAreErrorsWithAMessage) {
    const char* head = "desc\n2\n";
    struct Case {
        const char* pitches;
        const char* why;
    } cases[] = {
        {"3/0\n", "zero denominator"},
        {"0/5\n", "zero ratio"},
        {"-3/2\n", "negative ratio"},
        {"3/-2\n", "negative denominator"},
        {"0\n", "zero whole number"},
        {"1000000.0\n", "cents beyond float"},
        {"-1000000.0\n", "cents below float"},
        {"1e400.\n", "cents beyond double"},
        {"nan.\n", "not a number"},
        {"abc.def\n", "letters with a point"},
        {"x/2\n", "letters in a ratio"},
        {"99999999999\n", "whole number out of range"},
        {"3/2\n5/\n", "empty denominator"},
    };
    for (const Case& c : cases) {
        SclParseResult result = parse(std::string(head) + c.pitches);
        EXPECT_FALSE(result.ok()) << c.why;
        EXPECT_TRUE(result.ratios.empty()) << c.why;
        EXPECT_NE(result.error.find("line"), std::string::npos) << c.why << ": " << result.error;
    }
    SclParseResult letters = parse("desc\nseven\n3/2\n");
    EXPECT_FALSE(letters.ok());
    EXPECT_NE(letters.error.find("line 2"), std::string::npos) << letters.error;
}

TEST(SclReader, FilesWithoutIntervalsAreRefused) {
    EXPECT_FALSE(parse("").ok());
    EXPECT_FALSE(parse("! only comments\n\n").ok());
    EXPECT_FALSE(parse("description only\n").ok());
    EXPECT_FALSE(parse("desc\n0\n").ok());
    EXPECT_FALSE(parse("desc\n1\nword\n").ok());
    SclParseResult octave = parse("desc\n1\n2/1\n");
    ASSERT_TRUE(octave.ok());
    PitchScaleManager manager;
    ASSERT_TRUE(manager.addScale("o.scl", octave.ratios));
    EXPECT_EQ(manager.getScale("o.scl")->stepsPerOctave(), 1);  // the unison alone
}

TEST(SclReader, GarbageNeverCrashes) {
    std::string garbage;
    uint32_t x = 12345;
    for (int round = 0; round < 300; ++round) {
        garbage.clear();
        for (int i = 0; i < 200; ++i) {
            x = x * 1664525u + 1013904223u;
            const char alphabet[] = "0123456789./-! \t\r\nab+e";
            garbage += alphabet[(x >> 24) % (sizeof(alphabet) - 1)];
        }
        SclParseResult result = parse(garbage);
        if (result.ok()) {
            ASSERT_GE(result.ratios.size(), 2u);
            for (double r : result.ratios)
                ASSERT_TRUE(std::isfinite(float(r)) && float(r) > 0.0f);
        }
    }
}

}  // namespace
