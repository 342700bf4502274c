// Runs source text through compiler, assembler and machine, keeping every
// stream the tool chain writes so tests can read them.
#pragma once

#include "script/Compiler.h"
#include "script/Cpu.h"
#include "script/Program.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace scripttest {

class Capture {
public:
    Capture() { stream = open_memstream(&buffer, &size); }
    ~Capture() {
        std::fclose(stream);
        std::free(buffer);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::FILE* get() const { return stream; }
    std::string text() {
        std::fflush(stream);
        return std::string(buffer, size);
    }

private:
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* stream = nullptr;
};

struct Outcome {
    bool compiled = false;
    bool assembled = false;
    bool ran = false;
    std::string assembly;
    std::string compileErrors;  // errors and warnings of the compiler
    std::string assembleErrors;
    std::string printed;        // what the machine printed
    std::string report;         // the machine's run report
    std::string printedText;    // the value handed to the caller
    CorvaneVM::RuntimeErrorType error = CorvaneVM::RTE_NONE;
};

inline Outcome runSource(const std::string& source, bool divisionAsFloat = false) {
    Outcome o;
    Capture trace, diag, asmDiag, printed, report;
    CorvaneVM::Compiler compiler(divisionAsFloat);
    compiler.traceOut = trace.get();
    compiler.diagOut = diag.get();
    o.compiled = compiler.compile(source, o.assembly);
    o.compileErrors = diag.text();
    if (!o.compiled) return o;
    CorvaneVM::Program program;
    program.diagOut = asmDiag.get();
    program.listingOut = nullptr;
    std::istringstream text(o.assembly);
    o.assembled = program.assemble(text);
    o.assembleErrors = asmDiag.text();
    if (!o.assembled) return o;
    CorvaneVM::Cpu cpu(true, true);
    cpu.printOut = printed.get();
    cpu.diagOut = report.get();
    cpu.loadProgram(&program);
    CorvaneVM::RunResult result = cpu.execute();
    cpu.report(result);
    o.error = result.error;
    o.ran = result.error == CorvaneVM::RTE_HALT || result.error == CorvaneVM::RTE_END_OF_PROGRAM;
    o.printed = printed.text();
    o.report = report.text();
    o.printedText = cpu.printedText;
    return o;
}

}  // namespace scripttest
