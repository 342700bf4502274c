// Runs a command of a real peer (sox, jq, netpbm, liblo tools) and returns
// everything it wrote to standard output.
#pragma once

#include <cstdio>
#include <string>

namespace testsupport {

inline std::string shellOutput(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    pclose(pipe);
    return out;
}

}  // namespace testsupport
