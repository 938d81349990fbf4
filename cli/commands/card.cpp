// encode, read-card and eject: the card in the printer.

#include <CLI/CLI.hpp>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/commands/command.h"
#include "protocol/message_if.h"
#include "tasks/magstripe.h"

namespace {

struct EncodeOptions {
    std::array<std::optional<std::string>, cardread::kTrackCount> tracks;
    bool hiCo = false;
    bool selfTest = false;
};

struct ReadOptions {
    std::string trackList = "1,2,3";
};

const char* LedName(cardread::TrackLed led) {
    switch (led) {
        case cardread::TrackLed::Pass:
            return "pass";
        case cardread::TrackLed::Fail:
            return "fail";
        case cardread::TrackLed::Off:
            break;
    }
    return "off";
}

std::optional<std::string> CheckEncode(const EncodeOptions& options) {
    if (options.selfTest) return std::nullopt;
    bool any = false;
    for (size_t i = 0; i < options.tracks.size(); ++i) {
        if (!options.tracks[i]) continue;
        any = true;
        const std::optional<std::string> text = Latin1(*options.tracks[i]);
        if (!text) return "track " + std::to_string(i + 1) + " holds characters beyond Latin-1";
        if (!magstripe::IsTrackText(*text)) {
            return "track " + std::to_string(i + 1) +
                   " holds a control character; a track takes none below 0x20";
        }
        if (text->size() > static_cast<size_t>(magstripe::kTrackLimits[i])) {
            return "track " + std::to_string(i + 1) + " holds at most " +
                   std::to_string(magstripe::kTrackLimits[i]) + " characters";
        }
    }
    if (!any) return "encode: give --track1, --track2 or --track3, or --self-test";
    return std::nullopt;
}

Result RunEncode(const EncodeOptions& options, Session& session) {
    Result result;
    CCliHost& host = session.host;
    result.data["self_test"] = options.selfTest;
    result.data["hi_co"] = options.hiCo;
    result.data["encoded"] = false;
    result.data["tracks"] = Json::array();
    if (options.selfTest) {
        const bool sent = magstripe::SelfTest(session.msg);
        result.data["encoded"] = sent;
        result.lines.push_back(sent ? "Self test started" : "Self test not sent");
        if (!sent) result.code = cli_exit::kRefused;
        return result;
    }
    magstripe::EncodeRequest request;
    Json tracks = Json::array();
    for (size_t i = 0; i < request.text.size(); ++i) {
        request.selected[i] = options.tracks[i].has_value();
        if (request.selected[i]) request.text[i] = *Latin1(*options.tracks[i]);
        if (i == 0) request.text[i] = Latin1Upper(request.text[i]);
        tracks.push_back(
            TrackJson(static_cast<int>(i) + 1, request.selected[i], nullptr,
                      request.selected[i] ? std::optional(request.text[i]) : std::nullopt));
    }
    result.data["tracks"] = tracks;
    request.highCoercivity = options.hiCo;
    const magstripe::EncodeResult encoded = magstripe::Encode(session.msg, host, request);
    if (host.Declined()) {
        result.code = cli_exit::kUsage;
    } else if (encoded != magstripe::EncodeResult::Sent) {
        result.code = cli_exit::kRefused;
        result.lines.push_back("Not encoded");
    } else {
        result.data["encoded"] = true;
        result.lines.push_back(std::string("Encoded") + (options.hiCo ? " (high coercivity)" : ""));
    }
    return result;
}

std::optional<std::string> CheckRead(const ReadOptions& options) {
    for (char c : options.trackList) {
        if (c != ',' && (c < '1' || c > '3')) return "--tracks takes 1, 2 and 3, as 1,2,3";
    }
    if (options.trackList.find_first_of("123") == std::string::npos) {
        return "--tracks names no track";
    }
    return std::nullopt;
}

Result RunRead(const ReadOptions& options, Session& session) {
    Result result;
    uint8_t selection = 0;
    for (char c : options.trackList) {
        if (c >= '1' && c <= '3') selection |= cardread::TrackBit(c - '0');
    }
    const magstripe::ReadResult read = magstripe::ReadCard(session.msg, session.host, selection);
    result.data["read"] = read.outcome == magstripe::ReadOutcome::Read;
    result.data["verdict"] = nullptr;
    result.data["tracks"] = Json::array();
    if (read.outcome != magstripe::ReadOutcome::Read) {
        result.code = cli_exit::kRefused;
        return result;
    }
    static constexpr const char* kVerdicts[] = {"decoded", "invalid data",
                                                "firmware incompatibility"};
    result.data["verdict"] = kVerdicts[static_cast<size_t>(read.view.verdict)];
    if (read.view.verdict != cardread::RecordVerdict::Decoded) result.code = cli_exit::kRefused;
    Json tracks = Json::array();
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        const cardread::TrackView& track = read.view.tracks[static_cast<size_t>(i)];
        const bool selected = (selection & cardread::TrackBit(i + 1)) != 0;
        tracks.push_back(TrackJson(i + 1, selected, LedName(track.led), track.text));
        result.lines.push_back("Track" + std::to_string(i + 1) + " " + LedName(track.led) +
                               (track.text.empty() ? "" : ": " + Utf8(track.text)));
        if (selected && track.led != cardread::TrackLed::Pass) result.code = cli_exit::kRefused;
    }
    result.data["tracks"] = tracks;
    return result;
}

Result RunEject(Session& session) {
    Result result;
    const bool sent = magstripe::Eject(session.msg);
    result.data["ejected"] = sent;
    result.lines.push_back(sent ? "Ejected" : "Not sent");
    if (!sent) {
        session.host.Tell("The eject request did not reach the printer.");
        result.code = cli_exit::kRefused;
    }
    return result;
}

}  // namespace

void AddCardCommands(CommandLine& line) {
    auto encode = std::make_shared<EncodeOptions>();
    Command encodeCommand{"encode"};
    encodeCommand.check = [encode](const CommonOptions&, const std::vector<Target>&) {
        return CheckEncode(*encode);
    };
    encodeCommand.run = [encode](Session& session) { return RunEncode(*encode, session); };
    CLI::App* encodeCmd = AddCommand(line, "encode magnetic tracks on the card in the printer",
                                     std::move(encodeCommand));
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        const std::string name = "--track" + std::to_string(i + 1);
        encodeCmd
            ->add_option(name, encode->tracks[static_cast<size_t>(i)],
                         "the data of track " + std::to_string(i + 1) +
                             ", without sentinels; no control characters")
            ->type_name("TEXT");
    }
    encodeCmd->add_flag("--hi-co", encode->hiCo, "high-coercivity encoding");
    encodeCmd->add_flag("--self-test", encode->selfTest, "the printer's own encoding self test");

    auto read = std::make_shared<ReadOptions>();
    Command readCommand{"read-card"};
    readCommand.check = [read](const CommonOptions&, const std::vector<Target>&) {
        return CheckRead(*read);
    };
    readCommand.run = [read](Session& session) { return RunRead(*read, session); };
    AddCommand(line, "read the card's tracks back and check each", std::move(readCommand))
        ->add_option("--tracks", read->trackList, "the tracks to read (default 1,2,3)")
        ->type_name("1,2,3");

    Command eject{"eject"};
    eject.run = RunEject;
    AddCommand(line, "eject the card", std::move(eject));
}
