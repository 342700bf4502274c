#include "script/Cpu.h"

#include "script/Output.h"

#include <cmath>
#include <cstring>

namespace CorvaneVM {

void Cpu::loadProgram(const Program* p) {
    pc = 0;
    error = RTE_NONE;
    current = Instruction();
    callDepth = 0;
    std::memset(callStack, 0, sizeof callStack);
    std::memset(registers, 0, sizeof registers);
    stackSize = 0;
    std::memset(stack, 0, sizeof stack);
    program = p;
    if (!p || !p->valid)
        writeTo(diagOut, "Program not valid\n");
    else if (verbose)
        writeTo(printOut, "Loaded program (%lu instructions)\n", static_cast<unsigned long>(p->instructions.size()));
}

bool Cpu::run() {
    RunResult result = execute();
    report(result);
    return result.error == RTE_HALT || result.error == RTE_END_OF_PROGRAM;
}

bool Cpu::runFrom(const std::string& label) {
    RunResult result = execute(&label);
    report(result);
    return result.error == RTE_HALT || result.error == RTE_END_OF_PROGRAM;
}

bool Cpu::isMnemonic(const std::string& name) { return CorvaneVM::isMnemonic(name); }

void Cpu::report(const RunResult& result) const {
    if (result.error == RTE_NONE) return;
    writeTo(diagOut, "CPU: %s [%d: %s]\n", runtimeErrorText(result.error), static_cast<int>(result.pc),
            opName(result.instruction.opcode).c_str());
}

void Cpu::printRegisters() const {
    std::string line = "regist";
    char field[32];
    for (uint32_t r = 0; r < kRegisterCount; ++r) {
        std::snprintf(field, sizeof field, " %2u %08x ", r, registers[r]);
        line += field;
    }
    writeTo(printOut, "%s\n", line.c_str());
}

RunResult Cpu::execute(const std::string* label) {
    error = RTE_NONE;
    if (!program || !program->valid) return RunResult{RTE_PROGRAM_INVALID, 0, Instruction()};
    if (label) {
        int32_t start = program->findLabel(*label);
        if (start < 0) return RunResult{RTE_LABEL_NOT_FOUND, 0, Instruction()};
        pc = static_cast<uint32_t>(start);
    }
    const auto& code = program->instructions;
    const uint64_t count = code.size();
    if (count == 0) return RunResult{RTE_PROGRAM_EMPTY, pc, Instruction()};

    for (uint64_t executed = 0;; ++executed) {
        current = pc < count ? code[pc] : Instruction();
        if (executed >= instructionBudget) return RunResult{RTE_INSTRUCTION_BUDGET, pc, current};
        int64_t step = _step();
        if (error != RTE_NONE) return RunResult{error, pc, current};
        pc = static_cast<uint32_t>(pc + static_cast<uint32_t>(step));
        if (pc == count) return RunResult{RTE_END_OF_PROGRAM, pc, current};
        if (pc > count) return RunResult{RTE_PC_OUT_OF_RANGE, pc, current};
    }
}

float Cpu::_f(uint32_t r) const {
    float value;
    std::memcpy(&value, &registers[r], sizeof value);
    return value;
}

void Cpu::_setF(uint32_t r, float value) { std::memcpy(&registers[r], &value, sizeof value); }

int64_t Cpu::_branch(uint32_t high, uint32_t low) {
    int64_t d = static_cast<int64_t>(high * 256 + low) - 32768;
    if (d == 0 && trapBranchToSelf) {
        error = RTE_BRANCH_TO_SELF;
        return 0;
    }
    return d;
}

int64_t Cpu::_step() {
    // Operand bytes come from any program text: keep register numbers in range.
    const uint32_t a = current.a, b = current.b, c = current.c;
    const uint32_t ra = a & 15, rb = b & 15, rc = c & 15;
    uint32_t* R = registers;
    switch (current.opcode) {
    case OP_INVALID: error = RTE_INVALID_INSTRUCTION; return 1;
    case OP_JMP: return _branch(a, b);
    case OP_HALT: error = RTE_HALT; return 1;
    case OP_CALL:
        if (callDepth < kCallStackSize) callStack[callDepth++] = pc + 1;
        return static_cast<int64_t>(c) - 128;
    case OP_RET:
        // Nothing to return to: the return address is undefined, which ends the run.
        if (callDepth == 0) {
            error = RTE_PC_OUT_OF_RANGE;
            return 1;
        }
        --callDepth;
        return static_cast<int64_t>(callStack[callDepth]) - static_cast<int64_t>(pc);
    case OP_PRINT: _print(a, rb); return 1;
    case OP_CEQ: R[ra] = R[rb] == R[rc]; return 1;
    case OP_CNE: R[ra] = R[rb] != R[rc]; return 1;
    case OP_CIGT: R[ra] = _i(rb) > _i(rc); return 1;
    case OP_CIGE: R[ra] = _i(rb) >= _i(rc); return 1;
    case OP_CILT: R[ra] = _i(rb) < _i(rc); return 1;
    case OP_CILE: R[ra] = _i(rb) <= _i(rc); return 1;
    case OP_CFGT: R[ra] = _f(rb) > _f(rc); return 1;
    case OP_CFGE: R[ra] = _f(rb) >= _f(rc); return 1;
    case OP_CFLT: R[ra] = _f(rb) < _f(rc); return 1;
    case OP_CFLE: R[ra] = _f(rb) <= _f(rc); return 1;
    case OP_BZ: return R[ra] == 0 ? _branch(b, c) : 1;
    case OP_BNZ: return R[ra] != 0 ? _branch(b, c) : 1;
    case OP_MOV: R[ra] = R[rb]; return 1;
    case OP_SPUSH:
        if (stackSize == kStackSize) {
            error = RTE_STACK_FULL;
            return 1;
        }
        stack[stackSize++] = R[ra];
        return 1;
    case OP_SPOP:
        if (stackSize > 0) R[ra] = stack[--stackSize];
        else R[ra] = 0;
        return 1;
    case OP_SXPOP: stackSize = a < stackSize ? stackSize - a : 0; return 1;
    case OP_SREAD:
    case OP_SRDR: {
        uint32_t k = current.opcode == OP_SREAD ? b * 256 + c : R[rb];
        if (_validDistance(k)) {
            R[ra] = _at(k);
        } else {
            R[ra] = 0;
            error = RTE_INVALID_ADDRESS;
        }
        return 1;
    }
    case OP_SWRITE: {
        uint32_t k = b * 256 + c;
        if (_validDistance(k)) _at(k) = R[ra];
        else error = RTE_INVALID_ADDRESS;
        return 1;
    }
    case OP_LDI: R[ra] = b * 256 + c; return 1;
    case OP_LDIH: R[ra] |= (b << 24) | (c << 16); return 1;
    case OP_ITOF: _setF(ra, static_cast<float>(_i(ra))); return 1;
    case OP_FTOI: {
        float f = _f(ra);
        int32_t value;
        if (std::isnan(f)) value = 0;
        else if (f >= 2147483648.0f) value = INT32_MAX;
        else if (f <= -2147483648.0f) value = INT32_MIN;
        else value = static_cast<int32_t>(f);
        R[ra] = static_cast<uint32_t>(value);
        return 1;
    }
    // Unsigned arithmetic wraps at 32 bits without undefined behaviour.
    case OP_ADD: R[ra] = R[rb] + R[rc]; return 1;
    case OP_SUB: R[ra] = R[rb] - R[rc]; return 1;
    case OP_MUL: R[ra] = R[rb] * R[rc]; return 1;
    case OP_DIV:
        if (R[rc] == 0) {
            error = RTE_DIVISION_BY_ZERO;
            return 1;
        }
        // The one quotient that does not fit wraps like the other operations.
        if (_i(rb) == INT32_MIN && _i(rc) == -1) R[ra] = static_cast<uint32_t>(INT32_MIN);
        else R[ra] = static_cast<uint32_t>(_i(rb) / _i(rc));
        return 1;
    case OP_INC: R[ra] += 1; return 1;
    case OP_DEC: R[ra] -= 1; return 1;
    case OP_NEG: R[ra] = 0u - R[ra]; return 1;
    case OP_NOT: R[ra] = R[ra] == 0; return 1;
    case OP_FADD: _setF(ra, _f(rb) + _f(rc)); return 1;
    case OP_FSUB: _setF(ra, _f(rb) - _f(rc)); return 1;
    case OP_FMUL: _setF(ra, _f(rb) * _f(rc)); return 1;
    case OP_FDIV:
        if (_f(rc) == 0.0f) {
            error = RTE_DIVISION_BY_ZERO;
            return 1;
        }
        _setF(ra, _f(rb) / _f(rc));
        return 1;
    case OP_FNEG: _setF(ra, -_f(ra)); return 1;
    case OP_FNOT: _setF(ra, _f(ra) == 0.0f ? 1.0f : 0.0f); return 1;
    default: return 1;
    }
}

void Cpu::_print(uint32_t kind, uint32_t reg) {
    char text[64];
    switch (kind) {
    case 0:
        writeTo(printOut, "PRINT %d (int)\n", _i(reg));
        std::snprintf(text, sizeof text, "%d", _i(reg));
        printedText = text;
        break;
    case 1:
        writeTo(printOut, "PRINT %f (float)\n", static_cast<double>(_f(reg)));
        std::snprintf(text, sizeof text, "%f", static_cast<double>(_f(reg)));
        printedText = text;
        break;
    case 2:
        writeTo(printOut, "PRINT %s (bool)\n", registers[reg] != 0 ? "true" : "false");
        printedText = registers[reg] != 0 ? "1" : "0";
        break;
    case 3:
    case 4: {
        uint32_t k = registers[reg];
        int32_t n = _validDistance(k) ? static_cast<int32_t>(_at(k)) : 0;
        // No array holds more words than the stack: a corrupt length cannot make this run long.
        int32_t shown = n < 0 ? 0 : (n > static_cast<int32_t>(kStackSize) ? static_cast<int32_t>(kStackSize) : n);
        std::string line = "PRINT [ ";
        for (int32_t i = 1; i <= shown; ++i) {
            uint32_t d = k - static_cast<uint32_t>(i);
            uint32_t word = _validDistance(d) ? _at(d) : 0;
            if (kind == 3) {
                std::snprintf(text, sizeof text, "%d ", static_cast<int32_t>(word));
            } else {
                float f;
                std::memcpy(&f, &word, sizeof f);
                std::snprintf(text, sizeof text, "%f ", static_cast<double>(f));
            }
            line += text;
        }
        writeTo(printOut, "%s] (%s array with %d units) \n", line.c_str(), kind == 3 ? "int" : "float", n);
        break;
    }
    case 5: writeTo(printOut, "PRINT (string not supported yet)\n"); break;
    default: break;
    }
}

}  // namespace CorvaneVM
