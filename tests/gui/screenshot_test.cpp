#include "gui/FontGlyphs.h"
#include "gui/MonoGFX.h"
#include "gui/Screenshot.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include "tests/support/Shell.h"

#include "tests/support/TempDir.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}


// Values of a plain grey map after its header (P2, comment, size, maximum).
std::vector<int> plainValues(const std::string& text, int* width, int* height, int* maxval) {
    std::istringstream in(text);
    std::string magic;
    in >> magic;
    EXPECT_EQ(magic, "P2");
    std::string token;
    std::vector<int> numbers;
    while (in >> token) {
        if (token[0] == '#') {
            std::string rest;
            std::getline(in, rest);
            continue;
        }
        numbers.push_back(std::stoi(token));
    }
    if (numbers.size() < 3)
        return {};
    *width = numbers[0], *height = numbers[1], *maxval = numbers[2];
    return {numbers.begin() + 3, numbers.end()};
}

class Screenshot : public ::testing::Test {
protected:
    void SetUp() override {
        root = testsupport::tempDir() + "shot-root";
        ASSERT_TRUE(host::setRoot(root));
        file = root + "/screenshot.pgm";
        std::remove(file.c_str());
        gfx.init(256, 64);
    }
    std::string root, file;
    MonoGFX gfx;
};

TEST_F(Screenshot, FramedBlackImageHasTheRingOfGreySix) {
    ASSERT_TRUE(saveScreenshot("/home/corvane/", gfx.framebuffer(), true));
    const std::string text = readAll(file);
    EXPECT_EQ(text.rfind("P2\n#\n272 80 \n15\n", 0), 0u) << text.substr(0, 40);
    int w = 0, h = 0, maxval = 0;
    const auto values = plainValues(text, &w, &h, &maxval);
    ASSERT_EQ(values.size(), 272u * 80u);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 272; ++x)
            ASSERT_EQ(values[y * 272 + x], x == 0 || y == 0 || x == 271 || y == 79 ? 6 : 0) << x << "," << y;
    // Four header lines, 64 image lines (the first carrying the top border)
    // and 8 of the bottom border; every value but the maximum is followed by
    // a space.
    size_t lines = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && ++lines >= 3 && lines != 4) {
            EXPECT_EQ(text[i - 1], ' ');
        }
    }
    EXPECT_EQ(lines, 4u + 64u + 8u);

    gfx.setColour(15);
    gfx.setPixel(0, 0);
    ASSERT_TRUE(saveScreenshot("/home/corvane/", gfx.framebuffer(), false));
    EXPECT_EQ(readAll(file).rfind("P2\n#\n256 64 \n15\n15 0 ", 0), 0u);
}

TEST_F(Screenshot, NetpbmReadsBackWhatTheSurfaceShows) {
    gfx.setFont(&font_default, 1, 0);
    gfx.drawText(4, 4, "Corvane 0123");
    gfx.setFont(&font_compact, 2, 0);
    gfx.drawText(4, 20, "<~> abc");
    gfx.drawIcon(200, 4, 7);
    gfx.setColour(9);
    gfx.fillCircle(230, 45, 12);
    gfx.drawMessageBox("Saved", 1, 0, 2);
    ASSERT_TRUE(saveScreenshot("/home/corvane/", gfx.framebuffer(), true));

    const std::string info = testsupport::shellOutput("pamfile '" + file + "' 2>&1");
    EXPECT_NE(info.find("272 by 80"), std::string::npos) << info;
    EXPECT_NE(info.find("maxval 15"), std::string::npos) << info;

    // Through PNG and back as netpbm writes it.
    const std::string png = root + "/screenshot.png";
    ASSERT_EQ(std::system(("pnmtopng '" + file + "' > '" + png + "'").c_str()), 0);
    const std::string back = testsupport::shellOutput("pngtopnm '" + png + "' | pnmtoplainpnm");
    int w = 0, h = 0, maxval = 0;
    const auto values = plainValues(back, &w, &h, &maxval);
    ASSERT_EQ(w, 272);
    ASSERT_EQ(h, 80);
    ASSERT_EQ(values.size(), 272u * 80u);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(uint32_t(values[(y + 8) * 272 + x + 8] * 15 / maxval), gfx.pixel(x, y)) << x << "," << y;
}

TEST_F(Screenshot, FailuresAreReportedAndKeepTheLastPicture) {
    EXPECT_FALSE(saveScreenshot("/home/corvane/no such folder/", gfx.framebuffer(), true));
    EXPECT_NE(access((root + "/no such folder").c_str(), F_OK), 0);

    // A good picture, then a write that fails on a full device.
    ASSERT_TRUE(saveScreenshot("/home/corvane/", gfx.framebuffer(), false));
    const std::string good = readAll(file);
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    const std::string partial = file + ".part";
    ASSERT_EQ(symlink("/dev/full", partial.c_str()), 0);
    gfx.fillRect(0, 0, 255, 63);
    EXPECT_FALSE(saveScreenshot("/home/corvane/", gfx.framebuffer(), false));
    EXPECT_EQ(readAll(file), good);
    EXPECT_NE(access(partial.c_str(), F_OK), 0);
}

}  // namespace
