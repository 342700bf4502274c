#include "platform/HostSystem.h"

#include "platform/Paths.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <sstream>

namespace host {
namespace {

std::mutex gMutex;
std::vector<std::string> gRecorded;
CommandRunner gRunner;
std::string gInterface = "eth0";

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

int emulatePart(std::string part) {
    part = trim(part);
    if (part.rfind("sudo ", 0) == 0)
        part = trim(part.substr(5));
    std::istringstream words(part);
    std::string verb, a, b, extra;
    words >> verb >> a >> b >> extra;
    if (verb == "systemctl")
        return 0;
    if (verb == "mv" && !a.empty() && !b.empty() && extra.empty())
        return ::rename(hostPath(a).c_str(), hostPath(b).c_str()) == 0 ? 0 : 1;
    return 127;
}

int emulate(const std::string& line) {
    size_t start = 0;
    for (;;) {
        const size_t end = line.find("&&", start);
        const int result = emulatePart(line.substr(start, end == std::string::npos ? end : end - start));
        if (result != 0 || end == std::string::npos)
            return result;
        start = end + 2;
    }
}

}  // namespace

int runCommand(const std::string& commandLine) {
    CommandRunner runner;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        gRecorded.push_back(commandLine);
        runner = gRunner;
    }
    printf("Command (recorded, not run by a shell): %s\n", commandLine.c_str());
    return runner ? runner(commandLine) : emulate(commandLine);
}

std::vector<std::string> recordedCommands() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gRecorded;
}

void clearRecordedCommands() {
    std::lock_guard<std::mutex> lock(gMutex);
    gRecorded.clear();
}

void setCommandRunner(CommandRunner runner) {
    std::lock_guard<std::mutex> lock(gMutex);
    gRunner = std::move(runner);
}

void setNetworkInterface(const std::string& name) {
    std::lock_guard<std::mutex> lock(gMutex);
    gInterface = name;
}

std::string networkInterface() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gInterface;
}

bool interfaceAddresses(std::string& ipv4, std::string& ipv6) {
    ipv4.clear();
    ipv6.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    const std::string wanted = networkInterface();
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || !a->ifa_name || wanted != a->ifa_name)
            continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (a->ifa_addr->sa_family == AF_INET) {
            if (inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text))
                ipv4 = text;
        } else if (a->ifa_addr->sa_family == AF_INET6) {
            if (inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(a->ifa_addr)->sin6_addr, text, sizeof text))
                ipv6 = text;
        }
    }
    freeifaddrs(list);
    return true;
}

bool hostName(char* out, size_t size) {
    if (!out || size == 0)
        return false;
    if (gethostname(out, size) != 0) {
        out[0] = '\0';
        return false;
    }
    out[size - 1] = '\0';  // a truncated name need not be terminated
    return true;
}

}  // namespace host
