#include "instrument/FileVersion.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

// Signed decimal at the start of a field (white space and a sign allowed),
// stored as unsigned; no number gives 0. Out-of-range numbers saturate
// instead of throwing, so a bad version text can never bring a reader down.
uint32_t numberAt(const std::string& text, size_t from, bool* ok = nullptr) {
    const char* start = text.c_str() + (from < text.size() ? from : text.size());
    char* end = nullptr;
    long long v = std::strtoll(start, &end, 10);
    if (ok)
        *ok = end != start;
    if (v > INT_MAX)
        v = INT_MAX;
    if (v < INT_MIN)
        v = INT_MIN;
    return static_cast<uint32_t>(static_cast<int32_t>(v));
}

}  // namespace

void FileVersion::parse(const std::string& text, const std::string& newLabel) {
    label = newLabel;
    major = minor = patch = 0;
    size_t p1 = text.find('.');
    size_t p2 = p1 == std::string::npos ? std::string::npos : text.find('.', p1 + 1);
    // Without a dot every field starts at the beginning; without a second dot
    // the third field does.
    size_t minorFrom = p1 == std::string::npos ? 0 : p1 + 1;
    size_t patchFrom = p2 == std::string::npos ? 0 : p2 + 1;
    major = numberAt(text, 0);
    minor = numberAt(text, minorFrom);
    patch = numberAt(text, patchFrom);
}

FileVersion FileVersion::fromText(const std::string& text, const std::string& label) {
    FileVersion v;
    v.parse(text, label);
    return v;
}

bool FileVersion::isWellFormed(const std::string& text) {
    size_t p1 = text.find('.');
    size_t p2 = p1 == std::string::npos ? std::string::npos : text.find('.', p1 + 1);
    bool a = false, b = false, c = false;
    numberAt(text, 0, &a);
    numberAt(text, p1 == std::string::npos ? 0 : p1 + 1, &b);
    numberAt(text, p2 == std::string::npos ? 0 : p2 + 1, &c);
    return a && b && c;
}

std::string FileVersion::toString() const {
    char text[40];
    std::snprintf(text, sizeof text, "%u.%u.%u", major, minor, patch);
    return text;
}
