// The register machine run on hand-written programs.
#include "tests/script/ScriptHarness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

using namespace CorvaneVM;
using scripttest::Capture;

namespace {

struct Machine {
    Program program;
    Cpu cpu{false, true};
    Capture printed, diag;
    RunResult result;

    explicit Machine(const std::string& text, bool trap = true) {
        cpu.trapBranchToSelf = trap;
        cpu.printOut = printed.get();
        cpu.diagOut = diag.get();
        program.diagOut = nullptr;
        std::istringstream in(text);
        EXPECT_TRUE(program.assemble(in)) << text;
        cpu.loadProgram(&program);
        result = cpu.execute();
        cpu.report(result);
    }
    int32_t reg(int r) const { return static_cast<int32_t>(cpu.registers[r]); }
    float freg(int r) const {
        float f;
        std::memcpy(&f, &cpu.registers[r], sizeof f);
        return f;
    }
};

TEST(Cpu, PrintsAndHandsBackValues) {
    Machine m("\tldi 0 2\n\tprint 0 0\n");
    EXPECT_EQ(m.result.error, RTE_END_OF_PROGRAM);
    EXPECT_EQ(m.printed.text(), "PRINT 2 (int)\n");
    EXPECT_EQ(m.cpu.printedText, "2");
    EXPECT_EQ(m.diag.text(), "CPU: End of program reached [2: print]\n");

    Machine b("\tldi 3 7\n\tprint 2 3\n");
    EXPECT_EQ(b.printed.text(), "PRINT true (bool)\n");
    EXPECT_EQ(b.cpu.printedText, "1");
    Machine f("\tldi 1 0\n\tldih 1 16480\n\tprint 1 1\n\tprint 5 1\n\tprint 9 1\n");
    EXPECT_EQ(f.printed.text(), "PRINT 3.500000 (float)\nPRINT (string not supported yet)\n");
    EXPECT_EQ(f.cpu.printedText, "3.500000");
}

TEST(Cpu, RuntimeErrorsStopWithTheirCodeAndText) {
    Machine div("\tldi 0 1\n\tldi 1 0\n\tdiv 0 0 1\n");
    EXPECT_EQ(div.result.error, RTE_DIVISION_BY_ZERO);
    EXPECT_EQ(div.result.pc, 2u);
    EXPECT_EQ(div.diag.text(), "CPU: Division by 0 [2: div]\n");
    Machine fdiv("\tldi 1 0\n\tldih 1 -32768\n\tfdiv 0 0 1\n");  // -0.0
    EXPECT_EQ(fdiv.result.error, RTE_DIVISION_BY_ZERO);

    std::string pushes;
    for (int i = 0; i < 257; ++i) pushes += "\tspush 0\n";
    Machine full(pushes);
    EXPECT_EQ(full.result.error, RTE_STACK_FULL);
    EXPECT_EQ(full.result.pc, 256u);
    EXPECT_EQ(full.cpu.stackSize, 256u);

    Machine read("\tldi 0 5\n\tsread 0 0\n");
    EXPECT_EQ(read.result.error, RTE_INVALID_ADDRESS);
    EXPECT_EQ(read.reg(0), 0);
    Machine write("\tswrite 0 0\n");
    EXPECT_EQ(write.result.error, RTE_INVALID_ADDRESS);
    Machine srdr("\tspush 0\n\tldi 1 1\n\tsrdr 0 1\n");
    EXPECT_EQ(srdr.result.error, RTE_INVALID_ADDRESS);

    Machine pop("\tldi 3 9\n\tspop 3\n");
    EXPECT_EQ(pop.result.error, RTE_END_OF_PROGRAM);
    EXPECT_EQ(pop.reg(3), 0);

    Machine self("\tjmp 0\n");
    EXPECT_EQ(self.result.error, RTE_BRANCH_TO_SELF);
    EXPECT_EQ(self.diag.text(), "CPU: Branch to self encountered [0: jmp]\n");
    Machine back("\tldi 0 0\n\tldi 1 0\n\tbz 0 -5\n");
    EXPECT_EQ(back.result.error, RTE_PC_OUT_OF_RANGE);
    Machine halt("\thalt \n\tldi 0 1\n");
    EXPECT_EQ(halt.result.error, RTE_HALT);
    EXPECT_EQ(halt.reg(0), 0);
    Machine ret("\tret \n");
    EXPECT_EQ(ret.result.error, RTE_PC_OUT_OF_RANGE);
}

TEST(Cpu, RunStatesAndLabels) {
    Program empty;
    std::istringstream none("");
    ASSERT_TRUE(empty.assemble(none));
    Capture diag;
    Cpu cpu;
    cpu.diagOut = diag.get();
    cpu.loadProgram(&empty);
    EXPECT_EQ(cpu.execute().error, RTE_PROGRAM_EMPTY);
    cpu.loadProgram(nullptr);
    EXPECT_EQ(cpu.execute().error, RTE_PROGRAM_INVALID);
    EXPECT_FALSE(cpu.run());
    EXPECT_NE(diag.text().find("Program not valid\n"), std::string::npos);

    Program p;
    std::istringstream text("\tldi 0 1\n\thalt \nsecond:\n\tldi 0 2\n");
    ASSERT_TRUE(p.assemble(text));
    cpu.loadProgram(&p);
    EXPECT_TRUE(cpu.run());
    EXPECT_EQ(cpu.registers[0], 1u);
    EXPECT_TRUE(cpu.runFrom("second"));
    EXPECT_EQ(cpu.registers[0], 2u);
    // The pc now sits on the end: running again meets an empty instruction.
    EXPECT_FALSE(cpu.run());
    EXPECT_EQ(cpu.error, RTE_INVALID_INSTRUCTION);
    EXPECT_FALSE(cpu.runFrom("missing"));
    EXPECT_NE(diag.text().find("CPU: Label/function not found in program [0: ]\n"), std::string::npos);

    Capture printed;
    Cpu verbose(true, false);
    verbose.printOut = printed.get();
    verbose.loadProgram(&p);
    verbose.printRegisters();
    EXPECT_EQ(printed.text().substr(0, 51), "Loaded program (3 instructions)\nregist  0 00000000 ");
}

TEST(Cpu, ArithmeticAtTheEdges) {
    Machine m("\tldi 0 65535\n\tldih 0 65535\n"                    // R0 = -1
              "\tldi 1 0\n\tldih 1 -32768\n"                      // R1 = INT32_MIN
              "\tdiv 2 1 0\n"                                     // INT32_MIN / -1 wraps
              "\tmov 3 1\n\tdec 3\n"                              // wraps to INT32_MAX
              "\tmov 4 1\n\tneg 4\n"                              // stays INT32_MIN
              "\tldi 5 1\n\tldih 5 256\n\titof 5\n"               // 16777217 -> 16777216.0
              "\tldi 6 0\n\tldih 6 20352\n\tftoi 6\n"             // 1e10f saturates
              "\tldi 7 0\n\tldih 7 32704\n\tftoi 7\n"             // NaN gives 0
              "\tldi 8 7\n\tldi 9 2\n\tneg 8\n\tdiv 8 8 9\n"      // -7 / 2 = -3
              "\tmul 10 1 0\n"                                    // wraps
              "\tcf< 11 7 7\n"                                    // NaN compares false
              "\tldi 12 5\n\tnot 12\n\tldi 13 0\n\tnot 13\n");
    EXPECT_EQ(m.result.error, RTE_END_OF_PROGRAM);
    EXPECT_EQ(m.reg(0), -1);
    EXPECT_EQ(m.reg(2), INT32_MIN);
    EXPECT_EQ(m.reg(3), INT32_MAX);
    EXPECT_EQ(m.reg(4), INT32_MIN);
    EXPECT_EQ(m.freg(5), 16777216.0f);
    EXPECT_EQ(m.reg(6), INT32_MAX);
    EXPECT_EQ(m.reg(7), 0);
    EXPECT_EQ(m.reg(8), -3);
    EXPECT_EQ(m.reg(10), INT32_MIN);
    EXPECT_EQ(m.reg(11), 0);
    EXPECT_EQ(m.reg(12), 0);
    EXPECT_EQ(m.reg(13), 1);
}

TEST(Cpu, StackCallsAndLoops) {
    Machine s("\tldi 0 1\n\tspush 0\n\tldi 0 2\n\tspush 0\n\tldi 0 3\n\tspush 0\n"
              "\tsread 1 2\n\tldi 2 9\n\tswrite 2 0\n\tspop 3\n\tsxpop 9\n\tspop 4\n");
    EXPECT_EQ(s.reg(1), 1);
    EXPECT_EQ(s.reg(3), 9);
    EXPECT_EQ(s.cpu.stackSize, 0u);

    Machine call("\tcall F\n\tjmp E\nF:\n\tldi 0 42\n\tret \nE:\n");
    EXPECT_EQ(call.result.error, RTE_END_OF_PROGRAM);
    EXPECT_EQ(call.reg(0), 42);
    EXPECT_EQ(call.cpu.callDepth, 0u);

    // A loop that never ends is stopped by the budget.
    Machine forever("L:\n\tjmp L\n", false);
    EXPECT_EQ(forever.result.error, RTE_INSTRUCTION_BUDGET);
    EXPECT_EQ(forever.diag.text(), "CPU: Instruction budget used up [0: jmp]\n");
    Machine recursion("F:\n\tcall F\n", false);
    EXPECT_EQ(recursion.result.error, RTE_INSTRUCTION_BUDGET);
    EXPECT_EQ(recursion.cpu.callDepth, 16u);
}

TEST(Cpu, ArrayPrintIsBoundedByTheStack) {
    Machine m("\tldi 0 2\n\tspush 0\n\tldi 0 1\n\tspush 0\n\tldi 0 2\n\tspush 0\n"  // length 2, elements 1 2
              "\tldi 1 0\n\tldih 1 16256\n\tspush 1\n"                               // 1.0 on top
              "\tldi 0 3\n\tprint 3 0\n"
              "\tldi 0 0\n\tprint 4 0\n"                                              // length 1.0's bits: huge n
              "\tldi 0 77\n\tprint 3 0\n");
    EXPECT_EQ(m.result.error, RTE_END_OF_PROGRAM);
    std::string out = m.printed.text();
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "PRINT [ 1 2 ] (int array with 2 units) \n");
    EXPECT_NE(out.find("(float array with 1065353216 units) \n"), std::string::npos);
    EXPECT_NE(out.find("PRINT [ ] (int array with 0 units) \n"), std::string::npos);
    EXPECT_LT(out.size(), 4000u);
}

}  // namespace
