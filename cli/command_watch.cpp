#include "cli/command_watch.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>

#include "cli/cli.h"
#include "links/trace_link.h"
#include "protocol/frame_format.h"

namespace {

constexpr int kTenthsPerSecond = 10;
constexpr long long kMsPerTenth = 100;

// A Ctrl+C reaches every command of the run, and those started after it.
struct Running {
    std::mutex mutex;
    std::set<CCommandWatch*> watches;
    bool interrupted = false;
};

Running& RunningWatches() {
    static Running running;
    return running;
}

// The laminator's frame has no preamble of its own.
constexpr const char* kLaminatorStart = "\x01,REQ,LAM_FRM";

// The protocol object's links, passed through; once the watch has stopped
// the command, nothing more goes out or comes in.
class CWatchedLink : public CCharacterInterface {
public:
    CWatchedLink(std::unique_ptr<CCharacterInterface> inner, CCommandWatch& watch, int kind)
        : m_inner(std::move(inner)), m_watch(watch) {
        m_inner->SetLinkKind(kind);
    }

    int Open() override {
        m_watch.BeforeOpen();
        // A stopped command's protocol object may try to reconnect after a
        // refused write: it is told the link is there, and every request
        // on it then fails at once, without a question or a wait.
        if (m_watch.Stopped()) return 1;
        const int opened = m_inner->Open();
        m_watch.AfterOpen(opened != 0, m_inner->Endpoint(), m_inner->OpenFailure());
        return opened;
    }
    void Close() override { m_inner->Close(); }
    int Write(const uint8_t* data, int length) override {
        m_watch.BeforeWrite(data, length);
        if (m_watch.Stopped()) return 0;
        const int written = m_inner->Write(data, length);
        m_watch.AfterWrite(written);
        m_watch.CheckTrace();
        return written;
    }
    int Read(uint8_t* buffer, int capacity, int paced) override {
        if (m_watch.Stopped()) return 0;
        const int received = m_inner->Read(buffer, capacity, paced);
        m_watch.AfterRead(received, m_inner->ReceiveWaitMs(), m_inner->HasFailed());
        m_watch.CheckTrace();
        return received;
    }
    int ReceiveWaitMs() const override { return m_watch.Stopped() ? 0 : m_inner->ReceiveWaitMs(); }
    bool HasFailed() const override { return m_watch.Stopped() || m_inner->HasFailed(); }
    std::string Endpoint() const override { return m_inner->Endpoint(); }
    std::string OpenFailure() const override { return m_inner->OpenFailure(); }
    bool ConfirmWritten(int graceMs) override {
        return !m_watch.Stopped() && m_inner->ConfirmWritten(graceMs);
    }
    void SetIdleHost(IHostServices* host) override { m_inner->SetIdleHost(host); }

private:
    std::unique_ptr<CCharacterInterface> m_inner;
    CCommandWatch& m_watch;
};

}  // namespace

CCommandWatch::CCommandWatch(std::optional<Clock::time_point> deadline, int limitSeconds,
                             std::shared_ptr<CTraceFile> trace, bool toleratesGaps)
    : m_deadline(deadline),
      m_limitSeconds(limitSeconds),
      m_trace(std::move(trace)),
      m_toleratesGaps(toleratesGaps) {
    Running& running = RunningWatches();
    std::lock_guard<std::mutex> lock(running.mutex);
    running.watches.insert(this);
    if (running.interrupted) m_interrupted = true;
}

CCommandWatch::~CCommandWatch() {
    Running& running = RunningWatches();
    std::lock_guard<std::mutex> lock(running.mutex);
    running.watches.erase(this);
}

void CCommandWatch::InterruptAll() {
    Running& running = RunningWatches();
    std::lock_guard<std::mutex> lock(running.mutex);
    running.interrupted = true;
    for (CCommandWatch* watch : running.watches) watch->Interrupt();
}

const std::optional<CCommandWatch::Stop>& CCommandWatch::Stopped() {
    if (m_interrupted && !m_stop) StopWith(cli_exit::kInterrupted, InterruptedReason());
    return m_stop;
}

std::string CCommandWatch::InterruptedReason() const {
    const std::string stopped = "interrupted (Ctrl+C)";
    if (!m_transfer) return stopped + " before the command finished";
    const Transfer& transfer = *m_transfer;
    if (transfer.sent < transfer.size) {
        return stopped + " during the " + transfer.what + " transfer, after " +
               std::to_string(transfer.sent) + " of " + std::to_string(transfer.size) +
               " bytes: the printer did not get the whole image and has not installed it, but "
               "it may wait for the rest or show an error. Switch the printer off and on, then "
               "run the upgrade again with the same file.";
    }
    return stopped + " after the whole " + transfer.what +
           " image was sent: the printer may be installing it. Leave it switched on for a "
           "minute or two, then check its firmware version (tessaly-cli identity) and run the "
           "upgrade again if it has not changed.";
}

LinkFactory CCommandWatch::Watched(LinkFactory inner, CCommandWatch& watch) {
    return [inner = std::move(inner), &watch](
               int kind, const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
        std::unique_ptr<CCharacterInterface> link = inner(kind, portName);
        if (!link) return nullptr;
        return std::make_unique<CWatchedLink>(std::move(link), watch, kind);
    };
}

void CCommandWatch::StopWith(int exitCode, std::string reason) {
    if (!m_stop) m_stop = Stop{exitCode, std::move(reason), !m_anyAnswered};
}

void CCommandWatch::CheckDeadline() {
    if (Stopped()) return;
    if (m_deadline && Clock::now() >= *m_deadline) {
        StopWith(cli_exit::kRefused, "the command did not finish within " +
                                         std::to_string(m_limitSeconds) + " s (--timeout)");
    }
}

void CCommandWatch::CheckTrace() {
    if (!m_trace) return;
    if (const std::optional<std::string> failure = m_trace->WriteFailure()) {
        StopWith(cli_exit::kFileError, "the trace file cannot be written: " + *failure);
    }
}

void CCommandWatch::BeforeOpen() { CheckDeadline(); }

void CCommandWatch::AfterOpen(bool opened, const std::string& endpoint,
                              const std::string& failure) {
    m_openFailure.reset();
    if (opened || failure.empty()) return;
    m_openFailure =
        "cannot connect" + (endpoint.empty() ? std::string() : " to " + endpoint) + ": " + failure;
}

void CCommandWatch::BeforeWrite(const uint8_t* data, int length) {
    RequestOver();
    CheckDeadline();
    if (m_stop) return;
    // Pieces of a transfer carry no preamble of their own: the reply then
    // answers the whole transfer, and its wait starts after the last piece.
    const std::string name = RequestName(data, length);
    if (!name.empty()) m_request = name;
    const auto size = static_cast<size_t>(std::max(length, 0));
    const std::string laminator = kLaminatorStart;
    if (name.rfind("FRM", 0) == 0) {
        // The header carries no image bytes: it is counted off again below.
        m_transfer =
            Transfer{"firmware", std::atoll(name.c_str() + 3), -static_cast<long long>(size)};
    } else if (size > laminator.size() && std::equal(laminator.begin(), laminator.end(), data)) {
        // Header, file and end go out in one write.
        const long long file =
            std::atoll(std::string(reinterpret_cast<const char*>(data) + laminator.size(),
                                   reinterpret_cast<const char*>(data) + size)
                           .c_str());
        m_transfer = Transfer{"laminator firmware", file, file - static_cast<long long>(size)};
    }
    m_sentAt = Clock::now();
    m_reads = 0;
    m_answered = false;
    m_linkFailed = false;
}

void CCommandWatch::AfterWrite(int written) {
    if (m_transfer && written > 0) m_transfer->sent += written;
}

void CCommandWatch::AfterRead(int received, int receiveWaitMs, bool linkFailed) {
    if (m_stop) return;
    ++m_reads;
    if (received > 0) {
        m_answered = true;
        m_anyAnswered = true;
        return;
    }
    m_linkFailed = linkFailed;
    // Links that wait out a whole receive wait in one read (Ethernet) say
    // here that nothing came; the others say it when the next request goes
    // out, or when the command ends.
    if (!m_answered &&
        (linkFailed || Clock::now() - m_sentAt >= std::chrono::milliseconds(receiveWaitMs))) {
        RequestOver();
    }
    CheckDeadline();
}

void CCommandWatch::RequestOver() {
    if (m_stop || m_reads == 0 || m_answered) return;
    const Clock::duration waited = Clock::now() - m_sentAt;
    const std::string request = m_request.empty() ? "the request" : m_request;
    // Judged once per request.
    m_reads = 0;
    if ((m_toleratesGaps && m_anyAnswered) || m_needsNoReply) return;
    StopWith(cli_exit::kRefused,
             m_linkFailed ? "the link to the printer failed with no answer to " + request +
                                " after " + Seconds(waited)
                          : "the printer did not answer " + request + " within " + Seconds(waited));
}

std::string CCommandWatch::Seconds(Clock::duration wait) {
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
    const long long tenths = std::max(0LL, (ms + kMsPerTenth / 2) / kMsPerTenth);
    std::string text = std::to_string(tenths / kTenthsPerSecond);
    if (tenths % kTenthsPerSecond != 0) {
        text += '.';
        text += std::to_string(tenths % kTenthsPerSecond);
    }
    return text + " s";
}

std::string CCommandWatch::RequestName(const uint8_t* frame, int length) {
    const std::string preamble = frame::Preamble();
    const auto size = static_cast<size_t>(std::max(length, 0));
    if (size <= preamble.size() || !std::equal(preamble.begin(), preamble.end(), frame)) return {};
    std::string text;
    for (size_t i = preamble.size(); i < size; ++i) {
        const auto c = static_cast<char>(frame[i]);
        if (frame[i] < 0x20 || frame[i] >= 0x7F) break;
        text += c;
    }
    if (!text.empty() && text.back() == ',') text.pop_back();
    for (const char* prefix : {"REQ,", "STA,"}) {
        if (text.rfind(prefix, 0) == 0) text.erase(0, std::char_traits<char>::length(prefix));
    }
    return text;
}
