// Name tables and scanner.
#include "script/Scanner.h"
#include "script/Tables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace CorvaneVM;

namespace {

struct Scanned {
    std::vector<TokenType> types;
    std::vector<std::string> lexemes;
    std::vector<uint32_t> lines;
};

Scanned scanAll(const std::string& text) {
    Scanner scanner;
    scanner.initScanner(text);
    Scanned out;
    for (int guard = 0; guard < 1000; ++guard) {
        Token t = scanner.scanToken();
        out.types.push_back(t.type);
        out.lexemes.emplace_back(scanner.lexeme(t));
        out.lines.push_back(t.line);
        if (t.type == TOKEN_EOF) break;
    }
    return out;
}

using Types = std::vector<TokenType>;

TEST(Tables, NamesKeywordsOpcodesAndRulesAgree) {
    EXPECT_EQ(lookupOp("fneg"), OP_FNEG);
    EXPECT_EQ(static_cast<uint32_t>(OP_FNEG), 41u);
    EXPECT_EQ(keywordType("print"), TOKEN_PRINT);
    EXPECT_EQ(tokenTypeName(42), "print");
    EXPECT_EQ(tokenTypeName(0), "(");
    EXPECT_EQ(tokenTypeName(44), "end_of_file");
    EXPECT_EQ(tokenTypeName(45), "invalid token");
    EXPECT_EQ(kKeywordCount, 18u);
    // Every keyword's kind is named like the keyword, or like its "_def" / "bool_" form.
    for (uint32_t i = 0; i < kKeywordCount; ++i) {
        std::string kw(kKeywords[i].name), name = tokenTypeName(kKeywords[i].value);
        EXPECT_TRUE(name == kw || name == kw + "_def" || name == "bool_" + kw) << kw;
    }
    // Every mnemonic names itself back; the table is in key order.
    for (uint32_t i = 0; i < kMnemonicCount; ++i) {
        EXPECT_EQ(opName(kMnemonics[i].value), kMnemonics[i].name);
        if (i > 0) {
            EXPECT_LT(kMnemonics[i - 1].name, kMnemonics[i].name);
        }
    }
    EXPECT_EQ(lookupOp("nonsense"), OP_INVALID);
    EXPECT_EQ(opName(0), "");
    EXPECT_EQ(opName(43), "");
    // "!" reaches the machine through its own mnemonics.
    EXPECT_EQ(lookupOp("not"), OP_NOT);
    EXPECT_EQ(lookupOp("fnot"), OP_FNOT);
    EXPECT_EQ(kMnemonicCount, 42u);

    EXPECT_EQ(lookupOpFunc("len"), FUNC_LEN);
    EXPECT_EQ(lookupOpFunc("sin"), FUNC_SIN);
    EXPECT_EQ(lookupOpFunc("cos"), FUNC_COS);
    EXPECT_EQ(lookupOpFunc("tan"), FUNC_NONE);

    EXPECT_STREQ(runtimeErrorText(10), "Division by 0");
    EXPECT_STREQ(runtimeErrorText(11), "Stack reached maximum size, push did not follow through!");
    EXPECT_STREQ(runtimeErrorText(0), "none");

    ParseRule minus = getRule(TOKEN_MINUS);
    EXPECT_EQ(minus.prefix, PF_UNARY);
    EXPECT_EQ(minus.infix, PF_OPERATOR);
    EXPECT_EQ(minus.precedence, PREC_TERM);
    EXPECT_EQ(getRule(TOKEN_OR).precedence, PREC_OR);
    EXPECT_EQ(getRule(TOKEN_LEFT_PAREN).infix, PF_CALL);
    for (uint32_t t : {TOKEN_SEMICOLON, TOKEN_RANGE, TOKEN_EOF, TOKEN_EQUAL}) {
        ParseRule r = getRule(t);
        EXPECT_EQ(r.prefix + r.infix + r.precedence, 0u) << t;
    }
}

TEST(Scanner, OperatorsAndLogicalForms) {
    EXPECT_EQ(scanAll("a<=b").types, (Types{TOKEN_IDENTIFIER, TOKEN_LESS_EQUAL, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(scanAll("a< =b").types,
              (Types{TOKEN_IDENTIFIER, TOKEN_LESS, TOKEN_EQUAL, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(scanAll("x&&y").types, scanAll("x and y").types);
    EXPECT_EQ(scanAll("x||y").types, scanAll("x or y").types);
    EXPECT_EQ(scanAll("x&y").types[1], TOKEN_ERROR);
    EXPECT_EQ(scanAll("x|y").types[1], TOKEN_ERROR);
    EXPECT_EQ(scanAll("(){}[],.-+;/*! != = == > >= < <=").types,
              (Types{TOKEN_LEFT_PAREN, TOKEN_RIGHT_PAREN, TOKEN_LEFT_BRACE, TOKEN_RIGHT_BRACE, TOKEN_LEFT_BRACKET,
                     TOKEN_RIGHT_BRACKET, TOKEN_COMMA, TOKEN_DOT, TOKEN_MINUS, TOKEN_PLUS, TOKEN_SEMICOLON, TOKEN_SLASH,
                     TOKEN_STAR, TOKEN_BANG, TOKEN_BANG_EQUAL, TOKEN_EQUAL, TOKEN_EQUAL_EQUAL, TOKEN_GREATER,
                     TOKEN_GREATER_EQUAL, TOKEN_LESS, TOKEN_LESS_EQUAL, TOKEN_EOF}));
}

TEST(Scanner, KeywordsAndIdentifiers) {
    Scanned s = scanAll("true false and or int float bool if else for while return in range class this void print "
                        "printer _x9 Int");
    Types expected;
    for (uint32_t t = TOKEN_BOOL_TRUE; t <= TOKEN_PRINT; ++t) expected.push_back(static_cast<TokenType>(t));
    expected.insert(expected.end(), {TOKEN_IDENTIFIER, TOKEN_IDENTIFIER, TOKEN_IDENTIFIER, TOKEN_EOF});
    EXPECT_EQ(s.types, expected);
    EXPECT_EQ(s.lexemes[18], "printer");
}

TEST(Scanner, Numbers) {
    Scanned s = scanAll("12.5 12. 1.2.3 .5");
    EXPECT_EQ(s.types, (Types{TOKEN_FLOAT_LIT, TOKEN_INT_LIT, TOKEN_DOT, TOKEN_FLOAT_LIT, TOKEN_DOT, TOKEN_INT_LIT,
                              TOKEN_DOT, TOKEN_INT_LIT, TOKEN_EOF}));
    EXPECT_EQ(s.lexemes[0], "12.5");
    EXPECT_EQ(s.lexemes[3], "1.2");
    EXPECT_EQ(s.lexemes[5], "3");
}

TEST(Scanner, StringsCommentsAndLines) {
    Scanned s = scanAll("\"ab\ncd\" x");
    EXPECT_EQ(s.types, (Types{TOKEN_STRING_LIT, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(s.lexemes[0], "\"ab\ncd\"");
    EXPECT_EQ(s.lines[0], 2u);

    Scanned open = scanAll("x \"abc");
    EXPECT_EQ(open.types, (Types{TOKEN_IDENTIFIER, TOKEN_ERROR, TOKEN_EOF}));
    EXPECT_EQ(open.lexemes[1], "\"abc");

    Scanned c = scanAll("a // note\n\n b // end");
    EXPECT_EQ(c.types, (Types{TOKEN_IDENTIFIER, TOKEN_IDENTIFIER, TOKEN_EOF}));
    EXPECT_EQ(c.lines[0], 1u);
    EXPECT_EQ(c.lines[1], 3u);
    EXPECT_EQ(scanAll("a / b").types[1], TOKEN_SLASH);

    Scanned bad = scanAll("1 # % \xC3\xA9 2");
    EXPECT_EQ(bad.types, (Types{TOKEN_INT_LIT, TOKEN_ERROR, TOKEN_ERROR, TOKEN_ERROR, TOKEN_ERROR, TOKEN_INT_LIT,
                                TOKEN_EOF}));
    EXPECT_EQ(bad.lexemes[3].size(), 1u);
}

TEST(Scanner, EndOfTextRepeatsAndNoSourceIsAnError) {
    Scanner scanner;
    EXPECT_EQ(scanner.scanToken().type, TOKEN_ERROR);
    std::string text = "x";
    scanner.initScanner(text);
    scanner.scanToken();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(scanner.scanToken().type, TOKEN_EOF);
}

}  // namespace
