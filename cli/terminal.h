#pragma once

#include <functional>

// The few questions the command line asks of the operating system, one
// function each, so each system has its own small twin of this file's
// source.

// Whether standard error is a terminal, where a progress bar may be drawn.
bool StandardErrorIsTerminal();

// How many columns the terminal on standard error has now (a window may be
// resized while a transfer runs); 0 when it cannot tell.
int StandardErrorColumns();

// Calls `handler` on a thread of its own at each Ctrl+C, instead of ending
// the program there and then: a stopped transfer has something to say about
// the printer, and the trace must stay whole. Call once, before any other
// thread starts.
void OnInterrupt(std::function<void()> handler);
