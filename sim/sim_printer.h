#pragma once

#include <array>
#include <chrono>
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
    Correct,   // "CHK<sum>,"
    Omitted,   // a reply without a CHK field
    Wrong,     // the sum plus one
    Unsigned,  // "CHK<sum>," with the 32-bit sum unsigned, as some firmware states it
};

// Misbehaviour to test the host against. Every flag applies to every
// connection until it is cleared.
struct SimFaults {
    bool silent = false;            // no replies at all
    bool closeOnRequest = false;    // drop the connection at the next request, unanswered
    bool garbageReplies = false;    // each reply replaced by binary bytes, zeros included
    bool oneBytePieces = false;     // replies handed out one byte at a time
    bool longReplies = false;       // each reply padded beyond the host's 1024-byte area
    bool hangUpMidReply = false;    // a reply's first half goes out, then the connection drops
    bool restartOnUpgrade = false;  // "UPG" restarts the printer: the connection drops
    // Drop the connection once this many bytes of one frame (or of a print
    // file) are in: a printer switched off or killed mid-transfer. -1: never.
    long long hangUpAfterBytes = -1;
};

// Time the printer takes, as real printers do. Every transport (in-process
// link, TCP server, parallel peripheral, USB backend) honours the same model,
// so a link is tested against a slow printer the same way on each. All 0 (and
// offAfterFrames -1): a printer that answers at once and never holds up input.
struct SimTiming {
    // Each reply is offered this long after its request ended.
    int replyDelayMs = 0;
    // The "MSV" card record instead comes this long after its request: the
    // card travels through the reader first.
    int cardDelayMs = 0;
    // After busyAfterBytes bytes of a frame the printer takes nothing for
    // busyMs (a full buffer, a flash erase); once per frame.
    int busyMs = 0;
    long long busyAfterBytes = 0;
    // The next status reply comes this late, later than any link waits; once.
    int lateReplyMs = 0;
    // The "CHK" reply to a firmware image comes this long after the image
    // ended (the flash is written first).
    int flashMs = 0;
    // After this many frames the printer goes silent for good: it takes no
    // more bytes and answers nothing. -1: never.
    long long offAfterFrames = -1;
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
    SimTiming timing;
    // Switched off or unplugged: the in-process link cannot open.
    bool absent = false;
    // How many such printers the simulated machine has on USB, serials
    // SIM00001 upward, each a printer of its own.
    int usbPrinters = 1;

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
    using Clock = std::chrono::steady_clock;

    static constexpr size_t kMaxPendingReply = 256 * 1024;
    static constexpr size_t kMaxFrames = 10000;
    static constexpr size_t kLongReplySize = 1500;

    explicit CSimPrinter(SimPrinterState state = SimPrinterState{});

    CSimPrinter(const CSimPrinter&) = delete;
    CSimPrinter& operator=(const CSimPrinter&) = delete;

    // --- transport side ---------------------------------------------------
    // Stream input from the host, cut anywhere. Returns how many bytes the
    // printer took: fewer than `length` when it turned busy or silent on the
    // way, 0 while it is busy or silent. The transport keeps the rest and
    // offers it again once TakesInputAt() has come.
    size_t Receive(const uint8_t* data, size_t length);
    // As Receive, waiting while the printer is busy or silent; gives up once
    // it has taken nothing for `wait`. Returns the count taken, a prefix of
    // `data`.
    size_t ReceiveWaiting(const uint8_t* data, size_t length, std::chrono::milliseconds wait);
    // When the printer takes input again: now or earlier when it is ready,
    // the end of a busy window, or Clock::time_point::max() once silent.
    Clock::time_point TakesInputAt() const;
    // Moves reply bytes that are due into `buffer` (at most `capacity`, and
    // only one byte when replies go out in one-byte pieces); returns the
    // count. `oneReply` stops at the end of a reply, as a USB printer ends
    // each reply's transfer with a short packet.
    size_t TakeReply(uint8_t* buffer, size_t capacity, bool oneReply = false);
    // Reply bytes offered now (due).
    size_t PendingReplyBytes() const;
    // When the first reply byte not yet due will be offered; none when
    // nothing waits.
    std::optional<Clock::time_point> NextReplyDue() const;
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
    // The delay before the reply to `frame` is offered.
    int ReplyDelayMs(const SimFrame& frame);
    size_t DueBytes(Clock::time_point now) const;
    void AddToCounter(const std::string& mnemonic, long long delta);

    mutable std::mutex m_mutex;
    SimPrinterState m_state;
    CSimFrameParser m_parser;
    std::deque<SimFrame> m_frames;
    std::deque<uint8_t> m_reply;
    // When the queued reply bytes are offered: runs of m_reply in order, each
    // with its time. Replies never overtake each other.
    struct Offer {
        size_t bytes;
        Clock::time_point due;
    };
    std::deque<Offer> m_offers;
    // Bytes of the current frame so far, and whether its busy window came.
    long long m_frameBytes = 0;
    bool m_busyDone = false;
    Clock::time_point m_busyUntil{};
    long long m_framesHandled = 0;
    bool m_silent = false;
    bool m_lateUsed = false;
    // The delay of the replies to the frame being handled.
    int m_replyDelayMs = 0;
    bool m_closed = false;
    bool m_hangUpWhenSent = false;
    int m_connections = 0;
    std::function<void(const SimFrame&)> m_observer;
};
