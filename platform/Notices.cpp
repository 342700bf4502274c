#include "platform/Notices.h"

#include <cstdio>

namespace host {

void echoNotice(const char* text) {
    std::printf("screen: %s\n", text);
    std::fflush(stdout);
}

}  // namespace host
