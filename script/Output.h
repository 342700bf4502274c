// Diagnostics and traces of the expression language go to a stream the
// owner chooses (standard output and error by default); null silences them.
#pragma once

#include <cstdio>

namespace CorvaneVM {

void writeTo(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace CorvaneVM
