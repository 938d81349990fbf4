#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace filesave {

// Puts `bytes` in the file at `path` (the file system's own bytes). The
// bytes are written beside the file under a temporary name and renamed over
// it only once all of them are on disk, so a save that fails, or a reader
// or another save at the same moment, never sees a file part old and part
// new, and the earlier file survives a failed write whole.
//
// Two cases write into the file itself instead: a file with further names
// (hard links), which must all show the new bytes; and an existing file
// beside which no temporary file can be made or renamed (a folder the user
// may not write, a name too long to extend), since the user chose that
// file and overwriting it is what the save promised.
//
// No value on success, otherwise the reason, in the system's words.
std::optional<std::string> SaveReplacing(const std::string& path, std::string_view bytes);

}  // namespace filesave
