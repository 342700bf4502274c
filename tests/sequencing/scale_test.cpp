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

TEST(PitchScale, BuiltInDivisionsAroundTheReferenceAndAcrossOctaves) {
    PitchScaleManager manager;
    EXPECT_EQ(manager.scaleNames(), (std::vector<std::string>{"12 edo", "19 edo", "24 edo", "5 edo", "7 edo", "9 edo"}));
    EXPECT_EQ(manager.getScale("12edo"), nullptr);
    for (int n : {5, 7, 9, 12, 19, 24}) {
        const PitchScale* s = manager.getScale(std::to_string(n) + " edo");
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->stepsPerOctave(), n);
        EXPECT_FLOAT_EQ(s->frequency(9, 0), 440.0f);
        EXPECT_FLOAT_EQ(s->frequency(9 + n, 0), 880.0f);
        EXPECT_FLOAT_EQ(s->frequency(9 - n, 0), 220.0f);
        EXPECT_NEAR(s->frequency(0, 1), 880.0 * std::pow(2.0, -9.0 / n), 1e-3);
        EXPECT_EQ(s->intervals[1].name.empty(), n != 12);
    }
    // 12 edo against MIDI note frequencies, degree 0 of octave 0 being note 60.
    const PitchScale* s = manager.getScale("12 edo");
    for (int degree = -30; degree <= 30; degree += 7)
        for (int octave = -3; octave <= 3; ++octave) {
            const double hz = 440.0 * std::pow(2.0, (60 + degree + 12 * octave - 69) / 12.0);
            EXPECT_NEAR(s->frequency(degree, octave), hz, hz * 1e-5);
        }
    EXPECT_FLOAT_EQ(s->frequency(-1, 0), s->frequency(11, -1));
    EXPECT_EQ(s->intervals[11].name, "major seventh");
}

TEST(PitchScale, OnlyFinitePositiveRatiosBecomeDegreesAndTheOctaveIsDropped) {
    PitchScale scale;
    scale.setIntervals({1.25, 1.0, -1.0, 0.0, INFINITY, NAN, 1e300, 2.0}, "x");
    ASSERT_EQ(scale.stepsPerOctave(), 2);
    EXPECT_FLOAT_EQ(scale.intervals[1].ratio, 1.25f);
    EXPECT_NEAR(scale.intervals[1].cents, 386.31f, 1e-2);
    scale.setIntervals({1.0, 2.001}, "x");
    EXPECT_EQ(scale.stepsPerOctave(), 2);
    scale.setIntervals({}, "x");
    EXPECT_EQ(scale.frequency(3, 0), 0.0f);  // silence, not a division by zero
}

TEST(PitchScale, FileScalesKeyedByFileNameReplaceDegreesAndRefuseEmptyOnes) {
    PitchScaleManager manager;
    ASSERT_TRUE(manager.addScale("/home/corvane/tunings/bp.scl", {1.0, 1.2, 1.5, 2.0}));
    ASSERT_EQ(manager.getScale("bp.scl")->stepsPerOctave(), 3);
    ASSERT_TRUE(manager.addScale("/other/bp.scl", {1.0, 1.1}));
    const PitchScale* s = manager.getScale("bp.scl");
    EXPECT_EQ(s->name, "/other/bp.scl");
    EXPECT_EQ(s->stepsPerOctave(), 2);
    EXPECT_EQ(s->referenceStep, 9);
    std::string error;
    EXPECT_FALSE(manager.addScale("c/bp.scl", {2.0}, &error));  // nothing left but the octave
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(manager.addScale("none.scl", {}));
    EXPECT_EQ(manager.getScale("none.scl"), nullptr);
    EXPECT_EQ(manager.getScale("bp.scl")->name, "/other/bp.scl");
}

TEST(SclReader, RealWorldShapedFilesParse) {
    std::string cents = "! 12tet.scl\n!\n12 tone equal temperament\n 12\n";
    for (int i = 1; i <= 12; ++i)
        cents += " " + std::to_string(i * 100) + ".0\n";
    SclParseResult tet = parse(cents);
    ASSERT_TRUE(tet.ok()) << tet.error;
    ASSERT_EQ(tet.ratios.size(), 13u);
    EXPECT_NEAR(tet.ratios[12], 2.0, 1e-12);
    PitchScaleManager manager;
    ASSERT_TRUE(manager.addScale("12tet.scl", tet.ratios));
    EXPECT_NEAR(manager.getScale("12tet.scl")->frequency(0, 0), 261.6256, 1e-3);

    // CRLF, tabs, trailing comments, a wrong count, comment lines between
    // pitches, a negative whole number (ignored), negative cents, words.
    const std::string just =
        "! just.scl\r\nJust intonation\r\n\t7\t! count is wrong\r\n  \t \r\n5/4 ! major third\r\n"
        "   ! indented comment\r\n\t3/2\tfifth\r\n-3\r\n-3.0 cents down\r\nword\r\n2\r\n";
    SclParseResult result = parse(just);
    ASSERT_TRUE(result.ok()) << result.error;
    const std::vector<double> expected = {1.0, 1.25, 1.5, std::pow(2.0, -3.0 / 1200.0), 2.0};
    ASSERT_EQ(result.ratios.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(result.ratios[i], expected[i], 1e-12);
    std::string lf = just;
    std::erase(lf, '\r');
    EXPECT_EQ(parse(lf).ratios, result.ratios);
}

TEST(SclReader, UnreadableOrUnplayableFilesAreErrorsNamingTheLine) {
    for (const char* pitch : {"3/0", "0/5", "-3/2", "3/-2", "0", "1000000.0", "-1000000.0", "1e400.", "nan.",
                              "abc.def", "x/2", "99999999999", "5/",
                              "151502.0", "-12000.1", "1025", "1/1025", "2049/2"}) {
        SclParseResult result = parse(std::string("desc\n2\n3/2\n") + pitch + "\n");
        EXPECT_FALSE(result.ok()) << pitch;
        EXPECT_TRUE(result.ratios.empty()) << pitch;
        EXPECT_NE(result.error.find("line 4"), std::string::npos) << pitch << ": " << result.error;
    }
    EXPECT_NE(parse("desc\nseven\n3/2\n").error.find("line 2"), std::string::npos);
    // No intervals at all: refused, so no scale has zero steps per octave.
    for (const char* empty : {"", "! only comments\n\n", "description only\n", "desc\n0\n", "desc\n1\nword\n"})
        EXPECT_FALSE(parse(empty).ok()) << empty;
    EXPECT_TRUE(parse("desc\n1\n2/1\n").ok());
    EXPECT_TRUE(parse("desc\n2\n1024\n-12000.0\n").ok());  // exactly ten octaves either way
}

}  // namespace
