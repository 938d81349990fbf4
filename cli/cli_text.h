#pragma once

#include <optional>
#include <string>

// The printer speaks 8-bit Latin-1; a shell and JSON speak UTF-8.

std::string Utf8(const std::string& latin1);
// No value when the text holds a character beyond Latin-1 or is not UTF-8.
std::optional<std::string> Latin1(const std::string& utf8);
// Letters in capitals where the capital is Latin-1 too, as the window's
// command and track 1 fields keep them.
std::string Latin1Upper(std::string latin1);
