#include "sim/sim_gadget_server.h"

#if defined(__linux__)

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Large enough that a firmware image streams in few calls.
constexpr size_t kChunk = 64 * 1024;
// How often a node that is not there (unplugged, not yet configured) is
// looked for again, and held input offered again to a silent printer.
constexpr int kLookAgainMs = 50;

int PollTimeout(std::optional<std::chrono::steady_clock::time_point> when) {
    if (!when) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *when - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<long long>(left.count() + 1, 1, 60'000));
}

}  // namespace

CSimGadgetServer::CSimGadgetServer(std::shared_ptr<CSimPrinter> printer)
    : m_printer(std::move(printer)) {}

CSimGadgetServer::~CSimGadgetServer() { Stop(); }

bool CSimGadgetServer::Start(const std::string& device, std::string* error) {
    if (m_thread.joinable() || !m_printer) {
        if (error) *error = "already running";
        return false;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        if (error) *error = "pipe failed";
        return false;
    }
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    m_device = device;
    m_stop = false;
    m_thread = std::thread(&CSimGadgetServer::Run, this);
    return true;
}

void CSimGadgetServer::Stop() {
    if (m_thread.joinable()) {
        m_stop = true;
        const char byte = 1;
        [[maybe_unused]] const ssize_t woke = ::write(m_wakeWrite, &byte, 1);
        m_thread.join();
    }
    for (int* fd : {&m_wakeRead, &m_wakeWrite}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void CSimGadgetServer::Run() {
    while (!m_stop) {
        const int fd = ::open(m_device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            pollfd wake{m_wakeRead, POLLIN, 0};
            ::poll(&wake, 1, kLookAgainMs);
            continue;
        }
        // A gadget plugged in (again) is a printer switched on.
        m_printer->StartConnection();
        Serve(fd);
        ::close(fd);
    }
}

void CSimGadgetServer::Serve(int fd) {
    std::vector<uint8_t> buffer(kChunk);
    // Input the printer has not taken yet (busy or silent): the node is not
    // read meanwhile, so the host's writes stall as on a real printer.
    std::string in;
    std::string out;
    while (!m_stop) {
        short events = in.empty() ? POLLIN : 0;
        if (!out.empty() || m_printer->PendingReplyBytes() > 0) events |= POLLOUT;
        std::optional<std::chrono::steady_clock::time_point> wake = m_printer->NextReplyDue();
        if (!in.empty()) {
            const auto ready =
                std::min(m_printer->TakesInputAt(), std::chrono::steady_clock::now() +
                                                        std::chrono::milliseconds(kLookAgainMs));
            wake = wake ? std::min(*wake, ready) : ready;
        }
        pollfd fds[2] = {{m_wakeRead, POLLIN, 0}, {fd, events, 0}};
        if (::poll(fds, 2, PollTimeout(wake)) < 0 && errno != EINTR) return;
        if (fds[0].revents != 0) return;
        if (fds[1].revents & (POLLERR | POLLNVAL)) return;

        if (!in.empty()) {
            in.erase(0, m_printer->Receive(reinterpret_cast<const uint8_t*>(in.data()), in.size()));
        }
        if (in.empty() && (fds[1].revents & (POLLIN | POLLHUP))) {
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got > 0) {
                in.assign(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(got));
                in.erase(
                    0, m_printer->Receive(reinterpret_cast<const uint8_t*>(in.data()), in.size()));
            } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
                return;  // unplugged: the node is going away
            }
        }
        while (true) {
            if (out.empty()) {
                const size_t count = m_printer->TakeReply(buffer.data(), buffer.size(), true);
                if (count == 0) break;
                out.assign(reinterpret_cast<const char*>(buffer.data()), count);
            }
            const ssize_t sent = ::write(fd, out.data(), out.size());
            if (sent > 0) {
                out.erase(0, static_cast<size_t>(sent));
            } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
                break;
            } else {
                return;
            }
        }
        // A printer that hangs up drops off the bus until it is plugged in
        // again; here it forgets the connection and starts afresh.
        if (out.empty() && m_printer->ConnectionClosed()) {
            in.clear();
            m_printer->StartConnection();
        }
    }
}

#else

CSimGadgetServer::CSimGadgetServer(std::shared_ptr<CSimPrinter> printer)
    : m_printer(std::move(printer)) {}
CSimGadgetServer::~CSimGadgetServer() = default;
bool CSimGadgetServer::Start(const std::string&, std::string* error) {
    if (error) *error = "USB printer gadgets exist on Linux only";
    return false;
}
void CSimGadgetServer::Stop() {}
void CSimGadgetServer::Run() {}
void CSimGadgetServer::Serve(int) {}

#endif
