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
    net::Socket client = net::kNoSocket;
    // Reply bytes taken from the printer but not yet accepted by the socket.
    std::string out;
    // Bytes read from the socket that the printer has not taken yet (it is
    // busy or silent). While any wait, the socket is not read: its buffers
    // fill and the host's sends stall, as with a real printer.
    std::string in;
    uint8_t buffer[kChunk];

    auto dropClient = [&] {
        net::CloseSocket(client);
        out.clear();
        in.clear();
    };
    // Sends as much as the socket takes without blocking. With one-byte
    // pieces the printer hands out one byte per call, so each goes in a
    // send of its own.
    auto sendPending = [&] {
        while (client != net::kNoSocket) {
            if (out.empty()) {
                size_t count = m_printer->TakeReply(buffer, sizeof buffer);
                if (count == 0) return;
                out.assign(reinterpret_cast<const char*>(buffer), count);
            }
            // The client socket does not block: what it cannot take now
            // waits for the next round.
            long sent = net::Send(client, reinterpret_cast<const uint8_t*>(out.data()),
                                  static_cast<int>(out.size()));
            const net::Failure failure = net::LastFailure();
            if (sent > 0) {
                out.erase(0, static_cast<size_t>(sent));
            } else if (sent < 0 && failure == net::Failure::Interrupted) {
                continue;
            } else if (sent < 0 && failure == net::Failure::WouldBlock) {
                return;
            } else {
                dropClient();
            }
        }
    };
    // Hands the printer what it will take of the held input.
    auto feedHeld = [&] {
        if (in.empty()) return;
        const size_t taken =
            m_printer->Receive(reinterpret_cast<const uint8_t*>(in.data()), in.size());
        in.erase(0, taken);
    };

    while (!m_stop) {
        net::PollEntry fds[2] = {{m_wakeRead, net::kPollIn, 0}, {}};
        int timeout = -1;
        if (client == net::kNoSocket) {
            fds[1] = {m_listen, net::kPollIn, 0};
        } else {
            // Held input: the socket is not read, but a host that leaves
            // must still be noticed.
            short events = in.empty() ? net::kPollIn : net::kPollPeerClosed;
            if (!out.empty() || m_printer->PendingReplyBytes() > 0) events |= net::kPollOut;
            fds[1] = {client, events, 0};
            // Wake for a reply that falls due and for the end of a busy window.
            std::optional<std::chrono::steady_clock::time_point> wake = m_printer->NextReplyDue();
            if (!in.empty()) {
                // A silent printer is looked at now and then: a test may
                // switch it on again.
                const auto ready = std::min(m_printer->TakesInputAt(),
                                            std::chrono::steady_clock::now() + kHeldInputLook);
                wake = wake ? std::min(*wake, ready) : ready;
            }
            timeout = PollTimeout(wake);
        }
        int ready = net::Poll(fds, 2, timeout);
        if (ready < 0) {
            if (net::LastFailure() == net::Failure::Interrupted) continue;
            break;
        }
        if (fds[0].returned != 0) break;

        if (client == net::kNoSocket) {
            if (fds[1].returned & net::kPollIn) {
                // Small replies leave at once, one-byte pieces as pieces.
                client = net::Accept(m_listen);
                if (client != net::kNoSocket) {
                    m_printer->StartConnection();
                    ++m_accepted;
                }
            }
            continue;
        }

        const short returned = fds[1].returned;
        if (!in.empty() &&
            (returned & (net::kPollPeerClosed | net::kPollHangUp | net::kPollError))) {
            dropClient();
            continue;
        }
        feedHeld();
        if (in.empty() && (returned & (net::kPollIn | net::kPollHangUp | net::kPollError))) {
            long got = net::Receive(client, buffer, static_cast<int>(sizeof buffer));
            const net::Failure failure = net::LastFailure();
            if (got > 0) {
                in.assign(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
                feedHeld();
                if (m_printer->ConnectionClosed()) {
                    dropClient();
                    continue;
                }
            } else if (got == 0 || failure == net::Failure::Other) {
                dropClient();
                continue;
            }
        }
        sendPending();
        // A printer that hangs up mid-reply does so once its part is out.
        if (client != net::kNoSocket && out.empty() && m_printer->ConnectionClosed()) dropClient();
    }
    dropClient();
}
