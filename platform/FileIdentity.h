// Which file a path the player names stands for: through its symbolic
// links, as the host writes it, and whether two such paths are one file.
#pragma once

#include <string>

namespace host {

// Follows the links that `path` itself names, hop by hop (a relative target
// from the link's own folder), up to the file or the name a link leads to,
// which may not exist yet. With `asTheKernelWould`, a link in a sticky
// folder writable by all is followed only when it is the player's own
// (effective user) or the folder owner's. Empty when done, else why not.
std::string followLinks(std::string& path, bool asTheKernelWould);

// Whether `a` and `b` name one regular file: the same file when it is there,
// or the same new file (the same folder and name) that writing either would
// make. Devices, FIFOs and folders are never "one file" here: two writers
// on /dev/null harm nobody.
bool sameRegularFile(const std::string& a, const std::string& b);

}  // namespace host
