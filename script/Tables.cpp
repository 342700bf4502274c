#include "script/Tables.h"

namespace CorvaneVM {

namespace {

constexpr const char* kTokenNames[kTokenTypeCount] = {
    "(", ")", "{", "}", "[", "]", ",", ".", "-", "+", ";", "/", "*", "!", "!=",
    "=", "==", ">", ">=", "<", "<=", "identifier", "string_lit", "int_lit",
    "float_lit", "bool_true", "bool_false", "and", "or", "int_def", "float_def",
    "bool_def", "if", "else", "for", "while", "return", "in", "range", "class",
    "this", "void", "print", "error", "end_of_file",
};

constexpr ParseRule kRules[] = {
    {TOKEN_LEFT_PAREN, PF_GROUPING, PF_CALL, PREC_CALL},
    {TOKEN_DOT, PF_NONE, PF_DOT, PREC_CALL},
    {TOKEN_MINUS, PF_UNARY, PF_OPERATOR, PREC_TERM},
    {TOKEN_PLUS, PF_NONE, PF_OPERATOR, PREC_TERM},
    {TOKEN_SLASH, PF_NONE, PF_OPERATOR, PREC_FACTOR},
    {TOKEN_STAR, PF_NONE, PF_OPERATOR, PREC_FACTOR},
    {TOKEN_BANG, PF_UNARY, PF_NONE, PREC_NONE},
    {TOKEN_BANG_EQUAL, PF_NONE, PF_OPERATOR, PREC_EQUALITY},
    {TOKEN_EQUAL_EQUAL, PF_NONE, PF_OPERATOR, PREC_EQUALITY},
    {TOKEN_GREATER, PF_NONE, PF_OPERATOR, PREC_COMPARISON},
    {TOKEN_GREATER_EQUAL, PF_NONE, PF_OPERATOR, PREC_COMPARISON},
    {TOKEN_LESS, PF_NONE, PF_OPERATOR, PREC_COMPARISON},
    {TOKEN_LESS_EQUAL, PF_NONE, PF_OPERATOR, PREC_COMPARISON},
    {TOKEN_IDENTIFIER, PF_VARIABLE, PF_NONE, PREC_NONE},
    {TOKEN_STRING_LIT, PF_STRING, PF_NONE, PREC_NONE},
    {TOKEN_INT_LIT, PF_INT, PF_NONE, PREC_NONE},
    {TOKEN_FLOAT_LIT, PF_FLOAT, PF_NONE, PREC_NONE},
    {TOKEN_BOOL_TRUE, PF_BOOL, PF_NONE, PREC_NONE},
    {TOKEN_BOOL_FALSE, PF_BOOL, PF_NONE, PREC_NONE},
    {TOKEN_AND, PF_NONE, PF_AND, PREC_AND},
    {TOKEN_OR, PF_NONE, PF_OR, PREC_OR},
};

constexpr const char* kRuntimeErrorTexts[kRuntimeErrorCount] = {
    "none",
    "Halt called",
    "End of program reached",
    "Program is not valid",
    "Program does not contain any instructions",
    "Label/function not found in program",
    "Program counter out of range",
    "Invalid instruction encountered",
    "Invalid memory address used",
    "Branch to self encountered",
    "Division by 0",
    "Stack reached maximum size, push did not follow through!",
    "Instruction budget used up",
};

constexpr NameValue kOpFuncs[] = {{"cos", FUNC_COS}, {"len", FUNC_LEN}, {"sin", FUNC_SIN}};

template <size_t N>
const NameValue* findName(const NameValue (&table)[N], std::string_view name) {
    for (const auto& entry : table)
        if (entry.name == name) return &entry;
    return nullptr;
}

}  // namespace

// Key order (byte order of the names), as the first-name-wins rule of opName relies on.
// "not" and "fnot" give "!" an instruction the assembler knows.
const NameValue kMnemonics[] = {
    {"add", 29},  {"bnz", 17},  {"bz", 16},    {"c!=", 7},    {"c==", 6},   {"call", 3},
    {"cf<", 14},  {"cf<=", 15}, {"cf>", 12},   {"cf>=", 13},  {"ci<", 10},  {"ci<=", 11},
    {"ci>", 8},   {"ci>=", 9},  {"dec", 34},   {"div", 32},   {"fadd", 37}, {"fdiv", 40},
    {"fmul", 39}, {"fneg", 41}, {"fnot", 42},  {"fsub", 38},  {"ftoi", 28}, {"halt", 2},
    {"inc", 33},  {"itof", 27}, {"jmp", 1},    {"ldi", 25},   {"ldih", 26}, {"mov", 18},
    {"mul", 31},  {"neg", 35},  {"not", 36},   {"print", 5},  {"ret", 4},   {"spop", 20},
    {"spush", 19}, {"srdr", 23}, {"sread", 22}, {"sub", 30},  {"swrite", 24}, {"sxpop", 21},
};
const uint32_t kMnemonicCount = sizeof(kMnemonics) / sizeof(kMnemonics[0]);

const NameValue kKeywords[] = {
    {"and", 27},   {"bool", 31}, {"class", 39}, {"else", 33},   {"false", 26}, {"float", 30},
    {"for", 34},   {"if", 32},   {"in", 37},    {"int", 29},    {"or", 28},    {"print", 42},
    {"range", 38}, {"return", 36}, {"this", 40}, {"true", 25},  {"void", 41},  {"while", 35},
};
const uint32_t kKeywordCount = sizeof(kKeywords) / sizeof(kKeywords[0]);

ParseRule getRule(uint32_t type) {
    for (const auto& rule : kRules)
        if (rule.token == type) return rule;
    return ParseRule{static_cast<TokenType>(type), PF_NONE, PF_NONE, PREC_NONE};
}

std::string tokenTypeName(uint32_t type) {
    if (type >= kTokenTypeCount) return "invalid token";
    return kTokenNames[type];
}

TokenType keywordType(std::string_view lexeme) {
    for (uint32_t i = 0; i < kKeywordCount; ++i)
        if (kKeywords[i].name == lexeme) return static_cast<TokenType>(kKeywords[i].value);
    return TOKEN_IDENTIFIER;
}

Op lookupOp(std::string_view mnemonic) {
    for (uint32_t i = 0; i < kMnemonicCount; ++i)
        if (kMnemonics[i].name == mnemonic) return static_cast<Op>(kMnemonics[i].value);
    return OP_INVALID;
}

std::string opName(uint32_t op) {
    for (uint32_t i = 0; i < kMnemonicCount; ++i)
        if (kMnemonics[i].value == op) return std::string(kMnemonics[i].name);
    return std::string();
}

bool isMnemonic(std::string_view name) { return lookupOp(name) != OP_INVALID; }

OpFunc lookupOpFunc(std::string_view name) {
    const NameValue* entry = findName(kOpFuncs, name);
    return entry ? static_cast<OpFunc>(entry->value) : FUNC_NONE;
}

const char* runtimeErrorText(uint32_t error) {
    if (error >= kRuntimeErrorCount) return "";
    return kRuntimeErrorTexts[error];
}

}  // namespace CorvaneVM
