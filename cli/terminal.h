#pragma once

// The few questions the command line asks of the operating system, one
// function each, so each system has its own small twin of this file's
// source.

// Whether standard error is a terminal, where a progress bar may be drawn.
bool StandardErrorIsTerminal();
