#include "sim/sim_options.h"

#include <string_view>

#include "seams/text_scan.h"

const char* const kSimPrinterOptionsHelp =
    "  --family-version V     the VRS value; its first letter is the family (default E3.05)\n"
    "  --serial S             the MSR value\n"
    "  --pid N                the product id (6144 and 36864-36867 have Ethernet)\n"
    "  --model N              the MDL model code\n"
    "  --value MN=TEXT        any status value\n"
    "  --track1|--track2|--track3 TEXT   the card's magnetic tracks (data only)\n"
    "  --checksum correct|omitted|wrong|unsigned  the reply to a firmware image (unsigned:\n"
    "                         the correct sum as an unsigned number)\n"
    "  --never-end            answer '@@@' instead of END after the last query item\n"
    "  --fault silent|close|garbage|one-byte|long|hang-up|restart   misbehave (repeatable;\n"
    "                         restart: drop the connection after UPG, as a printer does)\n"
    "  --reply-delay-ms N     offer each reply N ms after its request\n"
    "  --card-delay-ms N      offer the card record N ms after its request\n"
    "  --busy-ms N --busy-after-bytes K   take nothing for N ms after K bytes of a frame\n"
    "  --late-reply-ms N      the next status reply comes N ms late\n"
    "  --flash-ms N           the checksum reply to a firmware image comes N ms after it\n"
    "  --off-after-frames N   go silent after N frames (take nothing, answer nothing)\n"
    "  --usb-printers N       N such printers on the simulated USB, serials SIM00001 up\n"
    "                         (1 to 10; the built-in simulated printer only)\n"
    "  --hang-up-after-bytes N  drop the connection after N bytes of a frame or print file\n";

namespace {

bool ApplyFault(std::string_view name, SimFaults& faults) {
    if (name == "silent") {
        faults.silent = true;
    } else if (name == "close") {
        faults.closeOnRequest = true;
    } else if (name == "garbage") {
        faults.garbageReplies = true;
    } else if (name == "one-byte") {
        faults.oneBytePieces = true;
    } else if (name == "long") {
        faults.longReplies = true;
    } else if (name == "hang-up") {
        faults.hangUpMidReply = true;
    } else if (name == "restart") {
        faults.restartOnUpgrade = true;
    } else {
        return false;
    }
    return true;
}

// A day is more than any printer takes, and keeps the sums in range.
constexpr long long kLongestDelayMs = 24LL * 3600 * 1000;
// The USB selection lists at most this many printers.
constexpr long long kMostUsbPrinters = 10;

}  // namespace

SimOptionResult ParseSimPrinterOption(const std::vector<std::string>& args, size_t& i,
                                      SimPrinterState& state, std::string& problem) {
    const std::string& option = args[i];
    const auto bad = [&](const std::string& why) {
        problem = option + ": " + why;
        return SimOptionResult::Bad;
    };
    const std::string* value = i + 1 < args.size() ? &args[i + 1] : nullptr;
    const auto take = [&] { ++i; };
    long long number = 0;
    const auto needNumber = [&](long long low, long long high) {
        const std::optional<long long> parsed =
            value ? textscan::WholeNumber(*value) : std::nullopt;
        if (!parsed || *parsed < low || *parsed > high) return false;
        number = *parsed;
        take();
        return true;
    };

    if (option == "--never-end") {
        state.numberedTailReply = "@@@";
        return SimOptionResult::Taken;
    }
    if (option == "--pid" || option == "--model") {
        if (!needNumber(-2147483648LL, 2147483647LL)) return bad("expected a number");
        state.values[option == "--pid" ? "PID" : "MDL"] = std::to_string(number);
        return SimOptionResult::Taken;
    }
    if (option == "--family-version" || option == "--serial") {
        if (!value) return bad("expected a value");
        state.values[option == "--serial" ? "MSR" : "VRS"] = *value;
        take();
        return SimOptionResult::Taken;
    }
    if (option == "--value") {
        const size_t equals = value ? value->find('=') : std::string::npos;
        if (equals == std::string::npos || equals == 0) return bad("expected MN=TEXT");
        state.values[value->substr(0, equals)] = value->substr(equals + 1);
        take();
        return SimOptionResult::Taken;
    }
    if (option == "--track1" || option == "--track2" || option == "--track3") {
        if (!value) return bad("expected track data");
        state.card[static_cast<size_t>(option.back() - '1')].data = *value;
        take();
        return SimOptionResult::Taken;
    }
    if (option == "--checksum") {
        const std::string mode = value ? *value : "";
        if (mode == "correct") {
            state.checksumReply = SimChecksumReply::Correct;
        } else if (mode == "omitted") {
            state.checksumReply = SimChecksumReply::Omitted;
        } else if (mode == "wrong") {
            state.checksumReply = SimChecksumReply::Wrong;
        } else if (mode == "unsigned") {
            state.checksumReply = SimChecksumReply::Unsigned;
        } else {
            return bad("expected correct, omitted, wrong or unsigned");
        }
        take();
        return SimOptionResult::Taken;
    }
    if (option == "--fault") {
        if (!value || !ApplyFault(*value, state.faults)) return bad("unknown fault");
        take();
        return SimOptionResult::Taken;
    }

    SimTiming& timing = state.timing;
    struct Delay {
        const char* name;
        int SimTiming::*field;
    };
    static constexpr Delay kDelays[] = {
        {"--reply-delay-ms", &SimTiming::replyDelayMs},
        {"--card-delay-ms", &SimTiming::cardDelayMs},
        {"--busy-ms", &SimTiming::busyMs},
        {"--late-reply-ms", &SimTiming::lateReplyMs},
        {"--flash-ms", &SimTiming::flashMs},
    };
    for (const Delay& delay : kDelays) {
        if (option != delay.name) continue;
        if (!needNumber(0, kLongestDelayMs)) return bad("expected milliseconds (0 or more)");
        timing.*delay.field = static_cast<int>(number);
        return SimOptionResult::Taken;
    }
    if (option == "--usb-printers") {
        if (!needNumber(1, kMostUsbPrinters)) return bad("expected a count of 1 to 10");
        state.usbPrinters = static_cast<int>(number);
        return SimOptionResult::Taken;
    }
    if (option == "--hang-up-after-bytes") {
        if (!needNumber(0, 1LL << 40)) return bad("expected a count (0 or more)");
        state.faults.hangUpAfterBytes = number;
        return SimOptionResult::Taken;
    }
    if (option == "--busy-after-bytes" || option == "--off-after-frames") {
        if (!needNumber(0, 1LL << 40)) return bad("expected a count (0 or more)");
        (option == "--busy-after-bytes" ? timing.busyAfterBytes : timing.offAfterFrames) = number;
        return SimOptionResult::Taken;
    }
    return SimOptionResult::NotAnOption;
}
