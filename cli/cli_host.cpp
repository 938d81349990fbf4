#include "cli/cli_host.h"

#include <algorithm>
#include <chrono>
#include <ostream>
#include <thread>

#include "cli/terminal.h"
#include "seams/idle_pacer.h"
#include "seams/print_canvas.h"

namespace {

constexpr int kBarWidth = 30;
constexpr int kNarrowestBar = 10;
constexpr int kAssumedColumns = 80;
// " [", "] " and "100%".
constexpr int kBarFrame = 8;
constexpr const char* kCut = "...";

}  // namespace

void CSharedStream::Write(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stream << text << std::flush;
}

CCliHost::CCliHost(CSharedStream& err, CliHostOptions options)
    : m_err(err), m_options(std::move(options)) {
    if (!m_options.columns) m_options.columns = StandardErrorColumns;
}

CCliHost::~CCliHost() { EndProgress(); }

std::string CCliHost::OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += c == '\n' || c == '\r' ? ' ' : c;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

void CCliHost::Line(const std::string& text) {
    if (m_barShown) {
        // The bar's line is finished before anything else is said.
        m_err.Write("\n");
        m_barShown = false;
    }
    m_err.Write(m_options.prefix + text + "\n");
}

void CCliHost::Tell(const std::string& text) {
    m_messages.push_back(OneLine(text));
    Line(m_messages.back());
}

MsgResult CCliHost::ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon) {
    if (m_options.muted && m_options.muted()) {
        switch (buttons) {
            case MsgButtons::Ok:
                return MsgResult::Ok;
            case MsgButtons::YesNo:
                return MsgResult::No;
            case MsgButtons::OkCancel:
            case MsgButtons::RetryCancel:
                break;
        }
        return MsgResult::Cancel;
    }
    const std::string line = OneLine(text);
    m_messages.push_back(line);
    switch (buttons) {
        case MsgButtons::Ok:
            Line(line);
            return MsgResult::Ok;
        case MsgButtons::OkCancel:
        case MsgButtons::YesNo: {
            const bool ok = buttons == MsgButtons::OkCancel;
            if (m_options.yes) {
                Line(line + (ok ? " OK (--yes)" : " Yes (--yes)"));
                return ok ? MsgResult::Ok : MsgResult::Yes;
            }
            m_declined = true;
            Line(line + (ok ? " Cancel: give --yes to go ahead" : " No: give --yes to answer yes"));
            return ok ? MsgResult::Cancel : MsgResult::No;
        }
        case MsgButtons::RetryCancel:
            if (m_retriesUsed < m_options.retries) {
                ++m_retriesUsed;
                Line(line + " Retry " + std::to_string(m_retriesUsed) + " of " +
                     std::to_string(m_options.retries));
                return MsgResult::Retry;
            }
            Line(line);
            return MsgResult::Cancel;
    }
    return MsgResult::Cancel;
}

void CCliHost::Pause(int milliseconds) {
    if (milliseconds <= 0) return;
    if (m_options.sleep) {
        m_options.sleep(milliseconds);
        return;
    }
    // In slices, so a Ctrl+C during the wait after an upgrade is not kept
    // waiting for the rest of it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!CancelRequested() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(kIdleSliceMs), until - std::chrono::steady_clock::now()));
    }
}

std::string CCliHost::BarLine(const std::string& label, int64_t done, int64_t total, int columns) {
    const int64_t shown = total > 0 ? std::min(std::max<int64_t>(done, 0), total) : 0;
    const int percent = total > 0 ? static_cast<int>(shown * 100 / total) : 0;
    const int room = (columns > 0 ? columns : kAssumedColumns) - 1;
    const int labelRoom = std::max(0, room - kBarFrame - kNarrowestBar);
    std::string text = label;
    if (static_cast<int>(text.size()) > labelRoom) {
        const int kept = labelRoom - static_cast<int>(std::char_traits<char>::length(kCut));
        text = kept > 0 ? text.substr(0, static_cast<size_t>(kept)) + kCut : std::string();
    }
    const int width = std::clamp(room - kBarFrame - static_cast<int>(text.size()), 0, kBarWidth);
    const int filled = total > 0 ? static_cast<int>(shown * width / total) : 0;
    const std::string bar = std::string(static_cast<size_t>(filled), '#') +
                            std::string(static_cast<size_t>(width - filled), '-');
    return text + " [" + bar + "] " + std::to_string(percent) + "%";
}

void CCliHost::ShowProgress(const std::string& text, int64_t done, int64_t total) {
    if (!m_options.progressBar) return;
    // Back to the line's start and cleared to its end: the bar redraws in
    // place.
    m_err.Write("\r\x1b[K" +
                BarLine(m_options.prefix + OneLine(text), done, total, m_options.columns()));
    m_barShown = true;
}

void CCliHost::EndProgress() {
    if (!m_barShown) return;
    m_err.Write("\n");
    m_barShown = false;
}
