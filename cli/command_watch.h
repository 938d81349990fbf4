#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "links/character_interface.h"
#include "links/link_factory.h"

class CTraceFile;

// Ends a printer's command early, so that a script learns the truth within
// one wait instead of paying a full wait for every request in a row: a
// printer that let a request pass without a byte, a command past its time
// limit, or a trace that can no longer be written. Once stopped, every link
// the command's protocol object holds fails at once, and nothing more
// reaches the printer. One per printer and attempt; shared by its links.
class CCommandWatch {
public:
    using Clock = std::chrono::steady_clock;

    struct Stop {
        int exitCode;
        std::string reason;
        // Nothing had come from the printer at all: trying again may help.
        bool printerSilent;
    };

    // `deadline`: none for no limit, shown as `limitSeconds` when it passes.
    // `toleratesGaps`: once the printer has answered, a request it lets pass
    // does not stop the command (a report goes on past an item that got
    // nothing, by its own rule).
    CCommandWatch(std::optional<Clock::time_point> deadline, int limitSeconds,
                  std::shared_ptr<CTraceFile> trace, bool toleratesGaps);
    ~CCommandWatch();

    CCommandWatch(const CCommandWatch&) = delete;
    CCommandWatch& operator=(const CCommandWatch&) = delete;

    // Also true, from any thread's point of view, once the operator pressed
    // Ctrl+C; the stop itself is taken on the command's own thread.
    const std::optional<Stop>& Stopped();

    // The operator pressed Ctrl+C: this command stops at its next step (a
    // wait in progress ends within one slice). Any thread may call it.
    void Interrupt() { m_interrupted = true; }
    // The same for every command of the run, those still to start included:
    // a Ctrl+C ends the whole run.
    static void InterruptAll();

    // From here on the command itself deals with requests that get nothing:
    // a printer restarting after an upgrade drops its connection, and the
    // command reconnects and asks again rather than stopping at the first
    // request the restart swallowed.
    void ExpectRestart() { m_toleratesGaps = true; }
    // A command that needs no reply at all (a raw print file): a printer
    // that cannot answer, such as one on a parallel port without a reverse
    // channel, still takes it.
    void NeedsNoReply() { m_needsNoReply = true; }

    // Wraps every link `inner` makes; `watch` must outlive them.
    static LinkFactory Watched(LinkFactory inner, CCommandWatch& watch);

    // The link side.
    void BeforeOpen();
    void AfterOpen(bool opened, const std::string& endpoint, const std::string& failure);
    // Why the last connect failed, where the link could tell: "cannot
    // connect to 10.0.0.5:9100: refused (...)".
    const std::optional<std::string>& OpenFailure() const { return m_openFailure; }
    void BeforeWrite(const uint8_t* data, int length);
    void AfterWrite(int written);
    void AfterRead(int received, int receiveWaitMs, bool linkFailed);
    // The last request's reads are over: the command ends, or another
    // request goes out.
    void RequestOver();
    void CheckTrace();

    // "10 s", "0.3 s": a wait as the messages give it.
    static std::string Seconds(Clock::duration wait);
    // The request's name as the operator would type it: "VRS" of
    // "REQ,STA,VRS", "QPR5", "MOD,FDC55".
    static std::string RequestName(const uint8_t* frame, int length);

private:
    void StopWith(int exitCode, std::string reason);
    void CheckDeadline();
    std::string InterruptedReason() const;

    // A firmware image on its way: what a stop leaves the printer with.
    struct Transfer {
        std::string what;
        long long size = 0;
        long long sent = 0;
    };
    std::optional<Transfer> m_transfer;
    std::optional<std::string> m_openFailure;
    std::atomic<bool> m_interrupted{false};

    std::optional<Clock::time_point> m_deadline;
    int m_limitSeconds;
    std::shared_ptr<CTraceFile> m_trace;
    bool m_toleratesGaps;
    bool m_needsNoReply = false;
    std::optional<Stop> m_stop;
    bool m_anyAnswered = false;

    // The request awaiting its reply.
    std::string m_request;
    Clock::time_point m_sentAt{};
    int m_reads = 0;
    bool m_answered = false;
    bool m_linkFailed = false;
};
