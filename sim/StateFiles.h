#pragma once
// The simulator's state folder and the files in it (flash images, journal, serial-line).
// The folder is created owner-only (0700); every file is opened without following a link,
// must be a regular file of the user's and is kept owner-only (0600). A link, pipe or
// another user's file planted at one of the names is refused with its path, so the
// device's writes can never land outside the folder or block on a pipe.
#include <string>

namespace edog::sim {

// Creates `dir` (mode 0700; missing parents as usual) unless it exists; it must be a folder.
bool MakeStateFolder(const std::string& dir, std::string* error);

// Opens the state file `path`, creating it (0600) when absent. `flags` are the access
// flags (O_RDWR, O_WRONLY | O_APPEND, ...). The descriptor, or -1 with the reason.
int OpenStateFile(const std::string& path, int flags, std::string* error);

// Replaces the contents of the state file `path` with `text`.
bool WriteStateFile(const std::string& path, const std::string& text, std::string* error);

}  // namespace edog::sim
