// Compiler output text and diagnostics.
#include "tests/script/ScriptHarness.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using namespace CorvaneVM;
using scripttest::Capture;

namespace {

struct Compiled {
    bool ok;
    std::string text;
    std::string diag;
    std::string trace;
};

Compiled compile(const std::string& source, bool divisionAsFloat = false) {
    Capture trace, diag;
    Compiler compiler(divisionAsFloat);
    compiler.traceOut = trace.get();
    compiler.diagOut = diag.get();
    Compiled c;
    c.ok = compiler.compile(source, c.text);
    c.diag = diag.text();
    c.trace = trace.text();
    return c;
}

TEST(Compiler, WritesTheDocumentedTextForLiteralsAndOperators) {
    EXPECT_EQ(compile("print(1);").text, "start:\n\tldi 0 1\n\tprint 0 0\n");
    EXPECT_EQ(compile("print(-5);").text, "start:\n\tldi 0 5\n\tneg 0\n\tprint 0 0\n");
    EXPECT_EQ(compile("print(70000);").text, "start:\n\tldi 0 4464\n\tldih 0 1\n\tprint 0 0\n");
    EXPECT_EQ(compile("print(1 < 2);").text, "start:\n\tldi 0 1\n\tldi 1 2\n\tci< 0 0 1\n\tprint 2 0\n");
    Compiled sum = compile("print(2+3.5);");
    EXPECT_TRUE(sum.ok);
    EXPECT_EQ(sum.text, "start:\n\tldi 0 2\n\tldi 1 0\n\tldih 1 16480\n\titof 0\n\tfadd 0 0 1\n\tprint 1 0\n");
    EXPECT_EQ(sum.diag, "WARNING at line 1: Implicit cast (int -> float) during arithmetic with floats\n");

    Compiled half = compile("print(1/2);", true);
    EXPECT_EQ(half.text, "start:\n\tldi 0 1\n\tldi 1 2\n\titof 0\n\titof 1\n\tfdiv 0 0 1\n\tprint 1 0\n");
    EXPECT_EQ(half.diag.find("WARNING"), 0u);
    EXPECT_NE(half.diag.rfind("WARNING"), 0u);  // two warnings
    EXPECT_EQ(compile("print(1/2);").text, "start:\n\tldi 0 1\n\tldi 1 2\n\tdiv 0 0 1\n\tprint 0 0\n");
    EXPECT_NE(compile("float f = -1.0;").text.find("ldih 0 16256"), std::string::npos);
}

TEST(Compiler, LabelsCountOnAcrossStatements) {
    Compiled c = compile("if true print 1; while false print 2;");
    EXPECT_TRUE(c.ok);
    EXPECT_NE(c.text.find("\tbz 0 L0\n"), std::string::npos);
    EXPECT_EQ(c.text.find("L1:"), std::string::npos);
    EXPECT_NE(c.text.find("L2:\n"), std::string::npos);
    EXPECT_NE(c.text.find("\tbz 0 L3\n"), std::string::npos);
    EXPECT_NE(c.text.find("\tjmp L2\nL3:\n"), std::string::npos);
}

TEST(Compiler, ArraysPushLengthSlotAndElements) {
    Compiled c = compile("int a = [1, 2, 3]; print(len(a));");
    EXPECT_TRUE(c.ok);
    EXPECT_EQ(c.text,
              "start:\n\tldi 0 0\n\tspush 0\n\tldi 0 1\n\tspush 0\n\tldi 0 2\n\tspush 0\n\tldi 0 3\n\tspush 0\n"
              "\tldi 0 3\n\tswrite 0 3\n\tsread 0 3\n\tprint 0 0\n");
    EXPECT_NE(c.trace.find("Variable [a] initialized in scope 0 at index 0\n"), std::string::npos);
    EXPECT_NE(c.trace.find("Variable a is at 0, offset = 3  (total vars in scope 4)\n"), std::string::npos);
}

TEST(Compiler, ScopesPopTheirVariables) {
    Compiled c = compile("{ int x = 1; float y; } print(2);");
    EXPECT_TRUE(c.ok);
    EXPECT_NE(c.text.find("\tsxpop 2\n"), std::string::npos);
    EXPECT_NE(c.trace.find("Variable [y] went out of scope\nVariable [x] went out of scope\n"), std::string::npos);
}

TEST(Compiler, ReportsOnlyTheFirstError) {
    struct Case {
        const char* source;
        const char* message;
    };
    const Case cases[] = {
        {"print(1+);", "Expected expression"},
        {"print(1", "Expected ) after int_lit but got: "},
        {"print(sin(1));", "Unable to resolve variable/function sin"},
        {"print(cos(1));", "Unable to resolve variable/function cos"},
        {"int x = x;", "Can't use variable before it is initialized"},
        {"bool b = 1;", "No valid cast possible"},
        {"print(\"hi\");", "Strings not implemented"},
        {"print(1 # 2);", ""},
        {"1 = 2;", "Invalid assignment target."},
        {"int x; int x;", "Variable with name x already exists in current scope"},
        {"int x; print(len(x));", "Can't use len() on non-array types"},
        {"float f = [1.0]; print(-f == 1);", "Type does not support prefix -"},
        {"float f = [1.0]; print(!f);", "Type does not support prefix !"},
        {"print(x(1));", "Unable to resolve variable/function x"},
        {"int a = [1]; print(a(1));", "CALL NOT IMPLEMENTED YET"},
        {"for int i in 3 print i;", "Classic for loop with initializer, condition and post-loop expression not supported"},
        {"for i in true print i;", "Can't use bool as for loop range"},
        {"print(99999999999);", "Number out of range: 99999999999"},
    };
    for (const Case& c : cases) {
        Compiled r = compile(c.source);
        EXPECT_FALSE(r.ok) << c.source;
        std::string expected = std::string("ERROR at line 1: ") + c.message + "\n";
        EXPECT_NE(r.diag.find(expected), std::string::npos) << c.source << " gave " << r.diag;
        EXPECT_EQ(r.diag.find("ERROR"), r.diag.rfind("ERROR")) << c.source;
    }
    Compiled second = compile("print(1);\nprint(;");
    EXPECT_EQ(second.diag, "ERROR at line 2: Expected expression\n");
}

TEST(Compiler, WarningsDoNotFail) {
    Compiled dot = compile("int a = 1; print(a.b);");
    EXPECT_NE(dot.diag.find("WARNING at line 1: OBJECTS NOT IMPLEMENTED YET\n"), std::string::npos);
    Compiled range = compile("for i in 2.5 print i;");
    EXPECT_TRUE(range.ok);
    EXPECT_NE(range.diag.find("Implicit cast (float -> int) during for loop range expression"), std::string::npos);
    Compiled index = compile("int a = [1, 2]; print(a[1.0]);");
    EXPECT_TRUE(index.ok);
    EXPECT_NE(index.diag.find("Implicit cast (float -> int) during variable initialisation"), std::string::npos);
    EXPECT_TRUE(compile("class void return print 1;").ok);
}

TEST(Compiler, RegisterExhaustionIsACompileError) {
    std::string deep = "print(";
    for (int i = 0; i < 16; ++i) deep += "1+(";
    deep += "1";
    for (int i = 0; i < 16; ++i) deep += ")";
    deep += ");";
    Compiled c = compile(deep);
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.diag, "ERROR at line 1: No free registers available...\n");

    // Sixteen at once still fit.
    std::string fits = "print(";
    for (int i = 0; i < 15; ++i) fits += "1+(";
    fits += "1";
    for (int i = 0; i < 15; ++i) fits += ")";
    fits += ");";
    EXPECT_TRUE(compile(fits).ok);
}

TEST(Compiler, NestingAndStackLimitsAreErrors) {
    Compiled parens = compile(std::string(5000, '('));
    EXPECT_FALSE(parens.ok);
    EXPECT_EQ(parens.diag, "ERROR at line 1: Program nested too deeply\n");
    EXPECT_FALSE(compile(std::string(5000, '{')).ok);
    EXPECT_FALSE(compile(std::string(5000, '-') + "1;").ok);
    std::string ifs;
    for (int i = 0; i < 3000; ++i) ifs += "if 1 ";
    EXPECT_FALSE(compile(ifs + "print 1;").ok);

    std::string many;
    for (int i = 0; i < 257; ++i) many += "int v" + std::to_string(i) + ";";
    Compiled full = compile(many);
    EXPECT_FALSE(full.ok);
    EXPECT_NE(full.diag.find("Variable v256 can't be declared because the stack is full"), std::string::npos);

    std::string big = "int a = [0";
    for (int i = 0; i < 300; ++i) big += ",1";
    EXPECT_FALSE(compile(big + "];").ok);
    // An array list that never closes ends with an error instead of looping.
    EXPECT_FALSE(compile("int a = [1, 2").ok);
    EXPECT_FALSE(compile("int a = [").ok);
}

TEST(Compiler, LargeScopesPopInOneByteCounts) {
    std::string block = "{ int a = [0";
    for (int i = 0; i < 254; ++i) block += ",1";
    block += "]; }";
    Compiled c = compile(block);
    ASSERT_TRUE(c.ok) << c.diag;
    EXPECT_NE(c.text.find("\tsxpop 255\n\tsxpop 1\n"), std::string::npos);
}

TEST(Compiler, CompileFileReadsWholeFiles) {
    std::string path = testsupport::tempDir() + "prog.cvm";
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("int x = 4;\nprint(x * 2);\n", f);
    std::fclose(f);
    Compiler compiler;
    compiler.traceOut = nullptr;
    std::string out;
    EXPECT_TRUE(compiler.compileFile(path, out));
    EXPECT_NE(out.find("\tmul 0 0 1\n"), std::string::npos);
    EXPECT_FALSE(compiler.compileFile(path + ".missing", out));
}

}  // namespace
