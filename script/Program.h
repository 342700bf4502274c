// Two-pass assembler: assembly text to 8-byte instructions and a label table.
#pragma once

#include "script/Tables.h"

#include <cstdint>
#include <cstdio>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace CorvaneVM {

struct Instruction {
    uint32_t opcode = 0;
    uint8_t a = 0;
    uint8_t b = 0;
    uint8_t c = 0;
    uint8_t spare = 0;

    bool operator==(const Instruction&) const = default;
};
static_assert(sizeof(Instruction) == 8, "the machine's unit of code is 8 bytes");

class Program {
public:
    bool assemble(std::istream& text);
    bool assembleFile(const std::string& path);
    bool assembleLine(const std::string& lineText, bool listing, bool pass1, bool pass2);
    // Instruction index of the label, -1 when there is none.
    int32_t findLabel(const std::string& name) const;

    std::vector<Instruction> instructions;
    bool valid = false;
    uint32_t line = 0;
    uint32_t index = 0;
    std::map<std::string, uint32_t> labels;

    std::FILE* listingOut = stdout;  // the listing
    std::FILE* diagOut = stderr;     // errors and warnings

private:
    bool _pass(std::istream& text, bool pass1);
    void _list(const std::string& text, const char* kind, const std::string& detail) const;
};

}  // namespace CorvaneVM
