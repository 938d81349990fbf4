#include "tasks/magstripe.h"

#include <algorithm>

#include "protocol/message_if.h"
#include "seams/host_services.h"
#include "seams/wait_cursor.h"

namespace magstripe {
namespace {

constexpr const char* kEncodeNotSentText =
    "The encode command did not reach the printer: the card was not encoded.";

}  // namespace

bool IsTrackText(std::string_view text) {
    return std::all_of(text.begin(), text.end(), IsTrackCharacter);
}

EncodeResult Encode(CMessageIF& msg, IHostServices& host, const EncodeRequest& request) {
    std::array<std::string, cardread::kTrackCount> tracks;
    bool anySelected = false;
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (!request.selected[i]) continue;
        anySelected = true;
        tracks[i] = request.text[i].substr(0, static_cast<size_t>(kTrackLimits[i]));
    }
    if (!anySelected) {
        host.Message(kNoTracksText, MsgButtons::Ok);
        return EncodeResult::NoTracks;
    }
    switch (msg.SendMagneticEncode(tracks[0], tracks[1], tracks[2], request.highCoercivity)) {
        case CMessageIF::EncodeSend::Cancelled:
            return EncodeResult::Cancelled;
        case CMessageIF::EncodeSend::NotSent:
            // The card stays as it was: the operator must not take it for
            // encoded.
            host.Message(kEncodeNotSentText, MsgButtons::Ok);
            return EncodeResult::NotSent;
        case CMessageIF::EncodeSend::Sent:
            break;
    }
    return EncodeResult::Sent;
}

bool SelfTest(CMessageIF& msg) {
    // The printer starts moving the card; give it a moment before the next
    // request.
    return msg.SendCommandText(std::string(kCommandTable[cmd::ENC].mnemonic),
                               CMessageIF::kShortPauseMs);
}

ReadResult ReadCard(CMessageIF& msg, IHostServices& host, uint8_t selection) {
    ReadResult result;
    if (selection == 0) {
        host.Message(kNoTracksText, MsgButtons::Ok);
        return result;
    }
    std::optional<std::string> refusal;
    {
        const WaitCursor wait(host);
        const uint32_t printerFamily = msg.GetPrinterFamily();
        refusal = cardread::FirmwareGateMessage(printerFamily, msg.RequestStatus(cmd::VRS));
    }
    if (refusal) {
        host.Message(*refusal, MsgButtons::Ok);
        result.outcome = ReadOutcome::Refused;
        return result;
    }

    std::array<uint8_t, cardread::kRecordSize> record{};
    int received = 0;
    {
        const WaitCursor wait(host);
        // A request that never left has no record coming; whatever link a
        // reconnect made meanwhile holds nothing of this read.
        if (!msg.SendCommand(cmd::MSV, std::string(1, static_cast<char>(selection)))) {
            result.outcome = ReadOutcome::NotSent;
            return result;
        }
        received = msg.ReadFixedReply(record.data());
    }
    result.outcome = ReadOutcome::Read;
    result.view =
        cardread::DecodeCardRecord(record, static_cast<size_t>(std::max(received, 0)), selection);
    if (result.view.verdict == cardread::RecordVerdict::WrongLength) {
        host.Message(cardread::kFirmwareIncompatibleText, MsgButtons::Ok);
    }
    return result;
}

bool Eject(CMessageIF& msg) {
    return msg.SendCommandText(std::string(kCommandTable[cmd::EJT].mnemonic));
}

}  // namespace magstripe
