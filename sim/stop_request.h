#pragma once

#include <string>

// How the stand-alone simulator learns that it should stop: SIGINT or
// SIGTERM on Linux, Ctrl+C, Ctrl+Break or the console closing on Windows.
//
// Called before any other thread starts, so that only WaitForStopRequest
// sees the request.
void PrepareForStopRequest();
// Blocks until a stop is requested; the request's name, for the last line.
std::string WaitForStopRequest();
