#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sim/sim_printer.h"

// The options that describe a simulated printer, shared by
// tessaly-printer-sim and the program's built-in simulated printer, so both
// are set the same way.
extern const char* const kSimPrinterOptionsHelp;

enum class SimOptionResult {
    Taken,        // args[i] (and its value) applied; i is on the last one used
    NotAnOption,  // not a printer option: the caller's own, or unknown
    Bad,          // a printer option with a missing or bad value; see `problem`
};

SimOptionResult ParseSimPrinterOption(const std::vector<std::string>& args, size_t& i,
                                      SimPrinterState& state, std::string& problem);
