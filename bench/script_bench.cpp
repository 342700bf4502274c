// Cost of one numpad evaluation (compile, assemble, run) and of a run that
// uses the whole instruction budget (the longest any typed text can block).
#include "script/Compiler.h"
#include "script/Cpu.h"
#include "script/Program.h"

#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

namespace {

bool evaluate(const std::string& source, std::string& printed) {
    CorvaneVM::Compiler compiler(true);
    compiler.traceOut = nullptr;
    compiler.diagOut = nullptr;
    std::string assembly;
    if (!compiler.compile(source, assembly)) return false;
    CorvaneVM::Program program;
    program.diagOut = nullptr;
    std::istringstream in(assembly);
    if (!program.assemble(in)) return false;
    CorvaneVM::Cpu cpu(false, true);
    cpu.printOut = nullptr;
    cpu.diagOut = nullptr;
    cpu.loadProgram(&program);
    bool ok = cpu.run();
    printed = cpu.printedText;
    return ok;
}

void BM_EvaluateExpression(benchmark::State& state) {
    std::string printed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(evaluate("print((1.5+2)*3-7/2);", printed));
    }
}
BENCHMARK(BM_EvaluateExpression);

void BM_RunWholeBudget(benchmark::State& state) {
    std::string printed;
    for (auto _ : state) {
        benchmark::DoNotOptimize(evaluate("int i; while true { i = i + 1; }", printed));
    }
}
BENCHMARK(BM_RunWholeBudget)->Unit(benchmark::kMillisecond);

}  // namespace
