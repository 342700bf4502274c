#include "platform/Notices.h"

#include "platform/RtPrintf.h"

#include <string>

namespace host {

void echoNotice(const char* text) {
    std::string line = std::string("screen: ") + text;
    // A notice's own final newline would leave an empty line after it.
    while (line.ends_with('\n'))
        line.pop_back();
    rtPrintLine(line.data(), line.size());
}

}  // namespace host
