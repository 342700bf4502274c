#include "script/Compiler.h"

#include "script/Output.h"

#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace CorvaneVM {

namespace {

constexpr const char* kTypeNames[] = {"int", "float", "bool", "int array", "float array", "string"};

bool isArray(ValueType type) { return type == TYPE_INT_ARRAY || type == TYPE_FLOAT_ARRAY; }

// Restores the nesting count however the guarded function returns.
struct NestingGuard {
    uint32_t& depth;
    ~NestingGuard() { --depth; }
};

}  // namespace

std::string valueTypeName(uint32_t type) {
    if (type >= sizeof(kTypeNames) / sizeof(kTypeNames[0])) return "";
    return kTypeNames[type];
}

// ---------------------------------------------------------------- driver

void Compiler::_reset() {
    source = nullptr;
    output = nullptr;
    scanner = Scanner();
    previous = Token();
    current = Token();
    hadError = false;
    panicMode = false;
    for (auto& r : registers) r = Register();
    labelCounter = 0;
    scopeDepth = 0;
    locals.clear();
    nesting = 0;
}

bool Compiler::compile(const std::string& text, std::string& out) {
    _reset();
    source = &text;
    output = &out;
    scanner.initScanner(text);
    _emitLabel("start");
    _advance();
    bool ok = true;
    for (;;) {
        if (_match(TOKEN_EOF)) break;
        if (hadError) {
            ok = false;
            break;
        }
        _declaration();
    }
    ok = ok && !hadError;
    source = nullptr;
    output = nullptr;
    return ok;
}

bool Compiler::compileFile(const std::string& path, std::string& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::stringstream buffer;
    buffer << file.rdbuf();
    std::string text = buffer.str();
    if (text.empty()) return false;
    return compile(text, out);
}

void Compiler::dumpRegisters() const {
    static const char* kMarks[] = {"i ", "f ", "b ", "", "", "s "};
    std::string line;
    for (const auto& r : registers) line += r.free ? "- " : kMarks[r.type];
    writeTo(traceOut, "%s\n", line.c_str());
}

std::string Compiler::_lexeme(const Token& token) const { return std::string(scanner.lexeme(token)); }

// ---------------------------------------------------------------- tokens and reports

void Compiler::_advance() {
    previous = current;
    for (;;) {
        current = scanner.scanToken();
        if (current.type != TOKEN_ERROR) break;
        _error(current, "");
    }
}

bool Compiler::_match(TokenType type) {
    if (!_check(type)) return false;
    _advance();
    return true;
}

void Compiler::_consume(TokenType type) {
    if (current.type == type) {
        _advance();
        return;
    }
    _error(current, "Expected " + tokenTypeName(type) + " after " + tokenTypeName(previous.type) +
                        " but got: " + _lexeme(current));
}

void Compiler::_error(const Token& token, const std::string& message) {
    if (panicMode) return;
    panicMode = true;
    writeTo(diagOut, "ERROR at line %lu: %s\n", static_cast<unsigned long>(token.line), message.c_str());
    hadError = true;
}

void Compiler::_warning(const Token& token, const std::string& message) {
    writeTo(diagOut, "WARNING at line %lu: %s\n", static_cast<unsigned long>(token.line), message.c_str());
}

// ---------------------------------------------------------------- registers

uint32_t Compiler::_allocRegister(ValueType type) {
    for (uint32_t r = 0; r < kRegisterCount; ++r) {
        if (registers[r].free) {
            registers[r] = Register{false, type, -1};
            return r;
        }
    }
    _error(previous, "No free registers available...");
    return kNoRegister;
}

void Compiler::_freeRegister(uint32_t r) {
    if (r < kRegisterCount) registers[r].free = true;
}

void Compiler::_pushRegister(uint32_t r) {
    _emit(OP_SPUSH, {r});
    _freeRegister(r);
}

ValueType Compiler::_type(uint32_t r) const { return r < kRegisterCount ? registers[r].type : TYPE_INT; }

void Compiler::_setType(uint32_t r, ValueType type) {
    if (r >= kRegisterCount) return;
    registers[r].type = type;
    registers[r].arraySlot = -1;
}

// ---------------------------------------------------------------- emission

std::string Compiler::_newLabel() { return "L" + std::to_string(labelCounter++); }

void Compiler::_emitLabel(const std::string& name) {
    if (output) *output += name + ":\n";
}

void Compiler::_emit(Op op, std::initializer_list<uint32_t> operands) {
    if (!output) return;
    std::string line = "\t" + opName(op) + " ";
    bool first = true;
    for (uint32_t operand : operands) {
        if (!first) line += ' ';
        line += std::to_string(operand);
        first = false;
    }
    *output += line + "\n";
}

void Compiler::_emitImmediate(Op op, uint32_t r, int32_t value) {
    if (output) *output += "\t" + opName(op) + " " + std::to_string(r) + " " + std::to_string(value) + "\n";
}

void Compiler::_emitBranch(Op op, uint32_t r, const std::string& label) {
    if (output) *output += "\t" + opName(op) + " " + std::to_string(r) + " " + label + "\n";
}

void Compiler::_emitJump(const std::string& label) {
    if (output) *output += "\t" + opName(OP_JMP) + " " + label + "\n";
}

void Compiler::_loadConstant(uint32_t r, int32_t value) {
    _emitImmediate(OP_LDI, r, value & 0xFFFF);
    int32_t high = value >> 16;
    if (high != 0) _emitImmediate(OP_LDIH, r, high);
}

// The pop count is one byte wide in the instruction: pop larger counts in parts.
void Compiler::_emitPop(uint32_t count) {
    while (count > 0) {
        uint32_t part = count > 255 ? 255 : count;
        _emit(OP_SXPOP, {part});
        count -= part;
    }
}

// ---------------------------------------------------------------- expressions

bool Compiler::_enterNesting() {
    if (++nesting <= kMaxNesting) return true;
    _error(current, "Program nested too deeply");
    if (!_check(TOKEN_EOF)) _advance();  // always make progress
    return false;
}

uint32_t Compiler::_expression(uint32_t reg) { return _parsePrecedence(PREC_ASSIGNMENT, reg); }

uint32_t Compiler::_parsePrecedence(uint32_t precedence, uint32_t reg) {
    NestingGuard guard{nesting};
    if (!_enterNesting()) return reg;
    _advance();
    uint32_t prefix = getRule(previous.type).prefix;
    if (prefix == PF_NONE) {
        _error(previous, "Expected expression");
        return 0;
    }
    bool canAssign = precedence <= PREC_ASSIGNMENT;
    uint32_t r = _call(prefix, canAssign, reg);
    while (getRule(current.type).precedence >= precedence) {
        _advance();
        r = _call(getRule(previous.type).infix, canAssign, r);
    }
    if (canAssign && _match(TOKEN_EQUAL)) _error(previous, "Invalid assignment target.");
    return r;
}

uint32_t Compiler::_call(uint32_t fn, bool canAssign, uint32_t reg) {
    switch (fn) {
    case PF_GROUPING: return _grouping(reg);
    case PF_UNARY: return _unary(reg);
    case PF_OPERATOR: return _operator(reg);
    case PF_INT: return _intLiteral();
    case PF_FLOAT: return _floatLiteral();
    case PF_STRING: return _stringLiteral();
    case PF_BOOL: return _boolLiteral();
    case PF_VARIABLE: return _variable(canAssign, reg);
    case PF_CALL: _error(previous, "CALL NOT IMPLEMENTED YET"); return reg;
    case PF_DOT: _warning(previous, "OBJECTS NOT IMPLEMENTED YET"); return reg;
    case PF_AND: return _shortCut(OP_BZ, PREC_AND, reg);
    case PF_OR: return _shortCut(OP_BNZ, PREC_OR, reg);
    default: _error(previous, "No rule to parse " + _lexeme(previous)); return reg;
    }
}

uint32_t Compiler::_grouping(uint32_t reg) {
    uint32_t r = _expression(reg);
    _consume(TOKEN_RIGHT_PAREN);
    return r;
}

uint32_t Compiler::_unary(uint32_t reg) {
    TokenType op = previous.type;
    uint32_t r = _parsePrecedence(PREC_UNARY, reg);
    ValueType type = _type(r);
    bool numeric = type == TYPE_INT || type == TYPE_BOOL;
    if (op == TOKEN_MINUS) {
        if (type == TYPE_FLOAT) _emit(OP_FNEG, {r});
        else if (numeric) _emit(OP_NEG, {r});
        else _error(previous, "Type does not support prefix -");
    } else {
        if (type == TYPE_FLOAT) _emit(OP_FNOT, {r});
        else if (numeric) _emit(OP_NOT, {r});
        else _error(previous, "Type does not support prefix !");
    }
    return r;
}

uint32_t Compiler::_operator(uint32_t left) {
    TokenType op = previous.type;
    uint32_t right = _parsePrecedence(getRule(op).precedence + 1, left);
    bool floatForm = _type(left) == TYPE_FLOAT || _type(right) == TYPE_FLOAT ||
                     (op == TOKEN_SLASH && divisionAsFloat);
    if (floatForm) {
        for (uint32_t r : {left, right}) {
            if (_type(r) == TYPE_FLOAT) continue;
            _warning(previous, "Implicit cast (" + valueTypeName(_type(r)) + " -> float) during arithmetic with floats");
            _cast(r, TYPE_FLOAT);
        }
    }
    Op code = OP_INVALID;
    ValueType result = floatForm ? TYPE_FLOAT : TYPE_INT;
    switch (op) {
    case TOKEN_MINUS: code = floatForm ? OP_FSUB : OP_SUB; break;
    case TOKEN_PLUS: code = floatForm ? OP_FADD : OP_ADD; break;
    case TOKEN_SLASH: code = floatForm ? OP_FDIV : OP_DIV; break;
    case TOKEN_STAR: code = floatForm ? OP_FMUL : OP_MUL; break;
    default:
        result = TYPE_BOOL;
        switch (op) {
        case TOKEN_BANG_EQUAL: code = OP_CNE; break;
        case TOKEN_EQUAL_EQUAL: code = OP_CEQ; break;
        case TOKEN_GREATER: code = floatForm ? OP_CFGT : OP_CIGT; break;
        case TOKEN_GREATER_EQUAL: code = floatForm ? OP_CFGE : OP_CIGE; break;
        case TOKEN_LESS: code = floatForm ? OP_CFLT : OP_CILT; break;
        case TOKEN_LESS_EQUAL: code = floatForm ? OP_CFLE : OP_CILE; break;
        default: break;
        }
    }
    _emit(code, {left, left, right});
    _freeRegister(right);
    _setType(left, result);
    return left;
}

uint32_t Compiler::_intLiteral() {
    uint32_t r = _allocRegister(TYPE_INT);
    std::string text = _lexeme(previous);
    int32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec != std::errc() || end != text.data() + text.size()) {
        _error(previous, "Number out of range: " + text);
        value = 0;
    }
    _loadConstant(r, value);
    return r;
}

uint32_t Compiler::_floatLiteral() {
    uint32_t r = _allocRegister(TYPE_FLOAT);
    std::string text = _lexeme(previous);
    float value = 0.0f;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        _error(previous, "Number out of range: " + text);
        value = 0.0f;
    }
    int32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    _loadConstant(r, bits);
    return r;
}

uint32_t Compiler::_boolLiteral() {
    uint32_t r = _allocRegister(TYPE_BOOL);
    _loadConstant(r, previous.type == TOKEN_BOOL_TRUE ? 1 : 0);
    return r;
}

uint32_t Compiler::_stringLiteral() {
    uint32_t r = _allocRegister(TYPE_STRING);
    _error(previous, "Strings not implemented");
    return r;
}

void Compiler::_cast(uint32_t r, ValueType to) {
    ValueType from = _type(r);
    if (from == to) return;
    if (to == TYPE_FLOAT && (from == TYPE_INT || from == TYPE_BOOL)) {
        _emit(OP_ITOF, {r});
        _setType(r, TYPE_FLOAT);
    } else if (from == TYPE_FLOAT && (to == TYPE_INT || to == TYPE_BOOL)) {
        _emit(OP_FTOI, {r});
        _setType(r, to);
    } else {
        _error(previous, "No valid cast possible");
    }
}

uint32_t Compiler::_variable(bool canAssign, uint32_t reg) { return _namedVariable(previous, reg, canAssign); }

int32_t Compiler::_resolveLocal(const Token& name) {
    std::string_view wanted = scanner.lexeme(name);
    for (int32_t i = static_cast<int32_t>(locals.size()) - 1; i >= 0; --i) {
        if (scanner.lexeme(locals[i].name) != wanted) continue;
        if (locals[i].depth == -1) {
            _error(previous, "Can't use variable before it is initialized");
            continue;
        }
        return i;
    }
    return -1;
}

// Distance of a local's slot from the top of the data stack. A variable whose
// initialiser is being compiled is listed already but has no slot yet, so it
// must not count, or every read inside an initialiser is off by one.
uint32_t Compiler::_distance(int32_t index) const {
    size_t slots = locals.size();
    if (slots > 0 && locals.back().depth == -1) --slots;
    return static_cast<uint32_t>(slots - 1 - static_cast<size_t>(index));
}

void Compiler::_traceAccess(const Token& name, int32_t index) {
    writeTo(traceOut, "Variable %s is at %d, offset = %ld  (total vars in scope %ld)\n", _lexeme(name).c_str(), index,
            static_cast<long>(_distance(index)), static_cast<long>(locals.size()));
}

uint32_t Compiler::_namedVariable(const Token& name, uint32_t reg, bool canAssign) {
    int32_t idx = _resolveLocal(name);
    if (idx == -1) return _function(name, reg);
    uint32_t k = _distance(idx);
    _traceAccess(name, idx);
    ValueType varType = locals[idx].type;

    if (canAssign && _match(TOKEN_EQUAL)) {
        uint32_t r = _expression(reg);
        // A scalar keeps its type: store the converted value, not foreign bits.
        if (!isArray(varType) && _type(r) != varType) {
            _warning(previous,
                     "Implicit cast (" + valueTypeName(_type(r)) + " -> " + valueTypeName(varType) + ") during assignment");
            _cast(r, varType);
        }
        _emitImmediate(OP_SWRITE, r, static_cast<int32_t>(k));
        // The value stays live in r for the enclosing expression; its user frees it.
        return r;
    }
    if (_match(TOKEN_LEFT_BRACKET)) {
        uint32_t i = _expression(reg);
        _consume(TOKEN_RIGHT_BRACKET);
        if (_type(i) != TYPE_INT) {
            _warning(previous, "Implicit cast (" + valueTypeName(_type(i)) + " -> int) during variable initialisation");
            _cast(i, TYPE_INT);
        }
        uint32_t t = _allocRegister(TYPE_INT);
        _loadConstant(t, static_cast<int32_t>(k) - 1);
        _emit(OP_SUB, {t, t, i});
        _freeRegister(i);
        ValueType elementType = static_cast<size_t>(idx) + 1 < locals.size() ? locals[idx + 1].type : TYPE_INT;
        uint32_t r = _allocRegister(elementType);
        _emit(OP_SRDR, {r, t});
        _freeRegister(t);
        return r;
    }
    uint32_t r = _allocRegister(varType);
    _emitImmediate(OP_SREAD, r, static_cast<int32_t>(k));
    if (r < kRegisterCount && isArray(varType)) registers[r].arraySlot = static_cast<int32_t>(k);
    return r;
}

// A read of the loop variable with no assignment or element access after it.
uint32_t Compiler::_readLocal(const Token& name) {
    int32_t idx = _resolveLocal(name);
    if (idx == -1) return kNoRegister;  // only after an error was reported
    uint32_t k = _distance(idx);
    _traceAccess(name, idx);
    uint32_t r = _allocRegister(locals[idx].type);
    _emitImmediate(OP_SREAD, r, static_cast<int32_t>(k));
    return r;
}

uint32_t Compiler::_function(const Token& name, uint32_t reg) {
    std::string text = _lexeme(name);
    if (lookupOpFunc(text) != FUNC_LEN) {
        _error(previous, "Unable to resolve variable/function " + text);
        return reg;
    }
    _consume(TOKEN_LEFT_PAREN);
    if (_match(TOKEN_IDENTIFIER)) {
        Token array = previous;
        int32_t idx = _resolveLocal(array);
        if (idx >= 0 && isArray(locals[idx].type)) {
            uint32_t r = _namedVariable(array, reg, false);
            _setType(r, TYPE_INT);
            _consume(TOKEN_RIGHT_PAREN);
            return r;
        }
    }
    _error(previous, "Can't use len() on non-array types");
    return reg;
}

// The result is always left in the left operand's register, so the short-cut
// path (where the right side is skipped) yields the tested left value.
uint32_t Compiler::_shortCut(Op branch, uint32_t precedence, uint32_t left) {
    std::string label = _newLabel();
    _emitBranch(branch, left, label);
    uint32_t right = _parsePrecedence(precedence, left);
    if (right != left) {
        _emit(OP_MOV, {left, right});
        _setType(left, _type(right));
        _freeRegister(right);
    }
    _emitLabel(label);
    return left;
}

// ---------------------------------------------------------------- declarations

void Compiler::_declaration() {
    if (_match(TOKEN_CLASS) || _match(TOKEN_VOID)) return;
    if (_match(TOKEN_INT_DEF)) _varDeclaration(TYPE_INT);
    else if (_match(TOKEN_FLOAT_DEF)) _varDeclaration(TYPE_FLOAT);
    else if (_match(TOKEN_BOOL_DEF)) _varDeclaration(TYPE_BOOL);
    else _statement();
}

void Compiler::_varDeclaration(ValueType type) {
    _consume(TOKEN_IDENTIFIER);
    Token name = previous;
    if (!_match(TOKEN_EQUAL)) {
        _addLocal(name, type);
        uint32_t r = _allocRegister(type);
        _loadConstant(r, 0);
        _markInitialized();
        _pushRegister(r);
    } else if (_match(TOKEN_LEFT_BRACKET)) {
        _arrayDeclaration(name, type);
    } else {
        _addLocal(name, type);
        uint32_t r = _expression(0);
        if (_type(r) != type) {
            _warning(name, "Implicit cast (" + valueTypeName(_type(r)) + " -> " + valueTypeName(type) +
                               ") during variable initialisation");
            _cast(r, type);
        }
        _markInitialized();
        _pushRegister(r);
    }
    _consume(TOKEN_SEMICOLON);
}

void Compiler::_arrayDeclaration(const Token& name, ValueType elementType) {
    ValueType arrayType = TYPE_INT_ARRAY;
    if (elementType == TYPE_FLOAT) arrayType = TYPE_FLOAT_ARRAY;
    else if (elementType != TYPE_INT && elementType != TYPE_BOOL)
        _error(name, "Arrays of " + valueTypeName(elementType) + " not supported");
    _addLocal(name, arrayType);
    uint32_t h = _allocRegister(elementType);
    _loadConstant(h, 0);
    _markInitialized();
    _pushRegister(h);
    uint32_t n = 0;
    // After an error the list may never close: stop instead of looping on.
    while (!hadError) {
        uint32_t r = _expression(0);
        if (_type(r) != elementType) {
            _warning(previous, "Implicit cast (" + valueTypeName(_type(r)) + " -> " + valueTypeName(elementType) +
                                   ") during variable initialisation");
            _cast(r, elementType);
        }
        if (locals.size() >= kMaxLocals) {
            _error(previous, "Variable " + _lexeme(name) + " can't be declared because the stack is full");
            _freeRegister(r);
            break;
        }
        locals.push_back(Local{Token(), elementType, scopeDepth, 1});
        _pushRegister(r);
        ++n;
        if (_match(TOKEN_RIGHT_BRACKET)) {
            uint32_t t = _allocRegister(TYPE_INT);
            _loadConstant(t, static_cast<int32_t>(n));
            _emitImmediate(OP_SWRITE, t, static_cast<int32_t>(n));
            _freeRegister(t);
            break;
        }
        _consume(TOKEN_COMMA);
    }
}

void Compiler::_addLocal(const Token& name, ValueType type) {
    std::string_view wanted = scanner.lexeme(name);
    for (size_t i = locals.size(); i-- > 0;) {
        if (locals[i].depth != -1 && locals[i].depth < scopeDepth) break;
        if (scanner.lexeme(locals[i].name) == wanted)
            _error(previous, "Variable with name " + std::string(wanted) + " already exists in current scope");
    }
    if (locals.size() >= kMaxLocals)
        _error(previous, "Variable " + std::string(wanted) + " can't be declared because the stack is full");
    locals.push_back(Local{name, type, -1, 0});
}

void Compiler::_markInitialized() {
    if (locals.empty()) return;
    locals.back().depth = scopeDepth;
    writeTo(traceOut, "Variable [%s] initialized in scope %d at index %ld\n", _lexeme(locals.back().name).c_str(),
            scopeDepth, static_cast<long>(locals.size()) - 1);
}

// ---------------------------------------------------------------- statements

void Compiler::_statement() {
    NestingGuard guard{nesting};
    if (!_enterNesting()) return;
    if (_match(TOKEN_PRINT)) {
        _printStatement();
    } else if (_match(TOKEN_IF)) {
        _ifStatement();
    } else if (_match(TOKEN_WHILE)) {
        _whileStatement();
    } else if (_match(TOKEN_FOR)) {
        _forStatement();
    } else if (_match(TOKEN_RETURN)) {
        // The keyword alone; nothing belongs to it.
    } else if (_match(TOKEN_LEFT_BRACE)) {
        _block();
    } else {
        uint32_t r = _expression(0);
        _consume(TOKEN_SEMICOLON);
        _freeRegister(r);
    }
}

void Compiler::_printStatement() {
    uint32_t r = _expression(0);
    _consume(TOKEN_SEMICOLON);
    ValueType type = _type(r);
    // The machine prints an array from the distance of its length slot, not from
    // the length value that the read left in the register.
    if (r < kRegisterCount && isArray(type) && registers[r].arraySlot >= 0)
        _loadConstant(r, registers[r].arraySlot);
    _emit(OP_PRINT, {static_cast<uint32_t>(type), r});
    _freeRegister(r);
}

void Compiler::_ifStatement() {
    uint32_t c = _expression(0);
    std::string elseLabel = _newLabel();
    std::string endLabel = _newLabel();
    _emitBranch(OP_BZ, c, elseLabel);
    _freeRegister(c);
    _statement();
    if (_check(TOKEN_ELSE)) {
        _emitJump(endLabel);
        _emitLabel(elseLabel);
        _match(TOKEN_ELSE);
        _statement();
        _emitLabel(endLabel);
    } else {
        _emitLabel(elseLabel);
    }
}

void Compiler::_whileStatement() {
    std::string startLabel = _newLabel();
    std::string exitLabel = _newLabel();
    _emitLabel(startLabel);
    uint32_t c = _expression(0);
    _emitBranch(OP_BZ, c, exitLabel);
    _freeRegister(c);
    _statement();
    _emitJump(startLabel);
    _emitLabel(exitLabel);
}

void Compiler::_forStatement() {
    std::string startLabel = _newLabel();
    _newLabel();  // reserved for a loop body label, never written
    std::string exitLabel = _newLabel();
    _beginScope();
    if (_match(TOKEN_INT_DEF) || _match(TOKEN_FLOAT_DEF) || _match(TOKEN_BOOL_DEF)) {
        _error(previous, "Classic for loop with initializer, condition and post-loop expression not supported");
        _endScope();
        return;
    }
    if (!_match(TOKEN_IDENTIFIER)) {
        _endScope();
        return;
    }
    Token variable = previous;
    _consume(TOKEN_IN);
    uint32_t range = _expression(0);
    if (_type(range) == TYPE_FLOAT) {
        _warning(previous, "Implicit cast (float -> int) during for loop range expression");
        _cast(range, TYPE_INT);
    }
    if (_type(range) == TYPE_INT) {
        _addLocal(variable, TYPE_INT);
        uint32_t t = _allocRegister(TYPE_INT);
        _loadConstant(t, 0);
        _markInitialized();
        _pushRegister(t);
    } else {
        _error(previous, "Can't use " + valueTypeName(_type(range)) + " as for loop range");
    }
    _emitLabel(startLabel);
    uint32_t v = _readLocal(variable);
    _emit(OP_CILT, {v, v, range});
    _setType(v, TYPE_BOOL);
    _emitBranch(OP_BZ, v, exitLabel);
    _freeRegister(v);
    _statement();
    uint32_t w = _readLocal(variable);
    _emit(OP_INC, {w});
    int32_t idx = _resolveLocal(variable);
    int32_t k = idx >= 0 ? static_cast<int32_t>(_distance(idx)) : 0;
    _emitImmediate(OP_SWRITE, w, k);
    _freeRegister(w);
    _emitJump(startLabel);
    _emitLabel(exitLabel);
    _freeRegister(range);
    _endScope();
}

void Compiler::_block() {
    _beginScope();
    while (!_check(TOKEN_RIGHT_BRACE) && !_check(TOKEN_EOF)) _declaration();
    _consume(TOKEN_RIGHT_BRACE);
    _endScope();
}

void Compiler::_endScope() {
    --scopeDepth;
    uint32_t removed = 0;
    while (!locals.empty() && locals.back().depth > scopeDepth) {
        writeTo(traceOut, "Variable [%s] went out of scope\n", _lexeme(locals.back().name).c_str());
        locals.pop_back();
        ++removed;
    }
    _emitPop(removed);
}

}  // namespace CorvaneVM
