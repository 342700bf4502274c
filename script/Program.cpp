#include "script/Program.h"

#include "script/Output.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace CorvaneVM {

namespace {

constexpr int64_t kMissingLabel = -99999;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Base-10 value of a number word: optional sign, digits, anything after the
// digits ignored. False when no digits or the value does not fit a long.
bool parseNumber(const std::string& word, long& value) {
    errno = 0;
    char* end = nullptr;
    value = std::strtol(word.c_str(), &end, 10);
    if (end == word.c_str()) return false;
    return errno != ERANGE;
}

enum class Layout { None, Jump, Branch, Call, Count, Immediate, Registers };

Layout layoutOf(uint32_t op) {
    switch (op) {
    case OP_HALT:
    case OP_RET: return Layout::None;
    case OP_CALL: return Layout::Call;
    case OP_JMP: return Layout::Jump;
    case OP_BZ:
    case OP_BNZ: return Layout::Branch;
    case OP_SXPOP: return Layout::Count;
    case OP_SREAD:
    case OP_SWRITE:
    case OP_LDI:
    case OP_LDIH: return Layout::Immediate;
    default: return Layout::Registers;
    }
}

}  // namespace

bool Program::assemble(std::istream& text) {
    instructions.clear();
    valid = false;
    line = 0;
    index = 0;
    labels.clear();

    // Both passes read the same lines, so streams that cannot seek work too.
    std::vector<std::string> lines;
    std::string lineText;
    while (std::getline(text, lineText)) {
        if (!lineText.empty() && lineText.back() == '\r') lineText.pop_back();
        lines.push_back(lineText);
    }
    for (int pass = 1; pass <= 2; ++pass) {
        line = 1;
        index = 0;
        for (const auto& l : lines)
            if (!assembleLine(l, false, pass == 1, pass == 2)) return false;
    }
    valid = true;
    return true;
}

bool Program::assembleFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file || file.peek() == std::ifstream::traits_type::eof()) return false;
    return assemble(file);
}

int32_t Program::findLabel(const std::string& name) const {
    auto it = labels.find(name);
    return it == labels.end() ? -1 : static_cast<int32_t>(it->second);
}

void Program::_list(const std::string& text, const char* kind, const std::string& detail) const {
    writeTo(listingOut, " %4d  %-20.20s  %-5s  |  %s\n", static_cast<int>(line), text.c_str(), kind, detail.c_str());
}

bool Program::assembleLine(const std::string& original, bool listing, bool pass1, bool pass2) {
    std::string text = original;
    for (char& ch : text)
        if (ch == '\t') ch = ' ';

    size_t first = 0;
    while (first < text.size() && isBlank(text[first])) ++first;
    // A line of blanks only counts as an empty line.
    if (first == text.size()) {
        if (listing) _list(text, "-", "");
        ++line;
        return true;
    }
    size_t wordEnd = text.find_first_of(" :;\t\n", first);
    if (wordEnd == std::string::npos) wordEnd = text.size();
    std::string word = text.substr(first, wordEnd - first);

    if (wordEnd < text.size() && text[wordEnd] == ':') {
        if (pass1) {
            if (labels.count(word)) {
                writeTo(diagOut, "Label already defined at line %d\n", static_cast<int>(line));
                return false;
            }
            labels[word] = index;
        }
        if (listing) _list(text, "label", "");
        ++line;
        return true;
    }
    if (text[first] == ';') {
        if (listing) _list(text, "cmt", "");
        ++line;
        return true;
    }
    Op op = lookupOp(word);
    if (op == OP_INVALID) {
        ++line;
        return true;
    }
    if (!pass2) {
        if (listing) _list(text, "OP", "?");
        ++index;
        ++line;
        return true;
    }

    // Operand words.
    long operands[3] = {0, 0, 0};
    bool given[3] = {false, false, false};
    std::string label;
    size_t pos = wordEnd;
    for (int k = 0; k < 3; ++k) {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos >= text.size() || text[pos] == ';') break;
        size_t end = pos;
        while (end < text.size() && !isBlank(text[end])) ++end;
        std::string operand = text.substr(pos, end - pos);
        pos = end;
        bool number = operand[0] == '-' || (operand[0] >= '0' && operand[0] <= '9') ||
                      (operand.size() > 1 && operand[1] == '+');
        if (number) {
            if (!parseNumber(operand, operands[k])) {
                writeTo(diagOut, "Invalid number: %s (line %d)\n", operand.c_str(), static_cast<int>(line));
                return false;
            }
            given[k] = true;
        } else {
            label = operand;
        }
    }

    int64_t distance = 0;
    bool hasDistance = false;
    if (!label.empty()) {
        auto it = labels.find(label);
        if (it == labels.end()) {
            writeTo(diagOut, "Could not locate label [%s] (line %d)\n", label.c_str(), static_cast<int>(line));
            distance = kMissingLabel;
        } else {
            distance = static_cast<int64_t>(it->second) - static_cast<int64_t>(index);
        }
        hasDistance = true;
    }
    Layout layout = layoutOf(op);
    // Without a label a jump takes its distance from the number in its place.
    if (!hasDistance) {
        if (layout == Layout::Jump || layout == Layout::Call) distance = operands[0], hasDistance = given[0];
        else if (layout == Layout::Branch) distance = operands[1], hasDistance = given[1];
    }
    int64_t lowest = layout == Layout::Call ? -128 : -32768;
    int64_t highest = layout == Layout::Call ? 127 : 32767;
    if (hasDistance && (distance < lowest || distance > highest)) {
        writeTo(diagOut, "PC offset out of range: %d (line %d)\n", static_cast<int>(distance), static_cast<int>(line));
        return false;
    }
    if (!label.empty() && (distance == 0 || distance == 1))
        writeTo(diagOut, "Warning: PC offset to label [%s] equals to %d (line %d)\n", label.c_str(),
                static_cast<int>(distance), static_cast<int>(line));

    auto registerOk = [&](long value) {
        if (value >= 0 && value <= 15) return true;
        writeTo(diagOut, "Register out of range: %ld (on line %d)\n", value, static_cast<int>(line));
        return false;
    };
    auto operandOk = [&](long value, long low, long high) {
        if (value >= low && value <= high) return true;
        writeTo(diagOut, "Operand out of range: %ld (line %d)\n", value, static_cast<int>(line));
        return false;
    };

    Instruction ins;
    ins.opcode = op;
    uint32_t biased = static_cast<uint32_t>(distance + 32768);
    switch (layout) {
    case Layout::None: break;
    case Layout::Call: ins.c = static_cast<uint8_t>(distance + 128); break;
    case Layout::Jump:
        ins.a = static_cast<uint8_t>(biased >> 8);
        ins.b = static_cast<uint8_t>(biased);
        break;
    case Layout::Branch:
        if (!registerOk(operands[0])) return false;
        ins.a = static_cast<uint8_t>(operands[0]);
        ins.b = static_cast<uint8_t>(biased >> 8);
        ins.c = static_cast<uint8_t>(biased);
        break;
    case Layout::Count:
        // The count is one byte; a wider one would silently pop the wrong number.
        if (!operandOk(operands[0], 0, 255)) return false;
        ins.a = static_cast<uint8_t>(operands[0]);
        break;
    case Layout::Immediate:
        if (!registerOk(operands[0]) || !operandOk(operands[1], -32768, 65535)) return false;
        ins.a = static_cast<uint8_t>(operands[0]);
        ins.b = static_cast<uint8_t>((operands[1] >> 8) & 0xFF);
        ins.c = static_cast<uint8_t>(operands[1] & 0xFF);
        break;
    case Layout::Registers:
        for (long value : operands)
            if (!registerOk(value)) return false;
        ins.a = static_cast<uint8_t>(operands[0]);
        ins.b = static_cast<uint8_t>(operands[1]);
        ins.c = static_cast<uint8_t>(operands[2]);
        break;
    }
    if (listing) {
        char detail[128];
        std::snprintf(detail, sizeof detail, "%4d %-5s %3d %3d %3d   %s", static_cast<int>(index), word.c_str(), ins.a,
                      ins.b, ins.c, label.c_str());
        _list(text, "OP", std::string(detail).substr(0, 33));
    }
    instructions.push_back(ins);
    ++index;
    ++line;
    return true;
}

}  // namespace CorvaneVM
