// Version stamp of saved files: "major.minor.patch" plus a label that takes
// no part in comparisons.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

struct FileVersion {
    std::string label;
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t patch = 0;

    FileVersion() = default;
    // Braces, not parentheses: some C headers define major() and minor() as macros.
    FileVersion(const std::string& text, uint32_t a, uint32_t b, uint32_t c)
        : label{text}, major{a}, minor{b}, patch{c} {}

    // Reads "major.minor.patch". A field that is not a number reads as 0; the
    // odd forms of older files keep their meaning ("5" is 5.5.5, "1.2" 1.2.1).
    void parse(const std::string& text, const std::string& label);
    static FileVersion fromText(const std::string& text, const std::string& label = "");
    // False when a field of the text does not start with a number.
    static bool isWellFormed(const std::string& text);

    std::string toString() const;

    std::strong_ordering operator<=>(const FileVersion& other) const {
        if (auto c = major <=> other.major; c != 0)
            return c;
        if (auto c = minor <=> other.minor; c != 0)
            return c;
        return patch <=> other.patch;
    }
    bool operator==(const FileVersion& other) const { return (*this <=> other) == 0; }
};
