#include "sim/sim_tcp_server.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "links/socket_ops.h"

namespace {

constexpr int kBacklog = 8;
// Large enough that a firmware image streams in few calls.
constexpr size_t kChunk = 64 * 1024;
constexpr auto kHeldInputLook = std::chrono::milliseconds(50);

}  // namespace

CSimTcpServer::CSimTcpServer(std::shared_ptr<CSimPrinter> printer)
    : m_printer(std::move(printer)) {}

CSimTcpServer::~CSimTcpServer() { Stop(); }

bool CSimTcpServer::Start(uint16_t port, std::string* error) {
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + ": " + net::LastFailureText();
        net::CloseSocket(m_listen);
        net::CloseSocket(m_wakeRead);
        net::CloseSocket(m_wakeWrite);
        return false;
    };
    if (IsRunning() || !m_printer) {
        if (error) *error = IsRunning() ? "already running" : "no printer";
        return false;
    }
    if (!net::Start()) return fail("socket library");
    m_listen = net::OpenTcp(false);
    if (m_listen == net::kNoSocket) return fail("socket");
    // A restart on the same port must not wait for old connections to expire.
    net::SetReuseAddress(m_listen);
    if (!net::BindLoopback(m_listen, port)) return fail("bind");
    if (!net::Listen(m_listen, kBacklog)) return fail("listen");
    const std::optional<uint16_t> bound = net::LocalPort(m_listen);
    if (!bound) return fail("getsockname");
    m_port = *bound;
    if (!net::OpenWakePair(m_wakeRead, m_wakeWrite)) return fail("pipe");
    m_stop = false;
    m_thread = std::thread(&CSimTcpServer::Run, this);
    return true;
}

void CSimTcpServer::Stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        net::Wake(m_wakeWrite);
        m_thread.join();
    }
    net::CloseSocket(m_listen);
    net::CloseSocket(m_wakeRead);
    net::CloseSocket(m_wakeWrite);
}

namespace {

// Milliseconds from now until `when`, for poll: -1 (no limit) when there is
// nothing to wait for, at least 1 so a due time is not spun on.
int PollTimeout(std::optional<std::chrono::steady_clock::time_point> when) {
    if (!when) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *when - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count() + 1, 1, 60'000));
}

}  // namespace

void CSimTcpServer::Run() {
    m_buffer.resize(kChunk);
    while (!m_stop) {
        net::PollEntry fds[2] = {{m_wakeRead, net::kPollIn, 0}, {}};
        int timeout = -1;
        if (m_client == net::kNoSocket) {
            fds[1] = {m_listen, net::kPollIn, 0};
        } else {
            fds[1] = {m_client, ClientEvents(timeout), 0};
        }
        const int ready = net::Poll(fds, 2, timeout);
        if (ready < 0) {
            if (net::LastFailure() == net::Failure::Interrupted) continue;
            break;
        }
        if (fds[0].returned != 0) break;

        if (m_client == net::kNoSocket) {
            if (fds[1].returned & net::kPollIn) AcceptClient();
        } else {
            ServeClient(fds[1].returned);
        }
    }
    DropClient();
}

short CSimTcpServer::ClientEvents(int& timeout) const {
    // Held input: the socket is not read, but a host that leaves must still
    // be noticed.
    short events = m_in.empty() ? net::kPollIn : net::kPollPeerClosed;
    if (!m_out.empty() || m_printer->PendingReplyBytes() > 0) events |= net::kPollOut;
    // Wake for a reply that falls due and for the end of a busy window.
    std::optional<std::chrono::steady_clock::time_point> wake = m_printer->NextReplyDue();
    if (!m_in.empty()) {
        // A silent printer is looked at now and then: a test may switch it
        // on again.
        const auto ready =
            std::min(m_printer->TakesInputAt(), std::chrono::steady_clock::now() + kHeldInputLook);
        wake = wake ? std::min(*wake, ready) : ready;
    }
    timeout = PollTimeout(wake);
    return events;
}

void CSimTcpServer::AcceptClient() {
    // Small replies leave at once, one-byte pieces as pieces.
    m_client = net::Accept(m_listen);
    if (m_client == net::kNoSocket) return;
    m_printer->StartConnection();
    ++m_accepted;
}

void CSimTcpServer::ServeClient(short revents) {
    if (!m_in.empty() && (revents & (net::kPollPeerClosed | net::kPollHangUp | net::kPollError))) {
        DropClient();
        return;
    }
    FeedHeld();
    if (m_in.empty() && (revents & (net::kPollIn | net::kPollHangUp | net::kPollError)) &&
        !ReadClient()) {
        return;
    }
    SendPending();
    // A printer that hangs up mid-reply does so once its part is out.
    if (m_client != net::kNoSocket && m_out.empty() && m_printer->ConnectionClosed()) DropClient();
}

bool CSimTcpServer::ReadClient() {
    const long got = net::Receive(m_client, m_buffer.data(), static_cast<int>(m_buffer.size()));
    if (got > 0) {
        m_in.assign(reinterpret_cast<const char*>(m_buffer.data()), static_cast<size_t>(got));
        FeedHeld();
        if (!m_printer->ConnectionClosed()) return true;
    } else if (got < 0 && net::LastFailure() != net::Failure::Other) {
        return true;
    }
    DropClient();
    return false;
}

void CSimTcpServer::FeedHeld() {
    if (m_in.empty()) return;
    const size_t taken =
        m_printer->Receive(reinterpret_cast<const uint8_t*>(m_in.data()), m_in.size());
    m_in.erase(0, taken);
}

void CSimTcpServer::SendPending() {
    // With one-byte pieces the printer hands out one byte per call, so each
    // goes in a send of its own.
    while (m_client != net::kNoSocket) {
        if (m_out.empty()) {
            const size_t count = m_printer->TakeReply(m_buffer.data(), m_buffer.size());
            if (count == 0) return;
            m_out.assign(reinterpret_cast<const char*>(m_buffer.data()), count);
        }
        // The client socket does not block: what it cannot take now waits
        // for the next round.
        const long sent = net::Send(m_client, reinterpret_cast<const uint8_t*>(m_out.data()),
                                    static_cast<int>(m_out.size()));
        const net::Failure failure = net::LastFailure();
        if (sent > 0) {
            m_out.erase(0, static_cast<size_t>(sent));
        } else if (sent < 0 && failure == net::Failure::Interrupted) {
            continue;
        } else if (sent < 0 && failure == net::Failure::WouldBlock) {
            return;
        } else {
            DropClient();
        }
    }
}

void CSimTcpServer::DropClient() {
    net::CloseSocket(m_client);
    m_out.clear();
    m_in.clear();
}
