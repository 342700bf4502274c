// ROOT/.host: the host's own files of a data root, which the board keeps
// outside its data folder (in its /tmp). A dot name, so the instrument's
// file browser never lists it to the player. What it holds, and who writes
// and removes each file:
//
//   corvane.lock       The root's lock: an empty file, left in place, under
//                      fcntl write locks. Its keeper holds byte 0: the
//                      launcher from its start to its end, or an instrument
//                      started alone from set-up to clean-up (the whole
//                      file). Each run the launcher starts holds byte 1
//                      until it has ended, so the root stays held while a
//                      run saves after its launcher was killed. Whoever
//                      takes the root locks the whole file: no one changes
//                      anything in the root while another process holds
//                      any of it, also one that cannot be named (in another
//                      PID namespace, on another machine).
//   corvane-exit-code  The last run's exit status, "N\n" (128 + the signal's
//                      number for a run killed by one). Removed by the
//                      launcher at its start (the power-on), written by it
//                      after each run it starts, whole or not at all (into
//                      corvane-exit-code.new, then renamed over it); read
//                      by the instrument at set-up as the board's
//                      "/tmp/corvane-exit-code".
//   midi-port          A symbolic link to the default MIDI pseudo-terminal.
//                      Made by the instrument when it opens the port (over
//                      anything there; a file there is named on standard
//                      error), removed by it when the port closes
//                      and still leads there; the launcher removes a link
//                      left by a run that ended (a crash leaves its
//                      terminal to whoever opens it next).
#pragma once

#include <string>
#include <string_view>

namespace host {

constexpr std::string_view kHostFolderName = ".host";
constexpr const char* kLockFileName = "corvane.lock";
constexpr const char* kExitCodeFileName = "corvane-exit-code";
constexpr const char* kPortLinkName = "midi-port";

std::string hostFolderOf(const std::string& root);
std::string exitCodeFileOf(const std::string& root);
std::string portLinkOf(const std::string& root);
// The longest path the host itself makes inside a root (the exit-code
// file's aside name): a root too long for it cannot be used.
std::string longestHostPathOf(const std::string& root);

// Writes `text` to `path` whole or not at all: into PATH.new, then renamed
// over it. On failure (a full disk) neither the old file nor a part of the
// new one is left, and errno tells why.
bool writeWholeFile(const std::string& path, const std::string& text);

enum class RootHold {
    Taken,      // this process holds the lock
    Shared,     // the launcher that started this process holds it
    InUse,      // another process holds it: said in one line
    Unguarded,  // no lock can be had here (no folder, no file, no locks,
                // a read-only root)
};

// Takes the root's lock before anything else in the root is touched: a
// root in use is left exactly as it is. `who` starts the line that names
// the holder ("Bela_initAudio: "). Once the lock is held, the files an
// earlier version left in the player's tmp/ are removed. An Unguarded root
// is said in one line when `sayUnguarded`, with errno telling why.
RootHold holdRoot(const std::string& root, const char* who, bool sayUnguarded);
// The instrument's hold: false only when the root is in use.
bool lockRoot(const std::string& root);
// Lets the root go (at clean-up, or after a failed set-up).
void unlockRoot();
// The launcher's hold: from here on its runs may hold the root beside it.
void shareRootWithRuns();
// The lock stays with this process across an exec (the descriptor that
// holds it is not closed by it).
void keepRootLockAcrossExec();

}  // namespace host
