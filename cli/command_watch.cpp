#include "cli/command_watch.h"

#include <algorithm>

#include "cli/cli.h"
#include "links/trace_link.h"
#include "protocol/frame_format.h"

namespace {

constexpr int kTenthsPerSecond = 10;
constexpr long long kMsPerTenth = 100;

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
        return m_inner->Open();
    }
    void Close() override { m_inner->Close(); }
    int Write(const uint8_t* data, int length) override {
        m_watch.BeforeWrite(data, length);
        if (m_watch.Stopped()) return 0;
        const int written = m_inner->Write(data, length);
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
      m_toleratesGaps(toleratesGaps) {}

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

void CCommandWatch::BeforeWrite(const uint8_t* data, int length) {
    RequestOver();
    CheckDeadline();
    if (m_stop) return;
    // Pieces of a transfer carry no preamble of their own: the reply then
    // answers the whole transfer, and its wait starts after the last piece.
    const std::string name = RequestName(data, length);
    if (!name.empty()) m_request = name;
    m_sentAt = Clock::now();
    m_reads = 0;
    m_answered = false;
    m_linkFailed = false;
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
    if (tenths % kTenthsPerSecond != 0) text += "." + std::to_string(tenths % kTenthsPerSecond);
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
