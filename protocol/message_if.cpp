#include "protocol/message_if.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint8_t kENQ = 0x05;
constexpr uint8_t kSOH = 0x01;
constexpr uint8_t kFS = 0x1C;
constexpr uint8_t kETX = 0x03;
constexpr int kPreambleEnqs = 9;
constexpr int kPreambleSize = kPreambleEnqs + 1;
constexpr char kTrailer[] = {',', static_cast<char>(kFS), static_cast<char>(kETX)};
constexpr int kTrailerSize = sizeof kTrailer;
constexpr int kLineTextLimit = 63;  // the page reads a control into a 64-byte area

constexpr const char* kSoftwareErrorText =
    "Software error: Exception raised when processing response.";
constexpr const char* kNoMemoryText = "Insufficient system memory";
constexpr const char* kNoMagDataText =
    "WARNING! No magnetic data found!   \n\nPress OK to send anyway.";
constexpr const char* kFirmwareProgressText = "Sending firmware to the printer";
// Progress is reported every 64 KiB: often enough to move the bar, rarely
// enough not to slow a large image.
constexpr int64_t kProgressStep = 64 * 1024;

std::string Preamble() {
    std::string p(kPreambleEnqs, static_cast<char>(kENQ));
    p.push_back(static_cast<char>(kSOH));
    return p;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace

CMessageIF::CMessageIF(IHostServices& host) : m_host(host), m_linkFactory(DefaultLinkFactory()) {}

CMessageIF::~CMessageIF() = default;

int CMessageIF::LinkKindForPort(const std::string& portName) {
    if (portName == "USB") return kLinkUsb;
    if (portName == "Ethernet") return kLinkEthernet;
    return kLinkParallel;
}

// --- connection -------------------------------------------------------------

int CMessageIF::SelectPort(const std::string& portName) {
    if (m_link) {
        m_link->Close();
        m_link.reset();
    }
    const int kind = LinkKindForPort(portName);
    std::unique_ptr<CCharacterInterface> link = m_linkFactory ? m_linkFactory(kind, portName) : nullptr;
    if (!link) return 0;
    link->SetLinkKind(kind);
    m_link = std::move(link);
    return ConnectPrinter();
}

int CMessageIF::ConnectPrinter() {
    if (!m_link) return 0;
    // A sending request that fails while the pages are being rebuilt would
    // otherwise start a second connect loop inside the first.
    if (m_connecting) return 0;
    m_connecting = true;
    while (!m_link->Open()) {
        if (m_host.Message(kConnectFailedText, MsgButtons::RetryCancel, MsgIcon::Exclamation) !=
            MsgResult::Retry) {
            m_connecting = false;
            return 0;
        }
        m_host.Pause(kRetryPauseMs);
    }
    if (m_mainSheet) m_mainSheet->RebuildPages();
    m_connecting = false;
    DetectPrinterFamily();
    return 1;
}

void CMessageIF::DetectPrinterFamily() {
    std::optional<std::string> version = RequestStatus(cmd::VRS);
    if (version) m_family = family::FromVersion(*version);
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
    static_assert(kHeads[0].size() == kPreambleSize);
    switch (prefix) {
        case Prefix::None: return kHeads[0];
        case Prefix::Req: return kHeads[1];
        case Prefix::Status: return kHeads[2];
        case Prefix::Modify: return kHeads[3];
    }
    return kHeads[0];
}

bool CMessageIF::WriteAll(const uint8_t* data, int length) {
    if (!m_link) return false;
    // A link that took only part of the frame has failed as far as the
    // printer is concerned: it will never see a complete request.
    return m_link->Write(data, length) == length;
}

bool CMessageIF::SendFrame(Prefix prefix, std::string_view mnemonic, std::string_view parameter,
                           bool gated, uint32_t mask, bool& writeFailed) {
    writeFailed = false;
    const std::string_view head = FrameHead(prefix);
    const size_t length = head.size() + mnemonic.size() + parameter.size() + kTrailerSize;
    if (length >= static_cast<size_t>(kAreaSize)) return false;

    // Assembled in a work area on the stack: no allocation per request.
    std::array<uint8_t, kAreaSize> frame;
    size_t at = 0;
    for (std::string_view part : {head, mnemonic, parameter}) {
        if (part.empty()) continue;
        std::memcpy(frame.data() + at, part.data(), part.size());
        at += part.size();
    }
    for (char c : kTrailer) frame[at++] = static_cast<uint8_t>(c);

    if (gated && (mask & m_family) == 0) return false;

    if (!WriteAll(frame.data(), static_cast<int>(length))) {
        writeFailed = true;
        return false;
    }
    return true;
}

std::string_view CMessageIF::ReadReplyText(int paced) {
    // The area is all zero before a read: it starts so, and the bytes of the
    // reply before are cleared here, which costs that reply's length rather
    // than the whole area. The spare byte keeps a full area's text ending in
    // zero.
    std::memset(m_replyArea.data(), 0, m_replyUsed);
    m_replyUsed = 0;
    if (!m_link) return {};
    const int n = m_link->Read(m_replyArea.data(), kAreaSize, paced);
    if (n <= 0) return {};
    m_replyUsed = static_cast<size_t>(std::min(n, kAreaSize));
    const auto* text = reinterpret_cast<const char*>(m_replyArea.data());
    return std::string_view(text, strnlen(text, m_replyUsed));
}

std::string CMessageIF::ReadReply(int paced) { return std::string(ReadReplyText(paced)); }

bool CMessageIF::SendAndPause(Prefix prefix, int command, std::string_view parameter,
                              int pauseMs) {
    if (command < 0 || command >= cmd::COUNT) return false;
    const CommandEntry& entry = kCommandTable[command];
    bool writeFailed = false;
    if (!SendFrame(prefix, entry.mnemonic, parameter, true, entry.familyMask, writeFailed)) {
        if (writeFailed) ConnectPrinter();
        return false;
    }
    if (pauseMs > 0) m_host.Pause(pauseMs);
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
    const CommandEntry& entry = kCommandTable[command];
    bool writeFailed = false;
    if (!SendFrame(Prefix::Status, entry.mnemonic, {}, true, entry.familyMask, writeFailed)) {
        return std::nullopt;
    }
    std::optional<std::string> value =
        ParseReplyText(command, ReadReplyText(static_cast<int>(m_family & family::kV)));
    if (value && command == cmd::TCQ) {
        // The printer's total counter is reported modulo 4096.
        const uint32_t reduced = static_cast<uint32_t>(ToInteger(*value)) & 0xFFF;
        value = std::to_string(reduced);
    }
    return value;
}

void CMessageIF::SendModify(int command, const std::string& text) {
    SendAndPause(Prefix::Modify, command, text, kModifyPauseMs);
}

void CMessageIF::SendCommandAndWait(int command, const std::string& text) {
    const bool ethernet = m_link && m_link->GetLinkKind() == kLinkEthernet;
    SendAndPause(Prefix::Req, command, text, ethernet ? kModifyPauseMs : kShortPauseMs);
}

bool CMessageIF::SendCommand(int command, const std::optional<std::string>& text) {
    return SendAndPause(Prefix::Req, command, text.value_or(std::string()), 0);
}

bool CMessageIF::SendCommandText(const std::optional<std::string>& text) {
    if (!text) return false;
    bool writeFailed = false;
    if (SendFrame(Prefix::Req, *text, {}, false, 0, writeFailed)) return true;
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

// --- replies ----------------------------------------------------------------

int32_t CMessageIF::ParseLeadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) {
            value = static_cast<int64_t>(INT32_MAX) + 1;  // saturated; more digits change nothing
        }
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

std::optional<std::string> CMessageIF::ParseReply(int command, const std::string& reply) {
    return ParseReplyText(command, reply);
}

std::optional<std::string> CMessageIF::ParseReplyText(int command, std::string_view reply) {
    if (command < 0 || command >= cmd::COUNT) return std::nullopt;
    try {
        if (reply.empty()) return std::nullopt;
        // The error status comes back as "STA<value>", not under its own name.
        const std::string_view name = command == cmd::ERR ? "STA" : kCommandTable[command].mnemonic;
        const size_t at = reply.find(name);
        if (at == std::string_view::npos) return std::nullopt;
        const size_t start = at + name.size();
        const size_t comma = reply.find(',', start);
        return std::string(
            reply.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                 : comma - start));
    } catch (const std::exception&) {
        m_host.Message(kSoftwareErrorText, MsgButtons::Ok, MsgIcon::Exclamation);
        return std::nullopt;
    }
}

int CMessageIF::ReadFixedReply(uint8_t* buffer) {
    if (!m_link || !buffer) return 0;
    using Clock = std::chrono::steady_clock;
    // An empty read is "nothing yet" on most links (the parallel port says 0
    // while the card is still in the reader): the record ends only once the
    // link's own receive wait passes without a byte, or the link has failed.
    const auto wait = std::chrono::milliseconds(std::max(m_link->ReceiveWaitMs(), 0));
    Clock::time_point lastProgress = Clock::now();
    int received = 0;
    while (received < kCardRecordSize) {
        const int room = kCardRecordSize - received;
        const int n = m_link->Read(buffer + received, room, static_cast<int>(m_family & family::kA));
        if (n > 0) {
            received += std::min(n, room);
            lastProgress = Clock::now();
            continue;
        }
        if (m_link->HasFailed() || Clock::now() - lastProgress >= wait) break;
    }
    return received;
}

// --- transfers --------------------------------------------------------------

std::optional<int32_t> CMessageIF::SendFirmwareImage(CSourceFile& file) {
    if (!m_link) return std::nullopt;
    const int64_t length = std::max<int64_t>(file.Length(), 0);
    file.SeekToStart();
    const int32_t lengthField = static_cast<int32_t>(static_cast<uint32_t>(length));

    std::string header = Preamble();
    header += "REQ,";
    header += kCommandTable[cmd::FRM].mnemonic;
    header += std::to_string(lengthField);
    header.push_back(',');
    header.push_back(static_cast<char>(kFS));
    if (m_link->Write(Bytes(header), static_cast<int>(header.size())) != static_cast<int>(header.size())) {
        return std::nullopt;
    }

    const bool bytewise = m_link->GetLinkKind() == kLinkParallel;
    uint8_t chunk[kFirmwareChunk];
    int64_t sent = 0;
    int64_t lastReported = 0;
    m_host.ShowProgress(kFirmwareProgressText, 0, length);
    while (sent < length) {
        const int64_t want = std::min<int64_t>(kFirmwareChunk, length - sent);
        const int64_t got = file.Read(chunk, want);
        // A file that yields less than its length promised ends the data here
        // rather than spinning on empty reads.
        if (got <= 0) break;
        // A printer that stopped taking data will not take the rest either:
        // each further write would only wait out the link's limit again.
        bool written = true;
        if (bytewise) {
            for (int64_t i = 0; i < got && written; ++i) written = m_link->Write(chunk + i, 1) == 1;
        } else {
            written = m_link->Write(chunk, static_cast<int>(got)) == static_cast<int>(got);
        }
        if (!written) {
            m_host.EndProgress();
            return std::nullopt;
        }
        sent += got;
        if (sent - lastReported >= kProgressStep || sent == length) {
            m_host.ShowProgress(kFirmwareProgressText, sent, length);
            lastReported = sent;
        }
    }
    m_host.EndProgress();

    const uint8_t etx = kETX;
    m_link->Write(&etx, 1);

    m_host.Pause(kFirmwareReplyPauseMs);
    std::optional<std::string> checksum =
        ParseReplyText(cmd::CHK, ReadReplyText(static_cast<int>(m_family & family::kV)));
    if (!checksum) return std::nullopt;
    return ToInteger(*checksum);
}

bool CMessageIF::SendLaminatorFirmware(CSourceFile& file) {
    if (!m_link) return false;
    const int64_t fileLength = std::max<int64_t>(file.Length(), 0);
    const uint32_t length = static_cast<uint32_t>(fileLength);
    std::string head = "\x01,REQ,LAM_FRM" + std::to_string(length) + ",\x1c,";
    std::vector<uint8_t> text;
    try {
        // A link write takes a 32-bit count: a frame beyond it cannot be
        // sent whole, and reserving it would take gigabytes for nothing.
        if (fileLength > static_cast<int64_t>(INT_MAX) - static_cast<int64_t>(head.size()) - 1) {
            throw std::bad_alloc();
        }
        text.assign(head.size() + static_cast<size_t>(length) + 64, 0);
    } catch (const std::bad_alloc&) {
        m_host.Message(kNoMemoryText, MsgButtons::Ok);
        return false;
    }
    std::memcpy(text.data(), head.data(), head.size());
    file.SeekToStart();
    size_t filled = head.size();
    size_t remaining = length;
    while (remaining > 0) {
        const int64_t got = file.Read(text.data() + filled, static_cast<int64_t>(remaining));
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
        remaining -= static_cast<size_t>(got);
    }
    // The frame is text: it ends at the first zero byte, where the ETX goes.
    const size_t end = strnlen(reinterpret_cast<const char*>(text.data()), text.size() - 1);
    text[end] = kETX;
    const int total = static_cast<int>(end + 1);
    return m_link->Write(text.data(), total) == total;
}

void CMessageIF::SendFile(CSourceFile& file) {
    if (!m_link) return;
    const int64_t length = std::max<int64_t>(file.Length(), 0);
    std::vector<uint8_t> content;
    try {
        // A link write takes a 32-bit count: a larger file cannot be sent whole.
        if (length > INT_MAX) throw std::bad_alloc();
        content.assign(static_cast<size_t>(length), 0);
    } catch (const std::bad_alloc&) {
        m_host.Message(kNoMemoryText, MsgButtons::Ok);
        return;
    }
    file.SeekToStart();
    size_t filled = 0;
    while (filled < content.size()) {
        const int64_t got = file.Read(content.data() + filled,
                                      static_cast<int64_t>(content.size() - filled));
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    // Only the bytes the file really gave: zero padding would print garbage.
    m_link->Write(content.data(), static_cast<int>(filled));
}

void CMessageIF::SendMagneticEncode(const std::string& track1, const std::string& track2,
                                    const std::string& track3, bool highCoercivity) {
    std::optional<std::string> model = RequestStatus(cmd::MDL);
    const bool model10 = model && ToInteger(*model) == 10;

    std::string command = "\x01";
    command += model10 ? "NOC1,MGVON,VER5," : "NOC0,BBB,MGVON,VER5,";
    command += highCoercivity ? "COEH" : "COEL";
    const std::string* tracks[] = {&track1, &track2, &track3};
    for (int i = 0; i < 3; ++i) {
        if (tracks[i]->empty()) continue;
        command += ",MAG" + std::to_string(i + 1) + ",";
        command += *tracks[i];
    }
    command.push_back(static_cast<char>(kFS));
    command.push_back(static_cast<char>(kETX));

    if (track1.empty() && track2.empty() && track3.empty() &&
        m_host.Message(kNoMagDataText, MsgButtons::OkCancel) == MsgResult::Cancel) {
        return;
    }
    if (m_link && command.size() <= static_cast<size_t>(INT_MAX)) {
        m_link->Write(Bytes(command), static_cast<int>(command.size()));
    }
}
