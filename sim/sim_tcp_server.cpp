#include "sim/sim_tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

namespace {

constexpr int kBacklog = 8;
// Large enough that a firmware image streams in few calls.
constexpr size_t kChunk = 64 * 1024;
constexpr auto kHeldInputLook = std::chrono::milliseconds(50);

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

CSimTcpServer::CSimTcpServer(std::shared_ptr<CSimPrinter> printer)
    : m_printer(std::move(printer)) {}

CSimTcpServer::~CSimTcpServer() { Stop(); }

bool CSimTcpServer::Start(uint16_t port, std::string* error) {
    auto fail = [&](const char* what) {
        if (error) *error = std::string(what) + ": " + std::strerror(errno);
        CloseFd(m_listen);
        CloseFd(m_wakeRead);
        CloseFd(m_wakeWrite);
        return false;
    };
    if (IsRunning() || !m_printer) {
        if (error) *error = IsRunning() ? "already running" : "no printer";
        return false;
    }
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (m_listen < 0) return fail("socket");
    int on = 1;
    // A restart on the same port must not wait for old connections to expire.
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return fail("bind");
    }
    if (::listen(m_listen, kBacklog) != 0) return fail("listen");
    socklen_t length = sizeof address;
    if (::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return fail("getsockname");
    }
    m_port = ntohs(address.sin_port);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    m_stop = false;
    m_thread = std::thread(&CSimTcpServer::Run, this);
    return true;
}

void CSimTcpServer::Stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        const char byte = 'x';
        [[maybe_unused]] ssize_t ignored = ::write(m_wakeWrite, &byte, 1);
        m_thread.join();
    }
    CloseFd(m_listen);
    CloseFd(m_wakeRead);
    CloseFd(m_wakeWrite);
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
        pollfd fds[2] = {{m_wakeRead, POLLIN, 0}, {-1, 0, 0}};
        int timeout = -1;
        if (m_client < 0) {
            fds[1] = {m_listen, POLLIN, 0};
        } else {
            fds[1] = {m_client, ClientEvents(timeout), 0};
        }
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) break;

        if (m_client < 0) {
            if (fds[1].revents & POLLIN) AcceptClient();
        } else {
            ServeClient(fds[1].revents);
        }
    }
    DropClient();
}

short CSimTcpServer::ClientEvents(int& timeout) const {
    // Held input: the socket is not read, but a host that leaves must still
    // be noticed.
    short events = m_in.empty() ? POLLIN : POLLRDHUP;
    if (!m_out.empty() || m_printer->PendingReplyBytes() > 0) events |= POLLOUT;
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
    m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (m_client < 0) return;
    int on = 1;
    // Small replies must leave at once, one-byte pieces as pieces.
    ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_printer->StartConnection();
    ++m_accepted;
}

void CSimTcpServer::ServeClient(short revents) {
    if (!m_in.empty() && (revents & (POLLRDHUP | POLLHUP | POLLERR))) {
        DropClient();
        return;
    }
    FeedHeld();
    if (m_in.empty() && (revents & (POLLIN | POLLHUP | POLLERR)) && !ReadClient()) return;
    SendPending();
    // A printer that hangs up mid-reply does so once its part is out.
    if (m_client >= 0 && m_out.empty() && m_printer->ConnectionClosed()) DropClient();
}

bool CSimTcpServer::ReadClient() {
    const ssize_t got = ::recv(m_client, m_buffer.data(), m_buffer.size(), 0);
    if (got > 0) {
        m_in.assign(reinterpret_cast<const char*>(m_buffer.data()), static_cast<size_t>(got));
        FeedHeld();
        if (!m_printer->ConnectionClosed()) return true;
    } else if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
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
    while (m_client >= 0) {
        if (m_out.empty()) {
            const size_t count = m_printer->TakeReply(m_buffer.data(), m_buffer.size());
            if (count == 0) return;
            m_out.assign(reinterpret_cast<const char*>(m_buffer.data()), count);
        }
        const ssize_t sent =
            ::send(m_client, m_out.data(), m_out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            m_out.erase(0, static_cast<size_t>(sent));
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            DropClient();
        }
    }
}

void CSimTcpServer::DropClient() {
    CloseFd(m_client);
    m_out.clear();
    m_in.clear();
}
