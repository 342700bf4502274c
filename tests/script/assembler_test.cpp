// Assembly text to instructions.
#include "tests/script/ScriptHarness.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace CorvaneVM;
using scripttest::Capture;

namespace {

struct Assembled {
    bool ok;
    Program program;
    std::string diag;
};

Assembled assemble(const std::string& text) {
    Assembled r;
    Capture diag;
    r.program.diagOut = diag.get();
    r.program.listingOut = nullptr;
    std::istringstream in(text);
    r.ok = r.program.assemble(in);
    r.diag = diag.text();
    return r;
}

Instruction ins(uint32_t op, uint8_t a, uint8_t b, uint8_t c) { return Instruction{op, a, b, c, 0}; }

TEST(Assembler, EveryOpcodeRoundTrips) {
    for (uint32_t i = 0; i < kMnemonicCount; ++i) {
        const std::string name(kMnemonics[i].name);
        const uint32_t op = kMnemonics[i].value;
        std::string line;
        Instruction expected;
        switch (op) {
        case OP_HALT:
        case OP_RET: line = name + " "; expected = ins(op, 0, 0, 0); break;
        case OP_JMP: line = name + " T"; expected = ins(op, 0x80, 0x02, 0); break;
        case OP_CALL: line = name + " T"; expected = ins(op, 0, 0, 130); break;
        case OP_BZ:
        case OP_BNZ: line = name + " 9 T"; expected = ins(op, 9, 0x80, 0x02); break;
        case OP_SXPOP: line = name + " 200"; expected = ins(op, 200, 0, 0); break;
        case OP_SREAD:
        case OP_SWRITE:
        case OP_LDI:
        case OP_LDIH: line = name + " 4 -2"; expected = ins(op, 4, 0xFF, 0xFE); break;
        default: line = name + " 15 7 3"; expected = ins(op, 15, 7, 3); break;
        }
        Assembled r = assemble("start:\n\t" + line + "\n\thalt \nT:\n\thalt \n");
        ASSERT_TRUE(r.ok) << line << ": " << r.diag;
        ASSERT_EQ(r.program.instructions.size(), 3u);
        EXPECT_EQ(r.program.instructions[0], expected) << line;
        EXPECT_TRUE(r.program.valid);
    }
}

TEST(Assembler, CompilerOutputAndDocumentedExamples) {
    Assembled r = assemble("start:\n\tldi 0 2\n\tprint 0 0\n");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.program.findLabel("start"), 0);
    EXPECT_EQ(r.program.findLabel("nowhere"), -1);
    EXPECT_EQ(r.program.instructions[0], ins(25, 0, 0, 2));
    EXPECT_EQ(r.program.instructions[1], ins(5, 0, 0, 0));

    Assembled loop = assemble("L0:\n\tbz 1 L1\n\tjmp L0\nL1:\n");
    ASSERT_TRUE(loop.ok);
    EXPECT_EQ(loop.program.instructions[0], ins(OP_BZ, 1, 128, 2));
    EXPECT_EQ(loop.program.instructions[1], ins(OP_JMP, 127, 255, 0));
}

TEST(Assembler, LineForms) {
    // Carriage returns, comments, labels with text after them, forward references.
    Assembled crlf = assemble("start:\r\n\tldi 0 1\r\n\tjmp E\r\nE:\r\n");
    Assembled lf = assemble("start:\n\tldi 0 1\n\tjmp E\nE:\n");
    ASSERT_TRUE(crlf.ok);
    EXPECT_EQ(crlf.program.instructions, lf.program.instructions);

    Assembled mixed = assemble("; a comment\nL3:   halt\n   \n\tadd 1 2 3 ; comment\nnonsense 1 2\n\tspush 3\n");
    ASSERT_TRUE(mixed.ok) << mixed.diag;
    EXPECT_EQ(mixed.program.findLabel("L3"), 0);
    ASSERT_EQ(mixed.program.instructions.size(), 2u);
    EXPECT_EQ(mixed.program.instructions[0], ins(OP_ADD, 1, 2, 3));
    EXPECT_EQ(mixed.program.instructions[1], ins(OP_SPUSH, 3, 0, 0));

    Assembled neg = assemble("\tldi 0 -1\n\tldih 0 -1\n\tprint 1 4\n");
    EXPECT_EQ(neg.program.instructions[0], ins(OP_LDI, 0, 255, 255));
    EXPECT_EQ(neg.program.instructions[1], ins(OP_LDIH, 0, 255, 255));
    EXPECT_EQ(neg.program.instructions[2], ins(OP_PRINT, 1, 4, 0));

    Assembled warn = assemble("\tjmp N\nN:\n\tjmp N\n");
    EXPECT_TRUE(warn.ok);
    EXPECT_EQ(warn.diag,
              "Warning: PC offset to label [N] equals to 1 (line 1)\n"
              "Warning: PC offset to label [N] equals to 0 (line 3)\n");
}

TEST(Assembler, BadLinesFailWithTheirMessage) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"\tldi 16 0\n", "Register out of range: 16 (on line 1)\n"},
        {"\tnop\n\tadd 1 2 -1\n", "Register out of range: -1 (on line 2)\n"},
        {"\tjmp nowhere\n", "Could not locate label [nowhere] (line 1)\nPC offset out of range: -99999 (line 1)\n"},
        {"A:\nA:\n", "Label already defined at line 2\n"},
        {"\tldi 0 x+\n", "Invalid number: x+ (line 1)\n"},
        {"\tldi 0 -\n", "Invalid number: - (line 1)\n"},
        {"\tldi 0 99999999999999999999999\n", "Invalid number: 99999999999999999999999 (line 1)\n"},
        {"\tldi 0 70000\n", "Operand out of range: 70000 (line 1)\n"},
        {"\tsxpop 256\n", "Operand out of range: 256 (line 1)\n"},
        {"\tjmp 40000\n", "PC offset out of range: 40000 (line 1)\n"},
        {"\tcall 200\n", "PC offset out of range: 200 (line 1)\n"},
    };
    for (const Case& c : cases) {
        Assembled r = assemble(c.text);
        EXPECT_FALSE(r.ok) << c.text;
        EXPECT_FALSE(r.program.valid);
        EXPECT_EQ(r.diag, c.message) << c.text;
    }
}

TEST(Assembler, ListingAndFiles) {
    Capture listing;
    Program program;
    program.listingOut = listing.get();
    program.line = 7;
    program.index = 0;
    ASSERT_TRUE(program.assembleLine("\tadd 1 2 3", true, false, true));
    EXPECT_EQ(listing.text(), "    7   add 1 2 3            OP     |     0 add     1   2   3   \n");

    std::string path = testsupport::tempDir() + "prog.asm";
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("start:\n\tldi 0 1\n", f);
    std::fclose(f);
    Program fromFile;
    EXPECT_TRUE(fromFile.assembleFile(path));
    EXPECT_EQ(fromFile.instructions.size(), 1u);
    EXPECT_FALSE(fromFile.assembleFile(path + ".missing"));
}

}  // namespace
