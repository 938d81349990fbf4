#include "sim/sim_printer.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "seams/text_scan.h"

namespace {

// Replies carry the value directly after the mnemonic, closed by a comma.
std::string ValueReply(const std::string& name, const std::string& value) {
    return name + value + ",";
}

std::string Garbage(size_t length) {
    // Binary noise with zero bytes, so a host that treats replies as text
    // sees them cut short, and no letters that could pass for a mnemonic.
    static constexpr uint8_t kPattern[] = {0x00, 0xFF, 0x13, 0x80, 0x00, 0x7F, 0x1C, 0x9A};
    std::string bytes(std::max<size_t>(length, sizeof kPattern), '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(kPattern[i % sizeof kPattern]);
    }
    return bytes;
}

}  // namespace

std::map<std::string, std::string> SimPrinterState::DefaultValues() {
    std::map<std::string, std::string> values = {
        {"VRS", "E3.05"},
        {"MSR", "E1234567"},
        {"MDL", "7"},
        {"VID", "3512"},
        {"PID", "6144"},  // 0x1800, a printer with an Ethernet interface
        // Counters; 5000 printed cards shows the host's 12-bit reduction.
        {"TCQ", "5000"},
        {"TCP", "5210"},
        {"TCN", "37"},
        {"CCQ", "412"},
        {"ERR", "0"},
        {"MAC", "00:1B:2C:3D:4E:5F"},
        {"DYN", "0"},
        // Addresses travel as the signed decimal of the 32-bit value whose
        // top byte is the first dotted field.
        {"IPA", "-1062705614"},  // 192.168.102.50
        {"SNM", "-256"},         // 255.255.255.0
        {"GWY", "-1062705663"},  // 192.168.102.1
    };
    for (const auto& [name, value] : DefaultConfiguration()) values[name] = value;
    return values;
}

std::map<std::string, std::string> SimPrinterState::DefaultConfiguration() {
    // Printhead density, image start, image end, printhead position.
    return {{"FDC", "50"}, {"FSP", "40"}, {"FEP", "1010"}, {"FPP", "0"}};
}

std::vector<std::string> SimPrinterState::DefaultQueryItems() {
    // One of each reply shape the host's report has to cope with.
    return {
        "MODEL: Sable\nFIRMWARE: E3.05\nSERIAL: E1234567",
        "PRINTHEAD: 300 DPI\r\nRIBBON: YMCKO\r\nRIBBON LEFT: 412 PANELS",
        "COUNTERS:\n\n   TOTAL CARDS: 5000\n\n   CLEANING CYCLES: 37\n",
        "@@@",
        "LAST ERROR: NONE\n",
    };
}

std::vector<std::string> SimPrinterState::DefaultSensorItems() {
    return {
        "CARD IN HOPPER: YES",
        "@@@",
        "RIBBON SENSOR: OK\nLID SENSOR: CLOSED\nFLIP SENSOR: HOME",
        "MAG HEAD: PRESENT\n",
    };
}

std::array<simcard::SimTrack, 3> SimPrinterState::DefaultCard() {
    std::array<simcard::SimTrack, 3> card;
    card[0].data = "TESSALY^TEST CARD^0001";
    card[1].data = "1234567890123456=2512";
    card[2].data = "0123456789";
    return card;
}

CSimPrinter::CSimPrinter(SimPrinterState state) : m_state(std::move(state)) {}

size_t CSimPrinter::Receive(const uint8_t* data, size_t length) {
    std::vector<SimFrame> seen;
    std::function<void(const SimFrame&)> observer;
    size_t taken = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || m_hangUpWhenSent || data == nullptr) return 0;
        const Clock::time_point now = Clock::now();
        if (m_silent || now < m_busyUntil) return 0;
        taken = length;
        const SimTiming& timing = m_state.timing;
        const bool busyArmed = timing.busyMs > 0 && timing.busyAfterBytes > 0 && !m_busyDone;
        if (busyArmed && m_frameBytes + static_cast<long long>(length) >= timing.busyAfterBytes) {
            // The byte that fills the buffer is taken; nothing after it.
            taken = static_cast<size_t>(timing.busyAfterBytes - m_frameBytes);
            m_busyDone = true;
            m_busyUntil = now + std::chrono::milliseconds(timing.busyMs);
        }
        const long long hangUpAt = m_state.faults.hangUpAfterBytes;
        const bool hangUp =
            hangUpAt >= 0 && m_frameBytes + static_cast<long long>(taken) >= hangUpAt;
        if (hangUp) taken = static_cast<size_t>(std::max(hangUpAt - m_frameBytes, 0LL));
        m_frameBytes += static_cast<long long>(taken);
        std::vector<CSimFrameParser::Output> pieces;
        m_parser.Feed(data, taken, pieces);
        for (const auto& piece : pieces) {
            if (m_silent) break;
            Record(piece);
            if (m_observer) seen.push_back(piece.frame);
            if (piece.frame.kind == SimFrameKind::Raw) continue;
            // A whole frame is in: the next one may fill the buffer again.
            m_frameBytes = 0;
            m_busyDone = false;
            if (m_state.faults.closeOnRequest) {
                m_closed = true;
                m_reply.clear();
                m_offers.clear();
                break;
            }
            m_replyDelayMs = ReplyDelayMs(piece.frame);
            Handle(piece.frame);
            ++m_framesHandled;
            if (m_state.faults.restartOnUpgrade && piece.frame.mnemonic == "UPG") {
                m_closed = true;
                m_reply.clear();
                m_offers.clear();
                break;
            }
            if (timing.offAfterFrames >= 0 && m_framesHandled >= timing.offAfterFrames) {
                m_silent = true;
            }
        }
        if (hangUp) {
            m_closed = true;
            m_reply.clear();
            m_offers.clear();
        }
        observer = m_observer;
    }
    if (observer) {
        for (const SimFrame& frame : seen) observer(frame);
    }
    return taken;
}

size_t CSimPrinter::ReceiveWaiting(const uint8_t* data, size_t length,
                                   std::chrono::milliseconds wait) {
    size_t sent = 0;
    Clock::time_point deadline = Clock::now() + wait;
    bool lookedWhileReady = false;
    while (sent < length) {
        const size_t taken = Receive(data + sent, length - sent);
        if (taken > 0) {
            sent += taken;
            deadline = Clock::now() + wait;
            lookedWhileReady = false;
            continue;
        }
        const Clock::time_point ready = TakesInputAt();
        const Clock::time_point now = Clock::now();
        if (now >= deadline) break;
        if (ready <= now) {
            // Nothing taken by a printer that is not busy (the connection
            // is closed): waiting brings nothing. But the busy window may
            // have ended just after Receive looked (a thread held up on a
            // loaded machine): one more look tells the two apart.
            if (lookedWhileReady) break;
            lookedWhileReady = true;
            continue;
        }
        lookedWhileReady = false;
        std::this_thread::sleep_until(std::min(deadline, ready));
    }
    return sent;
}

CSimPrinter::Clock::time_point CSimPrinter::TakesInputAt() const {
    std::lock_guard lock(m_mutex);
    if (m_silent) return Clock::time_point::max();
    return m_busyUntil;
}

int CSimPrinter::ReplyDelayMs(const SimFrame& frame) {
    const SimTiming& timing = m_state.timing;
    if (frame.kind == SimFrameKind::Firmware) return timing.flashMs;
    if (frame.kind == SimFrameKind::Request && frame.prefix == "REQ," && frame.mnemonic == "MSV") {
        return timing.cardDelayMs;
    }
    if (frame.kind == SimFrameKind::Request && frame.prefix == "REQ,STA," &&
        timing.lateReplyMs > 0 && !m_lateUsed) {
        m_lateUsed = true;
        return timing.lateReplyMs;
    }
    return timing.replyDelayMs;
}

size_t CSimPrinter::DueBytes(Clock::time_point now) const {
    size_t due = 0;
    for (const Offer& offer : m_offers) {
        if (offer.due > now) break;
        due += offer.bytes;
    }
    return due;
}

size_t CSimPrinter::TakeReply(uint8_t* buffer, size_t capacity, bool oneReply) {
    std::lock_guard lock(m_mutex);
    if (buffer == nullptr) return 0;
    size_t count = std::min(capacity, DueBytes(Clock::now()));
    if (oneReply && !m_offers.empty()) count = std::min(count, m_offers.front().bytes);
    if (m_state.faults.oneBytePieces) count = std::min<size_t>(count, 1);
    std::copy_n(m_reply.begin(), count, buffer);
    m_reply.erase(m_reply.begin(), m_reply.begin() + static_cast<std::ptrdiff_t>(count));
    for (size_t left = count; left > 0;) {
        Offer& front = m_offers.front();
        const size_t used = std::min(left, front.bytes);
        front.bytes -= used;
        left -= used;
        if (front.bytes == 0) m_offers.pop_front();
    }
    return count;
}

size_t CSimPrinter::PendingReplyBytes() const {
    std::lock_guard lock(m_mutex);
    return DueBytes(Clock::now());
}

std::optional<CSimPrinter::Clock::time_point> CSimPrinter::NextReplyDue() const {
    std::lock_guard lock(m_mutex);
    const Clock::time_point now = Clock::now();
    for (const Offer& offer : m_offers) {
        if (offer.due > now) return offer.due;
    }
    return std::nullopt;
}

bool CSimPrinter::ConnectionClosed() const {
    std::lock_guard lock(m_mutex);
    return m_closed || (m_hangUpWhenSent && m_reply.empty());
}

void CSimPrinter::StartConnection() {
    std::lock_guard lock(m_mutex);
    m_parser.Reset();
    m_reply.clear();
    m_offers.clear();
    m_frameBytes = 0;
    m_busyDone = false;
    m_busyUntil = {};
    m_closed = false;
    m_hangUpWhenSent = false;
    ++m_connections;
}

int CSimPrinter::Connections() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

bool CSimPrinter::IsAbsent() const {
    std::lock_guard lock(m_mutex);
    return m_state.absent;
}

std::vector<SimFrame> CSimPrinter::Frames() const {
    std::lock_guard lock(m_mutex);
    return {m_frames.begin(), m_frames.end()};
}

void CSimPrinter::ClearFrames() {
    std::lock_guard lock(m_mutex);
    m_frames.clear();
}

SimPrinterState CSimPrinter::GetState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

void CSimPrinter::UpdateState(const std::function<void(SimPrinterState&)>& change) {
    std::lock_guard lock(m_mutex);
    if (change) change(m_state);
    // New timing starts afresh: a late reply is due again, and a printer
    // switched back on takes input.
    m_lateUsed = false;
    const long long off = m_state.timing.offAfterFrames;
    m_silent = off >= 0 && m_framesHandled >= off;
}

std::optional<std::string> CSimPrinter::Value(const std::string& mnemonic) const {
    std::lock_guard lock(m_mutex);
    auto it = m_state.values.find(mnemonic);
    if (it == m_state.values.end()) return std::nullopt;
    return it->second;
}

void CSimPrinter::SetValue(const std::string& mnemonic, const std::string& value) {
    std::lock_guard lock(m_mutex);
    m_state.values[mnemonic] = value;
}

void CSimPrinter::SetFrameObserver(std::function<void(const SimFrame&)> observer) {
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

void CSimPrinter::Record(const CSimFrameParser::Output& piece) {
    if (piece.continuation && !m_frames.empty() && m_frames.back().kind == SimFrameKind::Raw) {
        SimFrame& raw = m_frames.back();
        size_t room = CSimFrameParser::kMaxRecordedBytes -
                      std::min(raw.bytes.size(), CSimFrameParser::kMaxRecordedBytes);
        raw.bytes.append(piece.frame.bytes, 0, room);
        raw.totalBytes += piece.frame.totalBytes;
        return;
    }
    m_frames.push_back(piece.frame);
    if (m_frames.size() > kMaxFrames) m_frames.pop_front();
}

void CSimPrinter::Reply(std::string reply) {
    const SimFaults& faults = m_state.faults;
    if (faults.silent) return;
    if (faults.garbageReplies) reply = Garbage(reply.size());
    if (faults.longReplies && reply.size() < kLongReplySize) reply.resize(kLongReplySize, 'X');
    if (faults.hangUpMidReply) {
        reply.resize(reply.size() / 2);
        m_hangUpWhenSent = true;
    }
    // A host that never reads must not make the printer grow without bound.
    if (m_reply.size() + reply.size() > kMaxPendingReply || reply.empty()) return;
    m_reply.insert(m_reply.end(), reply.begin(), reply.end());
    // Offered once its time has come, and never before the reply ahead of it.
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(m_replyDelayMs);
    if (!m_offers.empty()) due = std::max(due, m_offers.back().due);
    m_offers.push_back({reply.size(), due});
}

void CSimPrinter::AddToCounter(const std::string& mnemonic, long long delta) {
    std::string& text = m_state.values[mnemonic];
    long long value = textscan::WholeNumber(text).value_or(0);
    text = std::to_string(value + delta);
}

void CSimPrinter::Handle(const SimFrame& frame) {
    switch (frame.kind) {
        case SimFrameKind::Request:
            if (frame.prefix == "REQ,STA,") {
                // The error state is reported under "STA", not under its name.
                auto it = m_state.values.find(frame.mnemonic);
                if (it == m_state.values.end()) {
                    Reply("NAK,");
                } else {
                    Reply(ValueReply(frame.mnemonic == "ERR" ? "STA" : frame.mnemonic, it->second));
                }
            } else if (frame.prefix == "REQ,MOD,") {
                // Values may belong to names outside the standard vocabulary.
                std::vector<std::string> known;
                for (const auto& entry : m_state.values) known.push_back(entry.first);
                std::string name, value;
                CSimFrameParser::SplitMnemonic(frame.mnemonic + frame.parameter, known, name,
                                               value);
                if (!name.empty()) m_state.values[name] = value;
            } else if (frame.prefix == "REQ,") {
                HandleCommand(frame);
            } else {
                HandleNumbered(frame);
            }
            break;
        case SimFrameKind::Firmware: {
            if (m_state.checksumReply == SimChecksumReply::Omitted) {
                Reply("ACK,");
                break;
            }
            uint32_t sum = frame.dataSum;
            if (m_state.checksumReply == SimChecksumReply::Wrong) ++sum;
            // The host reads the number as a signed decimal and compares it
            // with its own unsigned 32-bit sum, so the low 32 bits go out as
            // a signed value: images whose sum reaches 2^31 report a negative
            // number that still compares equal. Other firmware states it
            // unsigned, which the host must take modulo 2^32 as well.
            Reply(ValueReply("CHK", m_state.checksumReply == SimChecksumReply::Unsigned
                                        ? std::to_string(sum)
                                        : std::to_string(static_cast<int32_t>(sum))));
            break;
        }
        case SimFrameKind::MagEncode:
            HandleMagEncode(frame);
            break;
        case SimFrameKind::Laminator:
        case SimFrameKind::Raw:
            break;
    }
}

void CSimPrinter::HandleCommand(const SimFrame& frame) {
    const std::string& name = frame.mnemonic;
    if (name == "MIP") {
        // Density, image start, image end, position, in one request.
        std::vector<std::string> parts(1);
        for (char c : frame.parameter) {
            if (c == ':') {
                parts.emplace_back();
            } else {
                parts.back() += c;
            }
        }
        if (parts.size() != 4) return;
        m_state.values["FDC"] = parts[0];
        m_state.values["FSP"] = parts[1];
        m_state.values["FEP"] = parts[2];
        m_state.values["FPP"] = parts[3];
    } else if (name == "DEF,RST") {
        for (const auto& [key, value] : m_state.configDefaults) m_state.values[key] = value;
    } else if (name == "MSV") {
        uint8_t selection =
            frame.parameter.empty() ? 0 : static_cast<uint8_t>(frame.parameter[0]) & 0x07;
        std::vector<uint8_t> record =
            simcard::BuildRecord(m_state.card, selection, m_state.cardRecordFaults);
        Reply(std::string(record.begin(), record.end()));
    } else if (name == "TST") {
        // A test card goes through the printhead like any other card.
        AddToCounter("TCQ", 1);
        AddToCounter("TCP", 1);
        AddToCounter("CCQ", 1);
    } else if (name == "CLN") {
        AddToCounter("TCN", 1);
        m_state.values["CCQ"] = "0";
    }
}

void CSimPrinter::HandleNumbered(const SimFrame& frame) {
    const std::vector<std::string>* items = nullptr;
    if (frame.mnemonic == "QPR") items = &m_state.queryItems;
    if (frame.mnemonic == "SNR") items = &m_state.sensorItems;
    if (items == nullptr) return;
    std::optional<long long> number = textscan::WholeNumber(frame.parameter);
    if (number && *number >= 1 && static_cast<unsigned long long>(*number) <= items->size()) {
        Reply((*items)[static_cast<size_t>(*number - 1)]);
    } else {
        Reply(m_state.numberedTailReply);
    }
}

void CSimPrinter::HandleMagEncode(const SimFrame& frame) {
    // Fields ",MAG1,<t1>", ",MAG2,<t2>", ",MAG3,<t3>", each running to the
    // next field or the end.
    const std::string& text = frame.parameter;
    std::vector<std::pair<size_t, int>> fields;
    for (int track = 1; track <= 3; ++track) {
        std::string marker = ",MAG" + std::to_string(track) + ",";
        size_t at = text.find(marker);
        if (at != std::string::npos) fields.emplace_back(at, track);
    }
    std::sort(fields.begin(), fields.end());
    constexpr size_t kMarkerLength = 6;
    for (size_t i = 0; i < fields.size(); ++i) {
        size_t begin = fields[i].first + kMarkerLength;
        size_t end = i + 1 < fields.size() ? fields[i + 1].first : text.size();
        simcard::SimTrack& track = m_state.card[static_cast<size_t>(fields[i].second - 1)];
        track = simcard::SimTrack{};
        track.data = text.substr(begin, end > begin ? end - begin : 0);
    }
}
