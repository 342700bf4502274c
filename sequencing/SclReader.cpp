#include "sequencing/SclReader.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace {

constexpr double kSemitone = 1.0594630943592953;
// Ten octaves, with room for the rounding of a pitch given in cents.
constexpr double kMaxRatio = 1024.0 * (1.0 + 1e-9);

bool isBlankChar(char c) { return c == ' ' || c == '\t'; }

// Whole-line "[ \t]*!.*" or "[ \t]*".
bool isCommentOrBlank(const std::string& line) {
    size_t i = 0;
    while (i < line.size() && isBlankChar(line[i]))
        ++i;
    return i == line.size() || line[i] == '!';
}

// The first token: leading blanks skipped, up to the next blank or tab.
std::string firstToken(const std::string& line) {
    size_t begin = 0;
    while (begin < line.size() && isBlankChar(line[begin]))
        ++begin;
    size_t end = begin;
    while (end < line.size() && !isBlankChar(line[end]))
        ++end;
    return line.substr(begin, end - begin);
}

bool digitsOnly(const std::string& token) {
    for (char c : token)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string lineText(unsigned lineNumber) { return "line " + std::to_string(lineNumber) + ": "; }

}  // namespace

SclParseResult parseSclFile(std::istream& in) {
    enum class State { Description, Count, Pitches };
    SclParseResult result;
    result.ratios.push_back(1.0);
    State state = State::Description;
    std::string line;
    unsigned lineNumber = 0;
    size_t pitchLines = 0;

    auto fail = [&](const std::string& text) {
        result.ratios.clear();
        result.error = lineText(lineNumber) + text;
        return result;
    };

    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (isCommentOrBlank(line))
            continue;
        const std::string token = firstToken(line);

        if (state == State::Description) {
            state = State::Count;
            continue;
        }
        if (state == State::Count) {
            // The count is read but does not limit the pitch lines.
            try {
                (void)std::stoul(token);
            } catch (const std::exception& e) {
                return fail("the pitch count \"" + token + "\" is not a number (" + e.what() + ")");
            }
            state = State::Pitches;
            continue;
        }

        double ratio = 0.0;
        try {
            if (token.find('.') != std::string::npos) {
                ratio = std::pow(kSemitone, std::stod(token) * 0.01);
            } else if (size_t slash = token.rfind('/'); slash != std::string::npos) {
                const int numerator = std::stoi(token.substr(0, slash));
                const int denominator = std::stoi(token.substr(slash + 1));
                ratio = double(numerator) / double(denominator);
            } else if (!token.empty() && digitsOnly(token)) {
                ratio = std::stoi(token);
            } else {
                continue;  // not a pitch (a lone minus sign and digits, a word)
            }
        } catch (const std::exception& e) {
            return fail("the pitch \"" + token + "\" cannot be read (" + e.what() + ")");
        }
        // Scales keep their degrees in single precision: the ratio must stay
        // finite and above zero there too, or its notes would have no pitch.
        const float narrowed = float(ratio);
        if (!(std::isfinite(narrowed) && narrowed > 0.0f))
            return fail("the pitch \"" + token + "\" is not a ratio above zero");
        // A degree far beyond any musical interval would take the notes of the
        // higher and lower octaves past what a frequency can hold.
        if (ratio > kMaxRatio || ratio < 1.0 / kMaxRatio)
            return fail("the pitch \"" + token + "\" lies more than ten octaves from the unison");
        result.ratios.push_back(ratio);
        ++pitchLines;
    }
    if (pitchLines == 0) {
        result.ratios.clear();
        result.error = state == State::Pitches ? "the scale has no intervals" : "no pitch count found";
    }
    return result;
}
