#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/sim_printer.h"

namespace CLI {
class App;
}

// The options that describe a simulated printer, declared once for
// tessaly-printer-sim and for the built-in simulated printer of the window
// and the command-line tool, so all three take them, check them and
// describe them the same way.

// The word after which the window and the command-line tool take them.
inline constexpr const char* kSimulatedPrinterOption = "--simulated-printer";

// Declares the options on `app`; parsing sets them in `state`, which must
// outlive the parse.
void AddSimPrinterOptions(CLI::App& app, SimPrinterState& state);

// The options' help, generated from their declaration.
std::string SimPrinterOptionsHelp();

// Takes kSimulatedPrinterOption and the simulator options that follow it
// out of `args`, up to the first word that is none of them; `asked` tells
// whether the word was there. The problem with a missing or bad value, if
// any.
std::optional<std::string> TakeSimulatedPrinterOptions(std::vector<std::string>& args, bool& asked,
                                                       SimPrinterState& state);
