#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "links/ethernet_if.h"
#include "protocol/card_record.h"
#include "sim/sim_options.h"

namespace CLI {
class App;
}
class CCliHost;
class CCommandWatch;
class CMessageIF;
class CSharedStream;
namespace tessaly {
struct ProgramState;
}

using Json = nlohmann::ordered_json;

inline constexpr int kDefaultJobs = 8;

// What every command shares: where the printers are and how to go about
// them.
struct CommonOptions {
    std::vector<std::string> ethernet;
    std::string ethernetFile;
    std::optional<std::string> usb;  // "" for the only printer
    int lpt = 0;
    bool simulated = false;
    SimPrinterState simState;
    bool json = false;
    bool yes = false;
    int retries = 0;
    int timeoutSeconds = 0;  // 0: none
    int jobs = kDefaultJobs;
    std::string trace;
};

// One printer to work on.
struct Target {
    std::string label;
    std::string portName;  // "Ethernet", "USB", "LPTn:"
    uint32_t address = 0;
    uint16_t port = CEthernetIF::kPrinterPort;
    bool named = false;  // by a host name: the label shows the address used
};

// What a command made of one printer: the exit code, the values for the
// JSON document and the lines for the text output.
struct Result {
    int code = cli_exit::kDone;
    Json data = Json::object();
    std::vector<std::string> lines;
    Json messages = Json::array();
};

// A connected printer and what goes with it while a command runs on it.
struct Session {
    const CommonOptions& options;
    const Target& target;
    CCommandWatch& watch;
    CMessageIF& msg;
    CCliHost& host;
    tessaly::ProgramState& state;
};

// The streams and the process around a command that needs no printer.
struct Surroundings {
    CSharedStream& out;
    // The same stream, for output that comes as it is found.
    std::ostream& plainOut;
    CSharedStream& err;
    const CliEnvironment& environment;
};

struct Command {
    explicit Command(std::string commandName) : name(std::move(commandName)) {}

    std::string name;
    // Set for a command that does not run once per printer: it gets the
    // whole command line and gives the exit code.
    std::function<int(const CommonOptions&, const Surroundings&)> whole;
    // What is wrong with the command's own options, with these printers.
    std::function<std::optional<std::string>(const CommonOptions&, const std::vector<Target>&)>
        check;
    std::function<Result(Session&)> run;
    // The command's requests go on after one that got no answer.
    bool reportGoesOn = false;
    // The printer is not expected to answer (a raw print).
    bool needsNoReply = false;
};

// Where the command families declare their subcommands.
struct CommandLine {
    CLI::App& app;
    // The command named on the command line, once parsed.
    std::optional<Command>& chosen;
};

// Declares a subcommand; its callback makes `command` the one to run.
CLI::App* AddCommand(CommandLine& line, const char* what, Command command);

// Each family's file declares its commands here.
void AddPortsCommand(CommandLine& line);
void AddIdentityCommands(CommandLine& line);
void AddCounterCommands(CommandLine& line);
void AddUpgradeCommands(CommandLine& line);
void AddReportCommands(CommandLine& line);
void AddNetworkCommand(CommandLine& line);
void AddCardCommands(CommandLine& line);
void AddDoctorCommand(CommandLine& line);

// --- what the commands share ---

// The one JSON shape every command prints: `printer` null for a command that
// works on none, `messages` as MessageJson makes them, `data` the command's
// own keys.
Json Envelope(const std::optional<std::string>& printer, const std::string& command, int exitCode,
              Json messages, Json data);
// A message of the envelope; `level` is one of the kLevel texts.
Json MessageJson(const char* level, const std::string& text);
inline constexpr const char* kLevelNotice = "notice";      // what the window shows in a box
inline constexpr const char* kLevelQuestion = "question";  // and the answer given
inline constexpr const char* kLevelError = "error";        // why the command did not succeed
// A value the printer reported as a whole decimal number; null otherwise.
Json NumberJson(const std::optional<std::string>& text);
// A product ID as a number; null for 0, which no product has: the printer
// reported none, or none that reads as one.
Json ProductIdJson(int64_t productId);
// Tracks in one shape for encoding and reading: which were asked for, what
// came of each, and its text.
Json TrackJson(int track, bool selected, const char* result,
               const std::optional<std::string>& text);
// A text the printer reported; null when it reported none or nothing.

Json OptionalJson(const std::optional<std::string>& value);
// A labelled value: a line of text and a JSON key.
void AddField(Result& result, const char* label, const char* key,
              const std::optional<std::string>& value);
// The same for a value that is a number.
void AddNumberField(Result& result, const char* label, const char* key,
                    const std::optional<std::string>& value);
// The counters as the counters command shows them; refused when the
// printer reported none.
void ShowCounters(Result& result, CMessageIF& msg, CCliHost& host);
// Declares every command.
void AddAllCommands(CommandLine& line);
