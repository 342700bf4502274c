#include "script/Output.h"

#include <cstdarg>

namespace CorvaneVM {

void writeTo(std::FILE* stream, const char* format, ...) {
    if (!stream) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
}

}  // namespace CorvaneVM
