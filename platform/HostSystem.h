// What the firmware asks of the operating system beyond files and devices:
// shell commands (the SSH setting), the interface addresses and the host
// name. On this host commands never reach a shell: the one runner records
// them and carries out only a "mv" between paths of the data root, so the
// machine's own configuration is never touched.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace host {

// Runs a command line of parts joined by "&&", each optionally led by
// "sudo": "mv A B" renames the mapped paths (hostPath), "systemctl ..."
// succeeds without doing anything; any other part fails (127). Stops at the
// first failing part. Returns 0 on success, like a shell.
int runCommand(const std::string& commandLine);
// Every command line given to runCommand, in order.
std::vector<std::string> recordedCommands();
void clearRecordedCommands();
// Tests replace the emulation (to make a command fail); null restores it.
using CommandRunner = std::function<int(const std::string&)>;
void setCommandRunner(CommandRunner runner);

// The interface whose addresses the instrument shows ("eth0" on the board;
// the host option --net-interface picks another, which may not exist).
void setNetworkInterface(const std::string& name);
std::string networkInterface();
// The last IPv4 and IPv6 address of that interface as text ("" for a
// family without one). False when the system list cannot be read.
bool interfaceAddresses(std::string& ipv4, std::string& ipv6);
// The host name, always NUL-terminated within size. False on failure.
bool hostName(char* out, size_t size);

}  // namespace host
