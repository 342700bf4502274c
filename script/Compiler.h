// Single-pass compiler of the expression language: a Pratt parser that writes
// assembly text as it recognises the program, without a syntax tree.
#pragma once

#include "script/Scanner.h"
#include "script/Tables.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace CorvaneVM {

enum ValueType : uint32_t {
    TYPE_INT = 0,
    TYPE_FLOAT = 1,
    TYPE_BOOL = 2,
    TYPE_INT_ARRAY = 3,
    TYPE_FLOAT_ARRAY = 4,
    TYPE_STRING = 5,
};

// "int", "float", ...; empty for a value that names no type.
std::string valueTypeName(uint32_t type);

struct Local {
    Token name;
    ValueType type = TYPE_INT;
    int32_t depth = -1;   // -1 while declared but not yet initialised
    uint8_t element = 0;  // 1 for the slots of array elements
};

class Compiler {
public:
    static constexpr uint32_t kRegisterCount = 16;
    // What allocRegister hands out when every register is taken; names no register.
    static constexpr uint32_t kNoRegister = kRegisterCount;
    static constexpr uint32_t kMaxLocals = 256;
    // Deeper nesting of expressions or statements is refused, so hostile input
    // cannot exhaust the caller's stack.
    static constexpr uint32_t kMaxNesting = 128;

    explicit Compiler(bool divisionAsFloat = false) : divisionAsFloat(divisionAsFloat) {}

    // Appends the assembly text of source to output; true when no error was reported.
    bool compile(const std::string& source, std::string& output);
    bool compileFile(const std::string& path, std::string& output);
    void dumpRegisters() const;

    bool divisionAsFloat;
    std::FILE* traceOut = stdout;  // trace lines
    std::FILE* diagOut = stderr;   // errors and warnings

private:
    struct Register {
        bool free = true;
        ValueType type = TYPE_INT;
        int32_t arraySlot = -1;  // distance of the array read into it, -1 when none
    };

    void _reset();
    std::string _lexeme(const Token& token) const;

    // Token movement and reporting.
    void _advance();
    bool _check(TokenType type) const { return current.type == type; }
    bool _match(TokenType type);
    void _consume(TokenType type);
    void _error(const Token& token, const std::string& message);
    void _warning(const Token& token, const std::string& message);

    // Registers; kNoRegister is accepted everywhere and ignored.
    uint32_t _allocRegister(ValueType type);
    void _freeRegister(uint32_t r);
    void _pushRegister(uint32_t r);
    ValueType _type(uint32_t r) const;
    void _setType(uint32_t r, ValueType type);

    // Emission.
    std::string _newLabel();
    void _emitLabel(const std::string& name);
    void _emit(Op op, std::initializer_list<uint32_t> operands = {});
    void _emitImmediate(Op op, uint32_t r, int32_t value);
    void _emitBranch(Op op, uint32_t r, const std::string& label);
    void _emitJump(const std::string& label);
    void _loadConstant(uint32_t r, int32_t value);
    void _emitPop(uint32_t count);

    // Expressions.
    uint32_t _expression(uint32_t reg);
    uint32_t _parsePrecedence(uint32_t precedence, uint32_t reg);
    uint32_t _call(uint32_t fn, bool canAssign, uint32_t reg);
    uint32_t _grouping(uint32_t reg);
    uint32_t _unary(uint32_t reg);
    uint32_t _operator(uint32_t left);
    uint32_t _intLiteral();
    uint32_t _floatLiteral();
    uint32_t _boolLiteral();
    uint32_t _stringLiteral();
    uint32_t _variable(bool canAssign, uint32_t reg);
    uint32_t _namedVariable(const Token& name, uint32_t reg, bool canAssign);
    uint32_t _readLocal(const Token& name);
    uint32_t _function(const Token& name, uint32_t reg);
    // "and" (branch bz) and "or" (branch bnz).
    uint32_t _shortCut(Op branch, uint32_t precedence, uint32_t left);
    void _cast(uint32_t r, ValueType to);
    int32_t _resolveLocal(const Token& name);
    uint32_t _distance(int32_t index) const;
    void _traceAccess(const Token& name, int32_t index);

    // Declarations and statements.
    void _declaration();
    void _varDeclaration(ValueType type);
    void _arrayDeclaration(const Token& name, ValueType type);
    void _addLocal(const Token& name, ValueType type);
    void _markInitialized();
    void _statement();
    void _printStatement();
    void _ifStatement();
    void _whileStatement();
    void _forStatement();
    void _block();
    void _beginScope() { ++scopeDepth; }
    void _endScope();
    bool _enterNesting();

    const std::string* source = nullptr;
    std::string* output = nullptr;
    Scanner scanner;
    Token previous;
    Token current;
    bool hadError = false;
    bool panicMode = false;
    Register registers[kRegisterCount];
    uint32_t labelCounter = 0;
    int32_t scopeDepth = 0;
    std::vector<Local> locals;
    uint32_t nesting = 0;
};

}  // namespace CorvaneVM
