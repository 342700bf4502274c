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
// the board's "/tmp/x" -> ROOT/.host/x (so "/tmp/corvane-exit-code" ->
// ROOT/.host/corvane-exit-code), any other absolute path -> ROOT/path, a
// relative path -> ROOT/path. ".." never climbs above the root.
std::string hostPath(std::string_view instrumentPath);

// ROOT/.host: the host's own files (the lock, the MIDI port link) and what
// the board keeps outside its data folder. A dot name, so the instrument's
// file browser never lists it to the player.
std::string hostFolder();

// Holds the root for this process while an instrument runs on it (a write
// lock on .host/corvane.lock under the root), so a second instrument cannot
// write the same files beside it. False, with one line naming the root and
// the process that holds it, when another process has it (an earlier
// version's tmp/corvane.lock included). A root that cannot be locked runs
// unguarded, saying so in one line. Removes the host files an earlier
// version left in the player's tmp/ (and tmp/ when nothing else is in it).
// Locks are per process: instruments set up one after another in one
// process (the test programs) share it.
bool lockRoot(const std::string& root);
// Lets the root go (at clean-up, or after a failed set-up).
void unlockRoot();

// mkdir -p; true when the folder exists afterwards, else errno tells why
// (ENOTDIR when the path is something else).
bool makeFolders(const std::string& path);

}  // namespace host
