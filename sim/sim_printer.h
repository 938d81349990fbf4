#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_card.h"
#include "sim/sim_frame_parser.h"

// How the simulated printer answers a firmware image.
enum class SimChecksumReply {
    Correct,  // "CHK<sum>,"
    Omitted,  // a reply without a CHK field
    Wrong,    // the sum plus one
};

// Misbehaviour to test the host against. Every flag applies to every
// connection until it is cleared.
struct SimFaults {
    bool silent = false;          // no replies at all
    bool closeOnRequest = false;  // drop the connection at the next request, unanswered
    bool garbageReplies = false;  // each reply replaced by binary bytes, zeros included
    bool oneBytePieces = false;   // replies handed out one byte at a time
    bool longReplies = false;     // each reply padded beyond the host's 1024-byte area
    bool hangUpMidReply = false;  // a reply's first half goes out, then the connection drops
};

// Everything a test or the command line may set. The defaults describe a
// plausible Ethernet-capable printer of the "E" family.
struct SimPrinterState {
    // Status values by mnemonic, as "REQ,STA,<MN>" reports them.
    std::map<std::string, std::string> values = DefaultValues();
    // What "REQ,DEF,RST" puts back.
    std::map<std::string, std::string> configDefaults = DefaultConfiguration();
    // Replies to "QPR<n>" and "SNR<n>", item n at index n-1.
    std::vector<std::string> queryItems = DefaultQueryItems();
    std::vector<std::string> sensorItems = DefaultSensorItems();
    // The reply to any item number outside the list. A printer that never
    // says "END" is modelled by setting "@@@" or any text here.
    std::string numberedTailReply = "END";
    // The card in the printer; a magnetic encode overwrites the tracks it names.
    std::array<simcard::SimTrack, 3> card = DefaultCard();
    simcard::SimRecordFaults cardRecordFaults;
    SimChecksumReply checksumReply = SimChecksumReply::Correct;
    SimFaults faults;
    // Switched off or unplugged: the in-process link cannot open.
    bool absent = false;

    static std::map<std::string, std::string> DefaultValues();
    static std::map<std::string, std::string> DefaultConfiguration();
    static std::vector<std::string> DefaultQueryItems();
    static std::vector<std::string> DefaultSensorItems();
    static std::array<simcard::SimTrack, 3> DefaultCard();
};

// One emulated card printer, written from the wire protocol: bytes in,
// replies out, no transport of its own. The in-process link, the TCP server
// and any later transport feed it and drain its replies.
//
// Thread-safe: a transport thread may feed it while a test reads the record
// or changes the state.
class CSimPrinter {
public:
    static constexpr size_t kMaxPendingReply = 256 * 1024;
    static constexpr size_t kMaxFrames = 10000;
    static constexpr size_t kLongReplySize = 1500;

    explicit CSimPrinter(SimPrinterState state = SimPrinterState{});

    CSimPrinter(const CSimPrinter&) = delete;
    CSimPrinter& operator=(const CSimPrinter&) = delete;

    // --- transport side ---------------------------------------------------
    // Stream input from the host, cut anywhere.
    void Receive(const uint8_t* data, size_t length);
    // Moves queued reply bytes into `buffer` (at most `capacity`, and only one
    // byte when replies go out in one-byte pieces); returns the count.
    size_t TakeReply(uint8_t* buffer, size_t capacity);
    size_t PendingReplyBytes() const;
    // The printer dropped the connection (faults closeOnRequest, and
    // hangUpMidReply once the half reply is taken). Input is ignored until
    // the next connection.
    bool ConnectionClosed() const;
    // A new connection: partial input and unread replies of the old one are
    // dropped; the state and the record stay.
    void StartConnection();
    int Connections() const;
    bool IsAbsent() const;

    // --- test side --------------------------------------------------------
    std::vector<SimFrame> Frames() const;
    void ClearFrames();
    SimPrinterState GetState() const;
    void UpdateState(const std::function<void(SimPrinterState&)>& change);
    std::optional<std::string> Value(const std::string& mnemonic) const;
    void SetValue(const std::string& mnemonic, const std::string& value);
    // Called for every frame received, outside the printer's lock (it may
    // not call back into the printer).
    void SetFrameObserver(std::function<void(const SimFrame&)> observer);

private:
    void Handle(const SimFrame& frame);
    void HandleCommand(const SimFrame& frame);
    void HandleNumbered(const SimFrame& frame);
    void HandleMagEncode(const SimFrame& frame);
    void Record(const CSimFrameParser::Output& piece);
    void Reply(std::string reply);
    void AddToCounter(const std::string& mnemonic, long long delta);

    mutable std::mutex m_mutex;
    SimPrinterState m_state;
    CSimFrameParser m_parser;
    std::deque<SimFrame> m_frames;
    std::deque<uint8_t> m_reply;
    bool m_closed = false;
    bool m_hangUpWhenSent = false;
    int m_connections = 0;
    std::function<void(const SimFrame&)> m_observer;
};
