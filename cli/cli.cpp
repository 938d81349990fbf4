#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/command_watch.h"
#include "cli/commands/command.h"
#include "cli/regular_file.h"
#include "links/ethernet_if.h"
#include "links/link_factory.h"
#include "links/parallel_if.h"
#include "links/program_state.h"
#include "links/socket_ops.h"
#include "links/trace_link.h"
#include "links/usb_device.h"
#include "links/usb_discovery.h"
#include "links/usb_selection.h"
#include "protocol/message_if.h"
#include "seams/text_scan.h"
#include "sim/sim_options.h"
#include "sim/simulated_printer_ports.h"

namespace {

constexpr const char* kProgram = "tessaly-cli";
constexpr const char* kSimulatedOption = "--simulated-printer";

constexpr const char* kExitCodesText =
    "Exit codes:\n"
    "  0  done\n"
    "  1  the printer refused, did not answer, or a check failed (checksum, tracks, not\n"
    "     applicable); a request that got no answer at all ends the command at once\n"
    "  2  usage: a bad command line, or a question asked without --yes\n"
    "  3  could not connect to the printer\n"
    "  4  a file could not be read or written, or is not a regular file (also a trace\n"
    "     that could not be written on)\n"
    "A fleet ends with the highest code of its printers.\n";

std::optional<Target> ParseEthernetTarget(const std::string& text) {
    const std::optional<textscan::AddressAndPort> parsed =
        textscan::DottedAddressAndPort(text, CEthernetIF::kPrinterPort);
    if (!parsed) return std::nullopt;
    Target target;
    target.portName = "Ethernet";
    target.label = text;
    target.address = parsed->address;
    target.port = parsed->port;
    return target;
}

struct Shared {
    CSharedStream* out;
    CSharedStream* err;
    std::shared_ptr<CTraceFile> trace;
    CliEnvironment environment;
    bool fleet = false;
};

// How the command line reaches a printer: the links of its kind, each
// printer a simulated one of its own when asked for. No value when none can
// be had.
std::optional<LinkFactory> AssembleLinks(const CommonOptions& options, const Target& target,
                                         const Shared& shared, CCliHost& host,
                                         tessaly::ProgramState& state,
                                         std::unique_ptr<CSimulatedPrinterPorts>& simulated,
                                         std::ostream& usbDiagnostics) {
    LinkParts parts{state};
    parts.host = &host;
    // The USB link's diagnostic line must not land in the output a script
    // reads.
    parts.usbDiagnostics = &usbDiagnostics;
    if (options.simulated) {
        // Each printer its own simulated printer, so a fleet of them runs
        // side by side as real ones do.
        simulated = std::make_unique<CSimulatedPrinterPorts>(options.simState);
        std::string error;
        if (!simulated->Start(&error)) {
            host.Message("The simulated printer cannot listen on the loopback: " + error,
                         MsgButtons::Ok);
            return std::nullopt;
        }
        simulated->Supply(parts);
    } else {
        // One libusb session and one print-queue source for the printer.
        if (target.portName == "USB") AddSystemUsb(parts);
        if (shared.environment.receiveWaitMs > 0)
            parts.receiveWaitMs = shared.environment.receiveWaitMs;
    }
    const std::string serial = options.usb.value_or(std::string());
    return [target, serial, parts](int kind, const std::string& portName) {
        LinkEndpoint endpoint = EndpointFor(kind, portName);
        endpoint.address = target.address;
        endpoint.port = target.port;
        endpoint.serial = serial;
        return MakeLink(endpoint, parts);
    };
}

// Keeps each message's level beside the host's own record of its text: a
// box the window would show, a question and its answer, or the command
// line's own word on why the command did not succeed.
class CLevelledHost : public CCliHost {
public:
    using CCliHost::CCliHost;

    MsgResult ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) override {
        const size_t before = Messages().size();
        const MsgResult answer = CCliHost::ShowMessageBox(text, buttons, icon);
        if (Messages().size() > before) {
            m_levels[before] = buttons == MsgButtons::Ok            ? kLevelNotice
                               : buttons == MsgButtons::RetryCancel ? kLevelError
                                                                    : kLevelQuestion;
        }
        return answer;
    }

    // What Tell says is the command line's own conclusion.
    Json MessagesJson() const {
        Json messages = Json::array();
        for (size_t i = 0; i < Messages().size(); ++i) {
            const auto level = m_levels.find(i);
            messages.push_back(
                MessageJson(level == m_levels.end() ? kLevelError : level->second, Messages()[i]));
        }
        return messages;
    }

private:
    std::map<size_t, const char*> m_levels;
};

// One attempt at the command on one printer: connect, then run it, unless
// the printer let the connection's first request pass in silence.
Result RunAttempt(const Command& command, const CommonOptions& options, const Target& target,
                  const Shared& shared, CLevelledHost& host, CCommandWatch& watch,
                  std::ostream& usbDiagnostics) {
    tessaly::ProgramState state;
    state.printerIpAddress = target.address;

    std::unique_ptr<CSimulatedPrinterPorts> simulated;
    Result result;
    std::optional<LinkFactory> assembled =
        AssembleLinks(options, target, shared, host, state, simulated, usbDiagnostics);
    if (!assembled) {
        result.code = cli_exit::kNoConnection;
        return result;
    }
    LinkFactory factory = std::move(*assembled);
    if (shared.trace) factory = TracedLinkFactory(std::move(factory), shared.trace, target.label);
    factory = CCommandWatch::Watched(std::move(factory), watch);

    CMessageIF msg(host, std::move(factory));
    if (!msg.SelectPort(target.portName)) {
        if (const std::optional<std::string>& why = watch.OpenFailure()) host.Tell(*why);
        result.code = cli_exit::kNoConnection;
        return result;
    }
    // The connection's own request may have gone unanswered already.
    watch.RequestOver();
    if (watch.Stopped()) return result;
    Session session{options, target, watch, msg, host, state};
    result = command.run(session);
    watch.RequestOver();
    return result;
}

Result RunOnPrinter(const Command& command, const CommonOptions& options, const Target& target,
                    const Shared& shared) {
    // Set while a stopped command winds down: its remaining requests fail at
    // once, and what the task then says of the values it did not get would
    // mislead; the reason of the stop is said instead.
    CCommandWatch* winding = nullptr;
    CliHostOptions hostOptions;
    hostOptions.yes = options.yes;
    hostOptions.retries = options.retries;
    hostOptions.progressBar = shared.environment.stderrIsTerminal && !shared.fleet;
    hostOptions.prefix = shared.fleet ? target.label + ": " : std::string();
    hostOptions.sleep = shared.environment.sleep;
    hostOptions.muted = [&winding] { return winding && winding->Stopped(); };
    CLevelledHost host(*shared.err, hostOptions);
    std::ostringstream usbDiagnostics;

    using Clock = CCommandWatch::Clock;
    std::optional<Clock::time_point> deadline;
    if (options.timeoutSeconds > 0) {
        deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
    }
    Result result;
    for (;;) {
        CCommandWatch watch(deadline, options.timeoutSeconds, shared.trace, command.reportGoesOn);
        if (command.needsNoReply) watch.NeedsNoReply();
        winding = &watch;
        result = RunAttempt(command, options, target, shared, host, watch, usbDiagnostics);
        winding = nullptr;
        if (!watch.Stopped()) break;
        const CCommandWatch::Stop& stop = *watch.Stopped();
        // A question a stopped command could not put to anyone was not
        // declined by the command line: the stop's code says what happened.
        result.code =
            result.code == cli_exit::kUsage ? stop.exitCode : std::max(result.code, stop.exitCode);
        // A printer that said nothing at all is tried again like one that
        // could not be reached; one that stopped half-way is not, since
        // part of the command may have taken effect.
        const bool timeLeft = !deadline || Clock::now() < *deadline;
        if (stop.printerSilent && stop.exitCode == cli_exit::kRefused && timeLeft) {
            if (host.Message(stop.reason, MsgButtons::RetryCancel) == MsgResult::Retry) {
                host.Pause(CMessageIF::kRetryPauseMs);
                continue;
            }
        } else {
            host.Tell(stop.reason);
        }
        break;
    }
    // A question answered No for want of --yes is a command line that asked
    // for something it did not allow.
    if (host.Declined()) result.code = cli_exit::kUsage;
    if (!usbDiagnostics.str().empty()) host.Tell(usbDiagnostics.str());
    if (result.code != cli_exit::kDone && host.Messages().empty()) {
        // Every failure says something: a script's log must show why.
        host.Tell(command.name + " did not succeed (exit status " + std::to_string(result.code) +
                  ")");
    }
    result.messages = host.MessagesJson();
    return result;
}

// --- the command line ----------------------------------------------------------

void Print(const Command& command, const CommonOptions& options, const Target& target,
           Result& result, const Shared& shared) {
    if (options.json) {
        // A command that did not get to run has no values to give.
        const Json document =
            Envelope(target.label, command.name, result.code, std::move(result.messages),
                     result.data.empty() ? Json(nullptr) : std::move(result.data));
        // Paths from the command line need not be UTF-8; a stray byte must
        // not cost the printer's result.
        shared.out->Write(
            document.dump(shared.fleet ? -1 : 2, ' ', false, Json::error_handler_t::replace) +
            "\n");
        return;
    }
    std::string text = target.named && !shared.fleet ? "Printer: " + target.label + "\n" : "";
    for (const std::string& line : result.lines) {
        text += (shared.fleet ? target.label + ": " : std::string()) + line + "\n";
    }
    shared.out->Write(text);
}

bool IsHostNameChar(char c) {
    return textscan::IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
           c == '-';
}

// The printers named on the command line; a text saying what is wrong with
// them when they cannot be worked on.
std::optional<std::string> CollectTargets(const CommonOptions& options,
                                          const CliEnvironment& environment,
                                          std::vector<Target>& targets) {
    // Each name is looked up once, before any printer is at work, so every
    // printer of the run and every retry goes to the same address.
    std::map<std::string, uint32_t> resolved;
    for (const std::string& text : options.ethernet) {
        std::optional<Target> target = ParseEthernetTarget(text);
        if (!target) {
            const size_t colon = text.rfind(':');
            const std::string name = text.substr(0, colon);
            const std::optional<textscan::AddressAndPort> port = textscan::DottedAddressAndPort(
                "0.0.0.0" + text.substr(name.size()), CEthernetIF::kPrinterPort);
            if (name.empty() || !port || !std::all_of(name.begin(), name.end(), IsHostNameChar)) {
                return "not an IPv4 address or host name with an optional :PORT: " + text;
            }
            if (!resolved.count(name)) {
                std::string error;
                const std::optional<uint32_t> address = environment.resolve
                                                            ? environment.resolve(name, error)
                                                            : net::ResolveIpv4(name, error);
                if (!address) return "cannot find the printer " + name + ": " + error;
                resolved[name] = *address;
            }
            target = Target{text + " (" + tessaly::FormatIpAddress(resolved[name]) + ")",
                            "Ethernet", resolved[name], port->port, true};
        }
        // One printer named twice is worked on once.
        const bool named = std::any_of(targets.begin(), targets.end(), [&](const Target& t) {
            return t.address == target->address && t.port == target->port;
        });
        if (!named) targets.push_back(*target);
    }
    const int kinds = (targets.empty() ? 0 : 1) + (options.usb ? 1 : 0) + (options.lpt ? 1 : 0);
    if (kinds > 1) return "name USB, a parallel port, or Ethernet printers, not several kinds";
    if (options.usb) {
        targets.push_back({options.usb->empty() ? "USB" : "USB " + *options.usb, "USB"});
    }
    if (options.lpt) {
        const std::string name = "LPT" + std::to_string(options.lpt) + ":";
        targets.push_back({name, name});
    }
    if (targets.empty() && options.simulated) targets.push_back({"simulated", "Ethernet"});
    if (targets.empty()) return "name a printer: --ethernet ADDR, --usb [SERIAL] or --lpt N";
    return std::nullopt;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// What to say of a command line whose command is misspelt: the word that
// stands where a command should, and the nearest command's name. No value
// when no word is near one.
std::optional<std::string> Misspelt(const CLI::App& app, const std::vector<std::string>& args) {
    // Further off, a guess would mislead more than it helps.
    constexpr size_t kFarthest = 2;
    std::optional<std::string> said;
    size_t nearest = kFarthest + 1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind('-', 0) == 0) {
            // The value of an option that must have one is no command.
            const CLI::Option* option = app.get_option_no_throw(args[i]);
            if (option && option->get_expected_min() > 0) ++i;
            continue;
        }
        for (const CLI::App* command : app.get_subcommands({})) {
            const size_t distance = EditDistance(args[i], command->get_name());
            if (distance < nearest) {
                nearest = distance;
                said = "unknown command " + args[i] + ": did you mean " + command->get_name() + "?";
            }
        }
    }
    return said;
}

// The options every command takes, before the command's name.
void DeclareCommonOptions(CLI::App& app, CommonOptions& options) {
    app.footer(std::string("\n") + kExitCodesText);
    app.set_version_flag("--version", std::string(kProgram) + " " + TESSALY_VERSION);
    app.fallthrough();
    app.require_subcommand(1);
    app.option_defaults()->group("Connection");
    app.add_option("--ethernet", options.ethernet,
                   "a printer on the network, IPv4 address or host name (looked up once a run) "
                   "and optional :PORT (default 9100); "
                   "repeat for a fleet")
        ->type_name("ADDR[:PORT]");
    app.add_option("--ethernet-file", options.ethernetFile,
                   "a regular file of Ethernet printers, one ADDR[:PORT] a line ('#' starts a "
                   "comment)")
        ->type_name("FILE");
    app.add_option("--usb", options.usb,
                   "the USB printer with this serial number; without one, the only USB printer "
                   "(of several, none: they are listed, exit 3)")
        ->expected(0, 1)
        ->type_name("[SERIAL]");
    app.add_option("--lpt", options.lpt, "the parallel port LPTN: (1 to 4)")
        ->check(CLI::Range(1, 4))
        ->type_name("N");
    app.add_flag(kSimulatedOption, options.simulated,
                 "a built-in simulated printer behind every port kind; simulator options "
                 "(tessaly-printer-sim --help) may follow it");
    app.option_defaults()->group("Behaviour");
    app.add_flag("--json", options.json,
                 "one JSON document (one JSON line per printer in a fleet) instead of text");
    app.add_flag("--yes", options.yes, "answer yes to the questions reset and upgrade ask");
    app.add_option("--retries", options.retries,
                   "retry a printer that cannot be reached, or that answers its first request "
                   "with nothing at all, this many times, 2 s apart (default 0)")
        ->check(CLI::NonNegativeNumber)
        ->type_name("N");
    app.add_option("--timeout", options.timeoutSeconds,
                   "end a printer's command, its retries included, after SECONDS; checked "
                   "between requests, so a request waiting for its reply ends its wait (up to "
                   "10 s) first (default: no limit)")
        ->check(CLI::Range(1, 86400))
        ->type_name("SECONDS");
    app.add_option(
           "--jobs", options.jobs,
           "printers of a fleet at work at once (default " + std::to_string(kDefaultJobs) + ")")
        ->check(CLI::Range(1, 256))
        ->type_name("N");
    app.add_option("--trace", options.trace,
                   "append every frame written and reply read to FILE (time, link, hex dump); "
                   "a regular file only; a record that cannot be written ends the run (exit 4)")
        ->type_name("FILE");
    // The commands' own options.
    app.option_defaults()->group("Options");
}

// Runs the command on every printer, `--jobs` at a time, and prints each
// printer's output in the order the printers were given, whatever order
// they finish in. The result is the highest exit code.
int RunFleet(const Command& command, const CommonOptions& options,
             const std::vector<Target>& targets, const Shared& shared) {
    std::vector<std::optional<Result>> results(targets.size());
    std::mutex mutex;
    size_t printed = 0;
    size_t done = 0;
    const bool progress = shared.fleet && shared.environment.stderrIsTerminal;
    const auto finished = [&](size_t i, Result result) {
        std::lock_guard lock(mutex);
        results[i] = std::move(result);
        ++done;
        for (; printed < targets.size() && results[printed]; ++printed) {
            Print(command, options, targets[printed], *results[printed], shared);
        }
        if (progress) {
            shared.err->Write("\rPrinters done: " + std::to_string(done) + " of " +
                              std::to_string(targets.size()) +
                              (done == targets.size() ? "\n" : ""));
        }
    };
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < targets.size(); i = next++) {
            finished(i, RunOnPrinter(command, options, targets[i], shared));
        }
    };
    const size_t workers = std::min(targets.size(), static_cast<size_t>(options.jobs));
    if (workers <= 1) {
        work();
    } else {
        std::vector<std::thread> threads;
        for (size_t i = 0; i < workers; ++i) threads.emplace_back(work);
        for (std::thread& thread : threads) thread.join();
    }
    int highest = cli_exit::kDone;
    std::map<int, int> failedByCode;
    for (const std::optional<Result>& result : results) {
        highest = std::max(highest, result->code);
        if (result->code != cli_exit::kDone) ++failedByCode[result->code];
    }
    if (shared.fleet) {
        int failed = 0;
        std::string byCode;
        for (const auto& [code, count] : failedByCode) {
            failed += count;
            byCode += (byCode.empty() ? " (" : ", ") + std::string("exit ") + std::to_string(code) +
                      ": " + std::to_string(count);
        }
        shared.err->Write(
            std::to_string(targets.size()) +
            " printers: " + std::to_string(static_cast<int>(targets.size()) - failed) + " ok, " +
            std::to_string(failed) + " failed" + (byCode.empty() ? "" : byCode + ")") + "\n");
    }
    return highest;
}

}  // namespace

int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment) {
    CommonOptions options;
    std::vector<std::string> args = arguments;
    const auto usage = [&](const std::string& why) {
        err << kProgram << ": " << why << "\nRun " << kProgram << " --help for more.\n";
        return cli_exit::kUsage;
    };
    if (const std::optional<std::string> simulator =
            TakeSimulatedPrinterOptions(args, options.simulated, options.simState)) {
        return usage(*simulator);
    }

    CLI::App app(
        "Maintenance of ID-card printers from a shell: one printer, or a fleet on "
        "Ethernet.",
        kProgram);
    DeclareCommonOptions(app, options);
    std::optional<Command> chosen;
    CommandLine line{app, chosen};
    AddAllCommands(line);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        // The help of the command named, when one was.
        const std::vector<CLI::App*> named = app.get_subcommands();
        std::string help = named.empty() ? app.help() : named.front()->help();
        if (!named.empty()) {
            out << help;
            return cli_exit::kDone;
        }
        const std::string generic = std::string(kProgram) + " [OPTIONS] SUBCOMMAND";
        if (const size_t at = help.find(generic); at != std::string::npos) {
            help.replace(at, generic.size(),
                         std::string(kProgram) + " [connection] COMMAND [options]");
        }
        out << help << "\nSimulator options, after " << kSimulatedOption << ":\n"
            << SimPrinterOptionsHelp();
        return cli_exit::kDone;
    } catch (const CLI::CallForVersion&) {
        out << kProgram << " " << TESSALY_VERSION << "\n";
        return cli_exit::kDone;
    } catch (const CLI::ParseError& e) {
        if (app.get_subcommands().empty()) {
            if (const std::optional<std::string> why = Misspelt(app, args)) return usage(*why);
        }
        return usage(e.what());
    }

    CSharedStream sharedOut(out);
    CSharedStream sharedErr(err);
    Shared shared{&sharedOut, &sharedErr, nullptr, environment, false};

    if (!options.ethernetFile.empty()) {
        std::string error;
        const std::optional<std::string> content = ReadRegularFile(options.ethernetFile, error);
        if (!content) {
            err << kProgram << ": cannot read " << options.ethernetFile << ": " << error << "\n";
            return cli_exit::kFileError;
        }
        std::istringstream file(*content);
        std::string line;
        while (std::getline(file, line)) {
            const std::string text(textscan::Trim(line.substr(0, line.find('#'))));
            if (!text.empty()) options.ethernet.push_back(text);
        }
    }
    const Command& command = *chosen;
    if (command.whole) {
        if (command.check) {
            if (const std::optional<std::string> why = command.check(options, {})) {
                return usage(*why);
            }
        }
        return command.whole(options, Surroundings{sharedOut, out, sharedErr, environment});
    }

    std::vector<Target> targets;
    if (const std::optional<std::string> why = CollectTargets(options, environment, targets)) {
        return usage(*why);
    }
    if (command.check) {
        if (const std::optional<std::string> why = command.check(options, targets)) {
            return usage(*why);
        }
    }
    if (!options.trace.empty()) {
        std::string error;
        shared.trace = CTraceFile::Open(options.trace, error);
        if (!shared.trace) {
            err << kProgram << ": cannot open the trace file " << options.trace << ": " << error
                << "\n";
            return cli_exit::kFileError;
        }
    }
    // Printers from a file are a fleet even when it holds one: a script
    // appending its lines must get one line a printer.
    shared.fleet =
        targets.size() > 1 || options.ethernet.size() > 1 || !options.ethernetFile.empty();
    return RunFleet(command, options, targets, shared);
}
