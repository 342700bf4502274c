// Arbitrary bytes through the expression language: as source text through
// compiler, assembler and machine, or (first byte odd) as assembly text
// straight into assembler and machine. Every input must end in a result,
// never a crash, a hang or a sanitizer report.
#include "script/Compiler.h"
#include "script/Cpu.h"
#include "script/Program.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

namespace {

void runAssembly(const std::string& text) {
    CorvaneVM::Program program;
    program.diagOut = nullptr;
    program.listingOut = nullptr;
    std::istringstream in(text);
    if (!program.assemble(in)) return;
    CorvaneVM::Cpu cpu(true, (text.size() & 1) != 0);
    cpu.printOut = nullptr;
    cpu.diagOut = nullptr;
    cpu.instructionBudget = 200000;
    cpu.loadProgram(&program);
    cpu.run();
    cpu.run();  // a second run continues from where the first stopped
    cpu.runFrom("start");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool assemblyMode = data[0] & 1;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (assemblyMode) {
        runAssembly(text);
        return 0;
    }
    CorvaneVM::Compiler compiler((data[0] & 2) != 0);
    compiler.traceOut = nullptr;
    compiler.diagOut = nullptr;
    std::string assembly;
    if (compiler.compile(text, assembly)) runAssembly(assembly);
    return 0;
}
