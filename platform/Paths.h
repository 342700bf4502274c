// The data root: the host folder that stands for the instrument's own storage.
// Every fixed path of the firmware goes through hostPath.
#pragma once

#include <string>
#include <string_view>

namespace host {

// Sets the root (created when missing); an empty root picks the default
// folder in the user's data directory. Returns false when it cannot be made,
// with errno telling why.
bool setRoot(const std::string& root);
const std::string& root();
std::string defaultRoot();

// Maps an instrument path under the root: "/home/corvane/x" -> ROOT/x,
// any other absolute path -> ROOT/path (so "/tmp/corvane-exit-code" ->
// ROOT/tmp/corvane-exit-code), a relative path -> ROOT/path. ".." never
// climbs above the root.
std::string hostPath(std::string_view instrumentPath);

// Holds the root for this process while an instrument runs on it (a write
// lock on tmp/corvane.lock under the root), so a second instrument cannot
// write the same files beside it. False, with one line naming the root and
// the process that holds it, when another process has it. A root whose
// tmp/ cannot be written runs unguarded. Locks are per process: instruments
// set up one after another in one process (the test programs) share it.
bool lockRoot(const std::string& root);
// Lets the root go (at clean-up, or after a failed set-up).
void unlockRoot();

// mkdir -p; true when the folder exists afterwards, else errno tells why
// (ENOTDIR when the path is something else).
bool makeFolders(const std::string& path);

}  // namespace host
