// Name tables of the expression language: token kinds, keywords, parse rules,
// opcodes, built-in functions and run-time error texts. They are constant
// data (no constructors run), so every user finds them ready whatever the
// order of static initialisation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace CorvaneVM {

enum TokenType : uint32_t {
    TOKEN_LEFT_PAREN = 0,
    TOKEN_RIGHT_PAREN,
    TOKEN_LEFT_BRACE,
    TOKEN_RIGHT_BRACE,
    TOKEN_LEFT_BRACKET,
    TOKEN_RIGHT_BRACKET,
    TOKEN_COMMA,
    TOKEN_DOT,
    TOKEN_MINUS,
    TOKEN_PLUS,
    TOKEN_SEMICOLON,  // 10
    TOKEN_SLASH,
    TOKEN_STAR,
    TOKEN_BANG,
    TOKEN_BANG_EQUAL,
    TOKEN_EQUAL,
    TOKEN_EQUAL_EQUAL,
    TOKEN_GREATER,
    TOKEN_GREATER_EQUAL,
    TOKEN_LESS,
    TOKEN_LESS_EQUAL,  // 20
    TOKEN_IDENTIFIER,
    TOKEN_STRING_LIT,
    TOKEN_INT_LIT,
    TOKEN_FLOAT_LIT,
    TOKEN_BOOL_TRUE,
    TOKEN_BOOL_FALSE,
    TOKEN_AND,
    TOKEN_OR,
    TOKEN_INT_DEF,
    TOKEN_FLOAT_DEF,  // 30
    TOKEN_BOOL_DEF,
    TOKEN_IF,
    TOKEN_ELSE,
    TOKEN_FOR,
    TOKEN_WHILE,
    TOKEN_RETURN,
    TOKEN_IN,
    TOKEN_RANGE,
    TOKEN_CLASS,
    TOKEN_THIS,  // 40
    TOKEN_VOID,
    TOKEN_PRINT,
    TOKEN_ERROR,
    TOKEN_EOF,  // 44
};
constexpr uint32_t kTokenTypeCount = 45;

enum Op : uint32_t {
    OP_INVALID = 0,
    OP_JMP = 1,
    OP_HALT,
    OP_CALL,
    OP_RET,
    OP_PRINT,
    OP_CEQ,
    OP_CNE,
    OP_CIGT,
    OP_CIGE,
    OP_CILT,  // 10
    OP_CILE,
    OP_CFGT,
    OP_CFGE,
    OP_CFLT,
    OP_CFLE,
    OP_BZ,
    OP_BNZ,
    OP_MOV,
    OP_SPUSH,
    OP_SPOP,  // 20
    OP_SXPOP,
    OP_SREAD,
    OP_SRDR,
    OP_SWRITE,
    OP_LDI,
    OP_LDIH,
    OP_ITOF,
    OP_FTOI,
    OP_ADD,
    OP_SUB,  // 30
    OP_MUL,
    OP_DIV,
    OP_INC,
    OP_DEC,
    OP_NEG,
    OP_NOT,  // 36, integer not
    OP_FADD,
    OP_FSUB,
    OP_FMUL,
    OP_FDIV,  // 40
    OP_FNEG,
    OP_FNOT,  // 42, float not
};

enum OpFunc : uint32_t {
    FUNC_NONE = 0,
    FUNC_LEN = 1,
    FUNC_SIN = 2,
    FUNC_COS = 3,
};

enum RuntimeErrorType : uint32_t {
    RTE_NONE = 0,
    RTE_HALT = 1,
    RTE_END_OF_PROGRAM = 2,
    RTE_PROGRAM_INVALID = 3,
    RTE_PROGRAM_EMPTY = 4,
    RTE_LABEL_NOT_FOUND = 5,
    RTE_PC_OUT_OF_RANGE = 6,
    RTE_INVALID_INSTRUCTION = 7,
    RTE_INVALID_ADDRESS = 8,
    RTE_BRANCH_TO_SELF = 9,
    RTE_DIVISION_BY_ZERO = 10,
    RTE_STACK_FULL = 11,
    // A run that would not end by itself is cut off so the caller stays responsive.
    RTE_INSTRUCTION_BUDGET = 12,
};
constexpr uint32_t kRuntimeErrorCount = 13;

// Parse functions named by the rule table.
enum ParseFn : uint32_t {
    PF_NONE = 0,
    PF_GROUPING = 1,
    PF_UNARY = 2,
    PF_OPERATOR = 3,
    PF_INT = 4,
    PF_FLOAT = 5,
    PF_STRING = 6,
    PF_BOOL = 7,
    PF_VARIABLE = 8,
    PF_CALL = 9,
    PF_DOT = 10,
    PF_AND = 11,
    PF_OR = 12,
};

enum Precedence : uint32_t {
    PREC_NONE = 0,
    PREC_ASSIGNMENT = 1,
    PREC_OR = 2,
    PREC_AND = 3,
    PREC_EQUALITY = 4,
    PREC_COMPARISON = 5,
    PREC_TERM = 6,
    PREC_FACTOR = 7,
    PREC_UNARY = 8,
    PREC_CALL = 9,
};

struct ParseRule {
    TokenType token;
    uint32_t prefix;
    uint32_t infix;
    uint32_t precedence;
};

struct NameValue {
    std::string_view name;
    uint32_t value;
};

// Rule for a token kind; kinds without a row (and values out of range) give 0, 0, 0.
ParseRule getRule(uint32_t type);

std::string tokenTypeName(uint32_t type);
// Keyword kind of a lexeme, or TOKEN_IDENTIFIER.
TokenType keywordType(std::string_view lexeme);
Op lookupOp(std::string_view mnemonic);
// First mnemonic (in key order) naming the op; empty when none does.
std::string opName(uint32_t op);
bool isMnemonic(std::string_view name);
OpFunc lookupOpFunc(std::string_view name);
const char* runtimeErrorText(uint32_t error);

// The tables themselves, in key order where they are keyed by name.
extern const NameValue kMnemonics[];
extern const uint32_t kMnemonicCount;
extern const NameValue kKeywords[];
extern const uint32_t kKeywordCount;

}  // namespace CorvaneVM
