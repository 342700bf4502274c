// The data root: the host folder that stands for the instrument's own storage.
// Every fixed path of the firmware goes through hostPath.
#pragma once

#include <string>
#include <string_view>

namespace host {

// Sets the root (created when missing); an empty root picks the default
// folder in the user's data directory. Returns false when it cannot be made,
// or is too long for the host's files in it (ENAMETOOLONG, and no folder
// made), with errno telling why.
bool setRoot(const std::string& root);
const std::string& root();
std::string defaultRoot();
// The folder a --root of `root` stands for (the default for an empty one).
std::string rootFolderFor(const std::string& root);

// Maps an instrument path under the root: "/home/corvane/x" -> ROOT/x,
// the board's "/tmp/x" -> ROOT/.host/x (so "/tmp/corvane-exit-code" ->
// ROOT/.host/corvane-exit-code), any other absolute path -> ROOT/path, a
// relative path -> ROOT/path. ".." never climbs above the root.
std::string hostPath(std::string_view instrumentPath);

// Makes the folders of the board's home folder that the player's storage
// starts with (projects/, where the file browser saves projects: it makes
// no folders itself) in the current root when they are missing.
void makeHomeFolders();

// ROOT/.host of the current root (see HostFolder.h).
std::string hostFolder();

// mkdir -p; true when the folder exists afterwards, else errno tells why
// (ENOTDIR when the path is something else).
bool makeFolders(const std::string& path);

}  // namespace host
