#include "sim/sim_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <functional>

#include "seams/text_scan.h"

namespace {

// A day is more than any printer takes, and keeps the sums in range.
constexpr long long kLongestDelayMs = 24LL * 3600 * 1000;
// The USB selection lists at most this many printers.
constexpr long long kMostUsbPrinters = 10;
constexpr long long kLargestCount = 1LL << 40;

// A check that gives `expected` as the problem when it fails.
CLI::Validator Check(std::function<bool(const std::string&)> holds, std::string expected) {
    return CLI::Validator([holds = std::move(holds), expected = std::move(expected)](
                              std::string& text) { return holds(text) ? std::string() : expected; },
                          "");
}

bool ApplyFault(const std::string& name, SimFaults& faults) {
    bool SimFaults::*const kFaults[] = {&SimFaults::silent,          &SimFaults::closeOnRequest,
                                        &SimFaults::garbageReplies,  &SimFaults::oneBytePieces,
                                        &SimFaults::longReplies,     &SimFaults::hangUpMidReply,
                                        &SimFaults::restartOnUpgrade};
    static const char* const kNames[] = {"silent", "close",   "garbage", "one-byte",
                                         "long",   "hang-up", "restart"};
    for (size_t i = 0; i < std::size(kNames); ++i) {
        if (name != kNames[i]) continue;
        faults.*kFaults[i] = true;
        return true;
    }
    return false;
}

std::optional<SimChecksumReply> ChecksumReply(const std::string& name) {
    if (name == "correct") return SimChecksumReply::Correct;
    if (name == "omitted") return SimChecksumReply::Omitted;
    if (name == "wrong") return SimChecksumReply::Wrong;
    if (name == "unsigned") return SimChecksumReply::Unsigned;
    return std::nullopt;
}

// A repeated option: the last one counts.
CLI::Option* Text(CLI::App& app, const std::string& name,
                  std::function<void(const std::string&)> set, const std::string& help,
                  const std::string& typeName) {
    return app.add_option_function<std::string>(name, std::move(set), help)
        ->type_name(typeName)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// A whole number from `low` to `high`.
CLI::Option* Number(CLI::App& app, const std::string& name, long long low, long long high,
                    const std::string& expected, std::function<void(long long)> set,
                    const std::string& help) {
    return Text(
               app, name,
               [set = std::move(set)](const std::string& text) {
                   set(*textscan::WholeNumber(text));
               },
               help, "N")
        ->check(Check(
            [low, high](const std::string& text) {
                const std::optional<long long> number = textscan::WholeNumber(text);
                return number && *number >= low && *number <= high;
            },
            expected));
}

// Each one given applies.
CLI::Option* Each(CLI::App& app, const std::string& name,
                  std::function<void(const std::string&)> apply, const std::string& help,
                  const std::string& typeName) {
    return app
        .add_option_function<std::vector<std::string>>(
            name,
            [apply = std::move(apply)](const std::vector<std::string>& all) {
                for (const std::string& one : all) apply(one);
            },
            help)
        ->type_name(typeName)
        // One value per occurrence: the words after it are the next
        // option's, or the front end's.
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

}  // namespace

void AddSimPrinterOptions(CLI::App& app, SimPrinterState& state) {
    const size_t theFrontEnds = app.get_options().size();
    const auto value = [&state](const char* mnemonic) {
        return [&state, mnemonic](const std::string& text) { state.values[mnemonic] = text; };
    };
    const auto number = [&state](const char* mnemonic) {
        return [&state, mnemonic](long long n) { state.values[mnemonic] = std::to_string(n); };
    };
    Text(app, "--family-version", value("VRS"), "the VRS value; its first letter is the family",
         "V")
        ->default_str(state.values["VRS"]);
    Text(app, "--serial", value("MSR"), "the MSR value", "S")->default_str(state.values["MSR"]);
    Number(app, "--pid", INT32_MIN, INT32_MAX, "expected a number", number("PID"),
           "the product id (6144 and 36864-36867 have Ethernet)")
        ->default_str(state.values["PID"]);
    Number(app, "--model", INT32_MIN, INT32_MAX, "expected a number", number("MDL"),
           "the MDL model code")
        ->default_str(state.values["MDL"]);
    Each(
        app, "--value",
        [&state](const std::string& text) {
            state.values[text.substr(0, text.find('='))] = text.substr(text.find('=') + 1);
        },
        "any status value", "MN=TEXT")
        ->check(Check(
            [](const std::string& text) {
                const size_t equals = text.find('=');
                return equals != std::string::npos && equals != 0;
            },
            "expected MN=TEXT"));
    for (size_t track = 0; track < state.card.size(); ++track) {
        Text(
            app, "--track" + std::to_string(track + 1),
            [&state, track](const std::string& text) { state.card[track].data = text; },
            "the card's magnetic track " + std::to_string(track + 1) + " (data only)", "TEXT");
    }
    Text(
        app, "--checksum",
        [&state](const std::string& text) { state.checksumReply = *ChecksumReply(text); },
        "the reply to a firmware image (unsigned: the correct sum as an unsigned number)",
        "correct|omitted|wrong|unsigned")
        ->check(Check([](const std::string& text) { return ChecksumReply(text).has_value(); },
                      "expected correct, omitted, wrong or unsigned"))
        ->default_str("correct");
    app.add_flag_callback(
        "--never-end", [&state] { state.numberedTailReply = "@@@"; },
        "answer '@@@' instead of END after the last query item");
    Each(
        app, "--fault", [&state](const std::string& name) { ApplyFault(name, state.faults); },
        "misbehave (repeatable; restart: drop the connection after UPG, as a printer does)",
        "silent|close|garbage|one-byte|long|hang-up|restart")
        ->check(Check(
            [](const std::string& name) {
                SimFaults faults;
                return ApplyFault(name, faults);
            },
            "unknown fault"));

    struct Delay {
        const char* name;
        int SimTiming::*field;
        const char* help;
    };
    static constexpr Delay kDelays[] = {
        {"--reply-delay-ms", &SimTiming::replyDelayMs, "offer each reply N ms after its request"},
        {"--card-delay-ms", &SimTiming::cardDelayMs,
         "offer the card record N ms after its request"},
        {"--busy-ms", &SimTiming::busyMs,
         "take nothing for N ms after --busy-after-bytes bytes of a frame"},
        {"--late-reply-ms", &SimTiming::lateReplyMs, "the next status reply comes N ms late"},
        {"--flash-ms", &SimTiming::flashMs,
         "the checksum reply to a firmware image comes N ms after it"},
    };
    for (const Delay& delay : kDelays) {
        Number(
            app, delay.name, 0, kLongestDelayMs, "expected milliseconds (0 or more)",
            [&state, field = delay.field](long long ms) {
                state.timing.*field = static_cast<int>(ms);
            },
            delay.help);
    }
    const std::string count = "expected a count (0 or more)";
    Number(
        app, "--busy-after-bytes", 0, kLargestCount, count,
        [&state](long long n) { state.timing.busyAfterBytes = n; }, "see --busy-ms");
    Number(
        app, "--off-after-frames", 0, kLargestCount, count,
        [&state](long long n) { state.timing.offAfterFrames = n; },
        "go silent after N frames (take nothing, answer nothing)");
    Number(
        app, "--usb-printers", 1, kMostUsbPrinters,
        "expected a count of 1 to " + std::to_string(kMostUsbPrinters),
        [&state](long long n) { state.usbPrinters = static_cast<int>(n); },
        "N such printers on the simulated USB, serials SIM00001 up (the built-in simulated "
        "printer only)")
        ->default_str(std::to_string(state.usbPrinters));
    Number(
        app, "--hang-up-after-bytes", 0, kLargestCount, count,
        [&state](long long n) { state.faults.hangUpAfterBytes = n; },
        "drop the connection after N bytes of a frame or print file");

    // Apart from the front end's own in the help.
    const std::vector<CLI::Option*> all = app.get_options();
    for (size_t i = theFrontEnds; i < all.size(); ++i) all[i]->group("Simulated printer");
}

std::string SimPrinterOptionsHelp() {
    CLI::App app;
    SimPrinterState state;
    AddSimPrinterOptions(app, state);
    const CLI::Formatter formatter;
    std::string help;
    for (const CLI::Option* option : app.get_options()) {
        if (option != app.get_help_ptr()) help += formatter.make_option(option, false);
    }
    return help;
}

std::optional<std::string> TakeSimulatedPrinterOptions(std::vector<std::string>& args, bool& asked,
                                                       SimPrinterState& state) {
    const auto at = std::find(args.begin(), args.end(), kSimulatedPrinterOption);
    if (at == args.end()) return std::nullopt;
    asked = true;
    // The words that follow, last first, as the parser takes them.
    std::vector<std::string> words(std::next(at), args.end());
    std::reverse(words.begin(), words.end());
    CLI::App app;
    app.set_help_flag();
    // The front end's own words start at the first that is not a
    // simulator option.
    app.prefix_command();
    AddSimPrinterOptions(app, state);
    try {
        app.parse(words);
    } catch (const CLI::ParseError& e) {
        return std::string(e.what());
    }
    const std::vector<std::string> rest = app.remaining();
    args.erase(at, args.end());
    args.insert(args.end(), rest.begin(), rest.end());
    return std::nullopt;
}
