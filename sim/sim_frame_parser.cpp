#include "sim/sim_frame_parser.h"

#include <algorithm>

#include "seams/text_scan.h"

namespace {

constexpr uint8_t kEnq = 0x05;
constexpr uint8_t kSoh = 0x01;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kFs = 0x1C;

// A run of ENQs longer than this is still a preamble, but only this many are
// kept in the record.
constexpr size_t kMaxRecordedPreamble = 64;

constexpr std::string_view kFirmwareHead = "REQ,FRM";
constexpr std::string_view kLaminatorHead = ",REQ,LAM_FRM";
constexpr std::string_view kSelectionHead = "REQ,MSV";
// Ten digits hold any 32-bit length.
constexpr size_t kMaxLengthDigits = 10;

bool StartsWith(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}

// "<digits>" followed by `tail`, exactly; the digits' value in `value`.
bool DigitsThen(std::string_view text, std::string_view tail, uint64_t& value) {
    if (text.size() <= tail.size()) return false;
    std::string_view digits = text.substr(0, text.size() - tail.size());
    if (text.substr(digits.size()) != tail) return false;
    if (digits.empty() || digits.size() > kMaxLengthDigits) return false;
    value = 0;
    for (char c : digits) {
        if (!textscan::IsDigit(c)) return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= 0xFFFFFFFFull;
}

void AppendCapped(std::string& to, std::string_view bytes, size_t cap) {
    if (to.size() >= cap) return;
    to.append(bytes.substr(0, cap - to.size()));
}

}  // namespace

const char* SimFrameKindName(SimFrameKind kind) {
    switch (kind) {
        case SimFrameKind::Request:
            return "Request";
        case SimFrameKind::Firmware:
            return "Firmware";
        case SimFrameKind::Laminator:
            return "Laminator";
        case SimFrameKind::MagEncode:
            return "MagEncode";
        case SimFrameKind::Raw:
            return "Raw";
    }
    return "?";
}

const std::vector<std::string_view>& CSimFrameParser::Vocabulary() {
    // The printer's own command words, as its firmware knows them.
    static const std::vector<std::string_view> words = {
        "MSR", "BSR", "PSR",  "CHK",     "VRS", "MDL", "VID", "PID",  "USN",   "UPN",     "BACK",
        "BAR", "CAM", "DBA",  "DYE",     "ENC", "FED", "FFF", "FLIP", "RED",   "SPD",     "TAC",
        "TOS", "TST", "CLN",  "CHP",     "EJT", "GEM", "MIF", "RAMP", "PRINT", "SET",     "UNSET",
        "DBG", "LCX", "HEAD", "HFD",     "OKY", "CAN", "FPP", "FDC",  "CCP",   "FSS",     "FSP",
        "FEP", "CLP", "CRQ",  "DEF,RST", "TCP", "TCQ", "CPQ", "TPQ",  "TCN",   "DFR",     "CCQ",
        "ERR", "FRM", "UPG",  "LBM",     "PBM", "TGD", "TGH", "TGL",  "TGT",   "QPR",     "MAC",
        "IPA", "SNM", "GWY",  "DYN",     "MSV", "SNR", "MIP", "STA",  "MOD",   "LAM_FRM", "NOC",
    };
    return words;
}

void CSimFrameParser::SplitMnemonic(std::string_view text,
                                    const std::vector<std::string>& extraWords,
                                    std::string& mnemonic, std::string& parameter) {
    size_t best = 0;
    auto consider = [&](std::string_view word) {
        if (word.size() > best && StartsWith(text, word)) best = word.size();
    };
    for (std::string_view word : Vocabulary()) consider(word);
    for (const std::string& word : extraWords) consider(word);
    if (best == 0) {
        while (best < text.size() &&
               (std::isupper(static_cast<unsigned char>(text[best])) || text[best] == '_')) {
            ++best;
        }
    }
    mnemonic.assign(text.substr(0, best));
    parameter.assign(text.substr(best));
}

void CSimFrameParser::Reset() {
    m_state = State::Idle;
    m_enqCount = 0;
    m_body.clear();
    m_raw.clear();
    m_rawTotal = 0;
    m_lastWasRaw = false;
    m_transfer = SimFrame{};
    m_remaining = 0;
}

void CSimFrameParser::Feed(const uint8_t* data, size_t length, std::vector<Output>& out) {
    if (data == nullptr) return;
    for (size_t i = 0; i < length; ++i) {
        if (m_state == State::FirmwareData && m_remaining > 1) {
            // A firmware image is megabytes of payload with nothing to look
            // for: take it in one piece, all but its last byte, which ends
            // the data state in Step.
            const size_t take = static_cast<size_t>(
                std::min<uint64_t>(m_remaining - 1, static_cast<uint64_t>(length - i)));
            AddPayload(data + i, take);
            m_remaining -= take;
            i += take - 1;
            continue;
        }
        // A byte is looked at at most twice: once where it ended the old
        // state, once as the start of what follows.
        if (Step(data[i], out)) Step(data[i], out);
    }
    FlushRaw(out);
}

std::string CSimFrameParser::PreambleBytes() const {
    return std::string(std::min(m_enqCount, kMaxRecordedPreamble), static_cast<char>(kEnq));
}

void CSimFrameParser::AppendRaw(std::string_view bytes) {
    AppendCapped(m_raw, bytes, kMaxRecordedBytes);
    m_rawTotal += bytes.size();
}

void CSimFrameParser::FlushRaw(std::vector<Output>& out) {
    if (m_rawTotal == 0) return;
    Output piece;
    piece.frame.kind = SimFrameKind::Raw;
    piece.frame.bytes = std::move(m_raw);
    piece.frame.totalBytes = m_rawTotal;
    piece.continuation = m_lastWasRaw;
    out.push_back(std::move(piece));
    m_raw.clear();
    m_rawTotal = 0;
    m_lastWasRaw = true;
}

void CSimFrameParser::Emit(SimFrame frame, std::vector<Output>& out) {
    FlushRaw(out);
    out.push_back({std::move(frame), false});
    m_lastWasRaw = false;
}

void CSimFrameParser::AbortToRaw() {
    if (m_state == State::FirmwareData || m_state == State::FirmwareEnd ||
        m_state == State::LaminatorText) {
        AppendRaw(m_transfer.bytes);
        // Bytes beyond the recorded part still count.
        m_rawTotal += m_transfer.totalBytes - m_transfer.bytes.size();
        m_transfer = SimFrame{};
    } else {
        AppendRaw(PreambleBytes());
        if (m_state == State::Body) {
            AppendRaw(std::string_view("\x01", 1));
            AppendRaw(m_body);
        }
    }
    m_body.clear();
    m_enqCount = 0;
    m_state = State::Idle;
}

bool CSimFrameParser::BodyTakesAnyByte() const {
    // The track selection of a card read is a bare byte 0x01 to 0x07, so it
    // may look like SOH, ETX or ENQ.
    return m_body == kSelectionHead;
}

bool CSimFrameParser::StartTransfer(std::string_view head, std::string_view tail, SimFrameKind kind,
                                    const char* mnemonic, uint64_t& length) {
    if (!StartsWith(m_body, head)) return false;
    std::string_view rest = std::string_view(m_body).substr(head.size());
    if (!DigitsThen(rest, tail, length)) return false;
    m_transfer = SimFrame{};
    m_transfer.kind = kind;
    m_transfer.mnemonic = mnemonic;
    m_transfer.prefix = "REQ,";
    m_transfer.parameter.assign(rest.substr(0, rest.size() - tail.size()));
    m_transfer.bytes = PreambleBytes() + '\x01' + m_body;
    m_transfer.totalBytes = m_enqCount + 1 + m_body.size();
    return true;
}

void CSimFrameParser::FinishTransfer(std::vector<Output>& out) {
    AppendCapped(m_transfer.bytes, "\x03", kMaxRecordedBytes);
    ++m_transfer.totalBytes;
    m_state = State::Idle;
    m_enqCount = 0;
    m_body.clear();
    Emit(std::move(m_transfer), out);
    m_transfer = SimFrame{};
}

bool CSimFrameParser::StartFirmware() {
    uint64_t length = 0;
    if (!StartTransfer(kFirmwareHead, ",\x1C", SimFrameKind::Firmware, "FRM", length)) return false;
    m_remaining = length;
    m_state = length > 0 ? State::FirmwareData : State::FirmwareEnd;
    return true;
}

bool CSimFrameParser::StartLaminator() {
    uint64_t length = 0;
    if (!StartTransfer(kLaminatorHead, ",\x1C,", SimFrameKind::Laminator, "LAM_FRM", length)) {
        return false;
    }
    m_state = State::LaminatorText;
    return true;
}

void CSimFrameParser::AddPayload(uint8_t byte) { AddPayload(&byte, 1); }

void CSimFrameParser::AddPayload(const uint8_t* bytes, size_t count) {
    const std::string_view piece(reinterpret_cast<const char*>(bytes), count);
    AppendCapped(m_transfer.bytes, piece, kMaxRecordedBytes);
    AppendCapped(m_transfer.data, piece, kMaxRecordedBytes);
    m_transfer.totalBytes += count;
    m_transfer.dataLength += count;
    uint32_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum += bytes[i];
    m_transfer.dataSum += sum;
}

void CSimFrameParser::FinishBody(std::vector<Output>& out) {
    if (m_body.empty() || static_cast<uint8_t>(m_body.back()) != kFs) {
        AbortToRaw();
        // The ETX that ended the malformed frame belongs to it.
        AppendRaw("\x03");
        return;
    }
    SimFrame frame;
    frame.bytes = PreambleBytes() + '\x01' + m_body + '\x03';
    frame.totalBytes = m_enqCount + 1 + m_body.size() + 1;
    std::string_view text(m_body);
    text.remove_suffix(1);  // FS

    static const std::vector<std::string> kNoExtra;
    if (StartsWith(text, "NOC")) {
        frame.kind = SimFrameKind::MagEncode;
        frame.mnemonic = "NOC";
        frame.parameter.assign(text.substr(3));
    } else {
        frame.kind = SimFrameKind::Request;
        if (!text.empty() && text.back() == ',') text.remove_suffix(1);
        for (std::string_view prefix : {"REQ,STA,", "REQ,MOD,", "REQ,"}) {
            if (StartsWith(text, prefix)) {
                frame.prefix.assign(prefix);
                text.remove_prefix(prefix.size());
                break;
            }
        }
        if (frame.prefix == "REQ,STA,") {
            // A status request names exactly one value; unknown names stay whole.
            frame.mnemonic.assign(text);
        } else {
            SplitMnemonic(text, kNoExtra, frame.mnemonic, frame.parameter);
        }
    }
    m_body.clear();
    m_enqCount = 0;
    m_state = State::Idle;
    Emit(std::move(frame), out);
}

bool CSimFrameParser::Step(uint8_t byte, std::vector<Output>& out) {
    switch (m_state) {
        case State::Idle:
            if (byte == kEnq) {
                FlushRaw(out);
                m_enqCount = 1;
                m_state = State::Preamble;
            } else if (byte == kSoh) {
                FlushRaw(out);
                m_enqCount = 0;
                m_body.clear();
                m_state = State::Body;
            } else {
                char c = static_cast<char>(byte);
                AppendRaw(std::string_view(&c, 1));
            }
            return false;

        case State::Preamble:
            if (byte == kEnq) {
                ++m_enqCount;
            } else if (byte == kSoh) {
                m_body.clear();
                m_state = State::Body;
            } else {
                AbortToRaw();
                return true;
            }
            return false;

        case State::Body:
            if (!BodyTakesAnyByte()) {
                if (byte == kEtx) {
                    FinishBody(out);
                    return false;
                }
                if (byte == kEnq || byte == kSoh) {
                    // A new frame starts inside a broken one: give up on the
                    // broken one and resynchronise here.
                    AbortToRaw();
                    return true;
                }
            }
            if (m_body.size() >= kMaxBody) {
                AbortToRaw();
                return true;
            }
            m_body.push_back(static_cast<char>(byte));
            if (byte == kFs) {
                StartFirmware();
            } else if (byte == ',') {
                StartLaminator();
            }
            return false;

        case State::FirmwareData:
            AddPayload(byte);
            if (--m_remaining == 0) m_state = State::FirmwareEnd;
            return false;

        case State::FirmwareEnd:
            if (byte != kEtx) {
                // The promised length was wrong: the printer cannot trust the
                // image and does not answer it.
                AbortToRaw();
                return true;
            }
            FinishTransfer(out);
            return false;

        case State::LaminatorText:
            if (byte == kEtx) {
                FinishTransfer(out);
            } else if (byte == kEnq || byte == kSoh) {
                AbortToRaw();
                return true;
            } else {
                AddPayload(byte);
            }
            return false;
    }
    return false;
}
