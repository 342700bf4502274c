// Register machine that runs an assembled Program.
#pragma once

#include "script/Program.h"
#include "script/Tables.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace CorvaneVM {

struct RunResult {
    RuntimeErrorType error = RTE_NONE;
    uint32_t pc = 0;
    Instruction instruction;
};

class Cpu {
public:
    static constexpr uint32_t kRegisterCount = 16;
    static constexpr uint32_t kStackSize = 256;
    static constexpr uint32_t kCallStackSize = 16;
    // Instructions one run may execute before it is stopped with
    // RTE_INSTRUCTION_BUDGET: about a few milliseconds of work, far more than
    // any typed expression needs, so a looping program cannot hang its caller.
    static constexpr uint64_t kDefaultInstructionBudget = 1000000;

    Cpu(bool verbose = false, bool trapBranchToSelf = false)
        : verbose(verbose), trapBranchToSelf(trapBranchToSelf) {}

    // Resets everything but the options and printedText, then attaches the
    // program, which must outlive the runs that use it.
    void loadProgram(const Program* program);
    bool run();
    bool runFrom(const std::string& label);
    void printRegisters() const;
    static bool isMnemonic(const std::string& name);

    // Runs without reporting; for callers and tests that want the details.
    RunResult execute(const std::string* label = nullptr);
    void report(const RunResult& result) const;

    bool verbose;
    bool trapBranchToSelf;
    const Program* program = nullptr;
    uint32_t pc = 0;
    RuntimeErrorType error = RTE_NONE;
    Instruction current;
    uint32_t callDepth = 0;
    uint32_t callStack[kCallStackSize] = {};
    uint32_t registers[kRegisterCount] = {};
    uint32_t stackSize = 0;
    uint32_t stack[kStackSize] = {};
    std::string printedText;

    uint64_t instructionBudget = kDefaultInstructionBudget;
    std::FILE* printOut = stdout;  // printed values, load message, register dump
    std::FILE* diagOut = stderr;   // run reports and load errors

private:
    // Executes current; returns the step to the next instruction.
    int64_t _step();
    int64_t _branch(uint32_t high, uint32_t low);
    bool _validDistance(uint32_t k) const { return k < stackSize; }
    uint32_t& _at(uint32_t k) { return stack[stackSize - 1 - k]; }
    void _print(uint32_t kind, uint32_t reg);
    float _f(uint32_t r) const;
    void _setF(uint32_t r, float value);
    int32_t _i(uint32_t r) const { return static_cast<int32_t>(registers[r]); }
};

}  // namespace CorvaneVM
