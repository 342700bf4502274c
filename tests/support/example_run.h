// The README's example scripts run as the README gives them: scripts/run.sh
// offline on a data root, pointed at the built program.
#pragma once

#include "tests/support/Shell.h"

#include <string>

namespace testsupport {

inline const std::string kExamples = std::string(CORVANE_SOURCE_DIR) + "/examples/";
inline const std::string kRunScript = std::string(CORVANE_SOURCE_DIR) + "/scripts/run.sh";

// What the run said (standard output and error), then "status N".
inline std::string runExample(const std::string& root, const std::string& script, const std::string& seconds) {
    return shellOutput("env -u CORVANE_LAUNCHER CORVANE_BINARY='" CORVANE_BINARY "' '" + kRunScript + "' --root '" +
                       root + "' --offline --seconds " + seconds + " --panel-script '" + kExamples + script +
                       "' 2>&1 </dev/null; echo \"status $?\"");
}

}  // namespace testsupport
