#pragma once

#include <optional>
#include <string>

// The whole content of a file the command line names for reading. Anything
// but a regular file is refused without waiting: the open of a FIFO would
// wait for a writer that may never come, and a device such as /dev/zero
// never ends. No value when the file cannot be read; `error` says why.
std::optional<std::string> ReadRegularFile(const std::string& path, std::string& error);
