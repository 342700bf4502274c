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

// The one rule for whether writing `a` and writing `b` write one file: the
// same file when it is there (through links, under a second name, or as
// standard output, wherever this process keeps it), or the same new file
// (the same folder and name) that writing either would make. A character
// device (/dev/null, a terminal) carries many streams and a folder takes
// no writes: they are never "one file" here, except that two names of
// standard output are one stream.
bool sameFile(const std::string& a, const std::string& b);

// The same rule for a path and an open descriptor: whether writing `path`
// writes into the file open at `fd`.
bool sameFileAsOpen(const std::string& path, int fd);

// Whether writing `path` writes in `folder` or below it (the folder itself
// included): a name there, as given or where its links lead, or a file
// there under another name.
bool leadsInto(const std::string& path, const std::string& folder);

}  // namespace host
