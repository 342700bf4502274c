// Whole programs through compiler, assembler and machine, by feature.
#include "tests/script/ScriptHarness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace CorvaneVM;
using scripttest::Outcome;
using scripttest::runSource;

namespace {

// The lines the machine printed ("PRINT ..."), without the load message.
std::string printedBy(const std::string& source, bool divisionAsFloat = false) {
    Outcome o = runSource(source, divisionAsFloat);
    EXPECT_TRUE(o.ran) << source << "\n" << o.compileErrors << o.assembleErrors << o.report;
    std::string out = o.printed;
    if (out.rfind("Loaded program", 0) == 0) out.erase(0, out.find('\n') + 1);
    return out;
}

// The value handed to the caller for a one-expression program, as the numpad runs it.
std::string value(const std::string& expression, bool divisionAsFloat = true) {
    Outcome o = runSource("print(" + expression + ");", divisionAsFloat);
    EXPECT_TRUE(o.ran) << expression << "\n" << o.compileErrors << o.report;
    return o.printedText;
}

TEST(Language, PrecedenceAndAssociativity) {
    EXPECT_EQ(value("2+3*4", false), "14");
    EXPECT_EQ(value("(2+3)*4", false), "20");
    EXPECT_EQ(value("10-4-3", false), "3");
    EXPECT_EQ(value("100/10/5", false), "2");
    EXPECT_EQ(value("7/2", false), "3");
    EXPECT_EQ(value("7/2"), "3.500000");
    EXPECT_EQ(value("-2*-3", false), "6");
    EXPECT_EQ(value("1+2 == 3", false), "1");
    EXPECT_EQ(value("1 < 2 == 2 < 1", false), "0");
    EXPECT_EQ(value("2+3.5"), "5.500000");
    EXPECT_EQ(value("1.5*4 - 0.25"), "5.750000");
    EXPECT_EQ(value("70000*3", false), "210000");
    EXPECT_EQ(value("2147483647+1", false), "-2147483648");
}

TEST(Language, TypesCastsAndComparisons) {
    EXPECT_EQ(printedBy("print(true); print(false); print(1.0 >= 1); print(2 != 2);"),
              "PRINT true (bool)\nPRINT false (bool)\nPRINT true (bool)\nPRINT false (bool)\n");
    EXPECT_EQ(printedBy("int i = 3.9; float f = 2; print(i); print(f);"), "PRINT 3 (int)\nPRINT 2.000000 (float)\n");
    EXPECT_EQ(printedBy("float f = 0 - 2.5; int i = f; print(i);"), "PRINT -2 (int)\n");
    EXPECT_EQ(printedBy("print(!0); print(!7); print(!0.0); print(!2.5); print(-2.5);"),
              "PRINT 1 (int)\nPRINT 0 (int)\nPRINT 1.000000 (float)\nPRINT 0.000000 (float)\nPRINT -2.500000 (float)\n");
    EXPECT_EQ(value("true and false", false), "0");
    EXPECT_EQ(value("0 and 5", false), "0");  // the tested value, not a stale register
    EXPECT_EQ(value("3 or 0", false), "3");
    EXPECT_EQ(value("0 or 4", false), "4");
    EXPECT_EQ(value("1 and 2 and 3", false), "3");
    EXPECT_EQ(value("0 or 0 or 9", false), "9");
    EXPECT_EQ(value("1 && 0 || 1", false), "1");
}

TEST(Language, Variables) {
    EXPECT_EQ(printedBy("int a = 2; int c = a + 1; int b; b = a * c; print(b); { int a = 7; print(a + b); } print(a);"),
              "PRINT 6 (int)\nPRINT 13 (int)\nPRINT 2 (int)\n");
    // An assignment is a value, and keeps its register while it is one.
    EXPECT_EQ(printedBy("int x; print((x = 1) + 2); print(x);"), "PRINT 3 (int)\nPRINT 1 (int)\n");
    // Assigning an int to a float variable stores the float.
    EXPECT_EQ(printedBy("float f; f = 3; print(f);"), "PRINT 3.000000 (float)\n");
    EXPECT_EQ(printedBy("int a; int b; a = b = 4; print(a + b);"), "PRINT 8 (int)\n");
}

TEST(Language, Arrays) {
    EXPECT_EQ(printedBy("int a = [4, 5, 6]; print(len(a)); print(a[0]); print(a[2]); print(a);"),
              "PRINT 3 (int)\nPRINT 4 (int)\nPRINT 6 (int)\nPRINT [ 4 5 6 ] (int array with 3 units) \n");
    EXPECT_EQ(printedBy("float f = [1, 2.5]; int n = 9; print(f); print(f[1] * 2);"),
              "PRINT [ 1.000000 2.500000 ] (float array with 2 units) \nPRINT 5.000000 (float)\n");
    EXPECT_EQ(printedBy("bool b = [true, false]; print(b[0]); print(len(b));"), "PRINT true (bool)\nPRINT 2 (int)\n");
    Outcome outside = runSource("int a = [1]; print(a[5]);");
    EXPECT_EQ(outside.error, RTE_INVALID_ADDRESS);
    EXPECT_NE(outside.report.find("CPU: Invalid memory address used [9: srdr]\n"), std::string::npos);
}

TEST(Language, ControlFlow) {
    EXPECT_EQ(printedBy("if 1 < 2 print 1; else print 2; if (false) print 3; else { print 4; }"),
              "PRINT 1 (int)\nPRINT 4 (int)\n");
    EXPECT_EQ(printedBy("int i = 3; while i > 0 { print i; i = i - 1; }"),
              "PRINT 3 (int)\nPRINT 2 (int)\nPRINT 1 (int)\n");
    EXPECT_EQ(printedBy("int s; for i in 5 s = s + i; print(s); for j in 1.5 print j;"),
              "PRINT 10 (int)\nPRINT 0 (int)\n");
    EXPECT_EQ(printedBy("int a = [3, 1, 2]; for i in len(a) { if a[i] > 1 print a[i]; }"),
              "PRINT 3 (int)\nPRINT 2 (int)\n");
    EXPECT_EQ(printedBy("for i in 2 for j in 2 print i * 10 + j;"),
              "PRINT 0 (int)\nPRINT 1 (int)\nPRINT 10 (int)\nPRINT 11 (int)\n");
    EXPECT_EQ(printedBy("return print 1; class void"), "PRINT 1 (int)\n");
}

TEST(Language, FunctionsAndPrintedText) {
    for (const char* src : {"print(sin(1));", "print(cos(0.5));", "print(range(4));", "print(this);"})
        EXPECT_FALSE(runSource(src).compiled) << src;
    Outcome o = runSource("print(2+3.5);", true);
    EXPECT_EQ(o.printed, "Loaded program (6 instructions)\nPRINT 5.500000 (float)\n");
    EXPECT_EQ(o.report, "CPU: End of program reached [6: print]\n");
    EXPECT_EQ(o.printedText, "5.500000");
    EXPECT_EQ(value("1 < 2"), "1");
}

TEST(Language, FaultsEndWithAnErrorNotACrash) {
    Outcome zero = runSource("print(1/0);");
    EXPECT_EQ(zero.error, RTE_DIVISION_BY_ZERO);
    EXPECT_EQ(runSource("print(1/0);", true).error, RTE_DIVISION_BY_ZERO);
    EXPECT_EQ(runSource("print(1.0/0.0);").error, RTE_DIVISION_BY_ZERO);
    // The most negative integer divided by -1 wraps instead of trapping.
    EXPECT_EQ(value("(0-2147483647-1)/(0-1)", false), "-2147483648");
    EXPECT_EQ(value("(0-2147483647-1)/(0-1)"), "2147483648.000000");

    Outcome forever = runSource("while true { }");
    EXPECT_EQ(forever.error, RTE_INSTRUCTION_BUDGET);
    EXPECT_FALSE(forever.ran);
    Outcome loop = runSource("for i in 2000000000 print i;");
    EXPECT_EQ(loop.error, RTE_INSTRUCTION_BUDGET);
}

}  // namespace
