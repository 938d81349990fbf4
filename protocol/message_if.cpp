#include "protocol/message_if.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "protocol/frame_format.h"

// Framing and the request forms.

namespace {

constexpr int kLineTextLimit = 63;  // the page reads a control into a 64-byte area

}  // namespace

CMessageIF::CMessageIF(IHostServices& host, LinkFactory links)
    : m_host(host), m_linkFactory(std::move(links)) {}

CMessageIF::~CMessageIF() = default;

int CMessageIF::LinkKindForPort(const std::string& portName) {
    if (portName == "USB") return kLinkUsb;
    if (portName == "Ethernet") return kLinkEthernet;
    return kLinkParallel;
}

// --- framing ----------------------------------------------------------------

std::string_view CMessageIF::FrameHead(Prefix prefix) {
    // The preamble (nine ENQ, one SOH) with each prefix, copied in one piece.
    static constexpr std::string_view kHeads[] = {
        std::string_view("\x05\x05\x05\x05\x05\x05\x05\x05\x05\x01", 10),
        std::string_view("\x05\x05\x05\x05\x05\x05\x05\x05\x05\x01REQ,", 14),
        std::string_view("\x05\x05\x05\x05\x05\x05\x05\x05\x05\x01REQ,STA,", 18),
        std::string_view("\x05\x05\x05\x05\x05\x05\x05\x05\x05\x01REQ,MOD,", 18),
    };
    static_assert(kHeads[0].size() == frame::kPreambleSize);
    switch (prefix) {
        case Prefix::None:
            return kHeads[0];
        case Prefix::Req:
            return kHeads[1];
        case Prefix::Status:
            return kHeads[2];
        case Prefix::Modify:
            return kHeads[3];
    }
    return kHeads[0];
}

bool CMessageIF::WriteAll(const uint8_t* data, int length) {
    if (!m_link) return false;
    // Nothing more reaches the printer once the operator has cancelled the
    // running operation, whichever form or transfer was about to write.
    if (m_host.CancelRequested()) return false;
    // A link that took only part of the frame has failed as far as the
    // printer is concerned: it will never see a complete request.
    return m_link->Write(data, length) == length;
}

bool CMessageIF::SendFrame(Prefix prefix, std::string_view mnemonic, std::string_view parameter,
                           bool gated, uint32_t mask, bool& writeFailed) {
    writeFailed = false;
    const std::string_view head = FrameHead(prefix);
    const size_t length = head.size() + mnemonic.size() + parameter.size() + frame::kTrailerSize;
    if (length >= static_cast<size_t>(kAreaSize)) return false;

    // Assembled in a work area on the stack: no allocation per request.
    std::array<uint8_t, kAreaSize> frame;
    size_t at = 0;
    for (std::string_view part : {head, mnemonic, parameter}) {
        if (part.empty()) continue;
        std::memcpy(frame.data() + at, part.data(), part.size());
        at += part.size();
    }
    for (char c : frame::kTrailer) frame[at++] = static_cast<uint8_t>(c);

    if (gated && (mask & m_family) == 0) return false;
    // Once the operator has cancelled the running operation, its remaining
    // requests fail as unanswered without reaching the printer.
    if (m_host.CancelRequested()) return false;

    if (!WriteAll(frame.data(), static_cast<int>(length))) {
        writeFailed = true;
        return false;
    }
    return true;
}

bool CMessageIF::SendStatusFrame(int command) {
    // A status request has no parameter, so each command's frame never
    // changes: framed once for the whole program, on first use, rather than
    // on every request of a polling page.
    static const std::array<std::string, cmd::COUNT> kStatusFrames = [] {
        std::array<std::string, cmd::COUNT> frames;
        for (int c = 0; c < cmd::COUNT; ++c) {
            std::string& frame = frames[static_cast<size_t>(c)];
            frame = FrameHead(Prefix::Status);
            frame += kCommandTable[c].mnemonic;
            frame.append(frame::kTrailer, frame::kTrailerSize);
        }
        return frames;
    }();
    if ((kCommandTable[command].familyMask & m_family) == 0) return false;
    const std::string& frame = kStatusFrames[static_cast<size_t>(command)];
    return WriteAll(frame::Bytes(frame), static_cast<int>(frame.size()));
}

std::string_view CMessageIF::ReadReplyText(int paced) {
    // The text is bounded by the bytes this read took, so nothing left from
    // an earlier reply needs clearing first; it ends at a zero byte within
    // them, as a printer may pad a reply.
    m_replyUsed = 0;
    if (!m_link) return {};
    const int n = m_link->Read(m_replyArea.data(), kAreaSize, paced);
    if (n <= 0) return {};
    m_replyUsed = static_cast<size_t>(std::min(n, kAreaSize));
    const auto* text = reinterpret_cast<const char*>(m_replyArea.data());
    return std::string_view(text, strnlen(text, m_replyUsed));
}

bool CMessageIF::SendAndPause(Prefix prefix, int command, std::string_view parameter, int pauseMs) {
    if (command < 0 || command >= cmd::COUNT) return false;
    const CommandEntry& entry = kCommandTable[command];
    bool writeFailed = false;
    if (!SendFrame(prefix, entry.mnemonic, parameter, true, entry.familyMask, writeFailed)) {
        if (writeFailed) ConnectPrinter();
        return false;
    }
    return PauseAndConfirm(pauseMs);
}

bool CMessageIF::PauseAndConfirm(int pauseMs) {
    // The time the pause really took has already given a reset its time to
    // come back; a pause cut short, or one that does not wait, gave less.
    const auto pauseStart = std::chrono::steady_clock::now();
    if (pauseMs > 0) m_host.Pause(pauseMs);
    const auto paused = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - pauseStart)
                            .count();
    if (!m_link->ConfirmWritten(static_cast<int>(
            std::clamp<long long>(kConfirmGraceMs - paused, 0, kConfirmGraceMs)))) {
        ConnectPrinter();
        return false;
    }
    return true;
}

// --- request forms ----------------------------------------------------------

std::string CMessageIF::RequestNumbered(int command, int8_t number) {
    bool answered = false;
    return RequestNumbered(command, number, answered);
}

std::string CMessageIF::RequestNumbered(int command, int8_t number, bool& answered) {
    answered = false;
    if (command < 0 || command >= cmd::COUNT) return {};
    const CommandEntry& entry = kCommandTable[command];
    bool writeFailed = false;
    if (!SendFrame(Prefix::None, entry.mnemonic, std::to_string(static_cast<int>(number)), true,
                   entry.familyMask, writeFailed)) {
        return {};
    }
    std::string reply(ReadReplyText(static_cast<int>(m_family & family::kA)));
    answered = m_replyUsed > 0;
    return reply;
}

std::optional<std::string> CMessageIF::RequestStatus(int command) {
    if (command < 0 || command >= cmd::COUNT) return std::nullopt;
    if (!SendStatusFrame(command)) return std::nullopt;
    const std::string_view reply = ReadReplyText(static_cast<int>(m_family & family::kV));
    // Returned as made, without a move: a polling page asks for thousands.
    if (command != cmd::TCQ) return ParseReplyText(command, reply);
    std::optional<std::string> value = ParseReplyText(command, reply);
    if (value) {
        // The printer's total counter is reported modulo 4096.
        const uint32_t reduced = ToUnsigned32(*value) & 0xFFF;
        value = std::to_string(reduced);
    }
    return value;
}

bool CMessageIF::SendModify(int command, const std::string& text) {
    return SendAndPause(Prefix::Modify, command, text, kModifyPauseMs);
}

bool CMessageIF::SendCommandAndWait(int command, const std::string& text) {
    const bool ethernet = m_link && m_link->GetLinkKind() == kLinkEthernet;
    return SendAndPause(Prefix::Req, command, text, ethernet ? kModifyPauseMs : kShortPauseMs);
}

bool CMessageIF::SendCommand(int command, const std::optional<std::string>& text) {
    return SendAndPause(Prefix::Req, command, text.value_or(std::string()), 0);
}

bool CMessageIF::SendCommandText(const std::optional<std::string>& text, int pauseMs) {
    if (!text) return false;
    bool writeFailed = false;
    if (SendFrame(Prefix::Req, *text, {}, false, 0, writeFailed)) return PauseAndConfirm(pauseMs);
    if (writeFailed) ConnectPrinter();
    return false;
}

void CMessageIF::ShowStatus(int command, CTextWindow& window) {
    window.SetWindowText(RequestStatus(command).value_or(std::string()));
}

void CMessageIF::SendModifyFromControl(int command, const CTextWindow& window) {
    std::string text = window.GetWindowText();
    if (text.size() > static_cast<size_t>(kLineTextLimit)) text.resize(kLineTextLimit);
    SendModify(command, text);
}
