// Reader of Scala ".scl" tuning files.
#pragma once

#include <istream>
#include <string>
#include <vector>

struct SclParseResult {
    // The degrees as frequency ratios: 1.0 (the unison, which the files leave
    // out) and then one ratio per pitch line in file order. Empty on failure.
    std::vector<double> ratios;
    std::string error;  // empty on success
    bool ok() const { return error.empty(); }
};

// Reads a scale file from the stream. Never throws: a token that cannot be
// read, a ratio that is not finite and above zero or lies more than ten
// octaves from the unison, or a file without pitch
// lines gives an error text that names the line.
SclParseResult parseSclFile(std::istream& in);
