#include "links/ethernet_if.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <utility>

namespace {

// Waits up to `timeoutMs` for the socket to become ready for `events`, in
// slices, ticking the idle pacer between them. The poll result: above 0
// ready (or failed: the next call on the socket tells), 0 the time ran out,
// below 0 an error.
int WaitReady(int socket, short events, int timeoutMs, CIdlePacer& idle) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto now = Clock::now();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        pollfd entry{socket, events, 0};
        int ready = ::poll(&entry, 1, CIdlePacer::SliceMs(left.count()));
        if (ready < 0 && errno == EINTR) ready = 0;
        if (ready != 0) return ready;
        if (left.count() <= 0) return 0;
        idle.Tick();
    }
}

// Waits for a non-blocking connect to finish; true when it succeeded.
bool FinishConnect(int socket, int timeoutMs, CIdlePacer& idle) {
    if (WaitReady(socket, POLLOUT, timeoutMs, idle) <= 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    return error == 0;
}

}  // namespace

namespace {

timeval ToTimeval(int ms) {
    // A zero time-out would mean "wait for ever" to the socket.
    ms = std::max(ms, 1);
    timeval value{};
    value.tv_sec = ms / 1000;
    value.tv_usec = (ms % 1000) * 1000;
    return value;
}

}  // namespace

CEthernetIF::CEthernetIF(tessaly::ProgramState& state, uint16_t port, int receiveTimeoutMs,
                         int connectTimeoutMs, int sendTimeoutMs, AddressSource address)
    : m_state(state),
      m_port(port),
      m_receiveTimeoutMs(receiveTimeoutMs),
      m_connectTimeoutMs(connectTimeoutMs),
      m_sendTimeoutMs(sendTimeoutMs),
      m_address(std::move(address)) {}

CEthernetIF::~CEthernetIF() {
    if (m_state.activeEthernetLink == this) m_state.activeEthernetLink = nullptr;
    Close();
}

int CEthernetIF::Open() {
    m_state.activeEthernetLink = this;
    // Every attempt starts from a new socket.
    Close();

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_port);
    const std::string text = m_address ? m_address() : m_state.PrinterAddressText();
    if (::inet_pton(AF_INET, text.c_str(), &address.sin_addr) != 1) return 0;
    // Linux would take 0.0.0.0 to mean this machine; no address has been
    // entered yet, so there is no printer to reach.
    if (address.sin_addr.s_addr == htonl(INADDR_ANY)) return 0;

    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (m_socket < 0) return 0;

    // Connect without blocking so an unreachable address gives up after the
    // link's own time-out instead of the system's.
    bool connected =
        ::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (!connected && errno == EINPROGRESS)
        connected = FinishConnect(m_socket, m_connectTimeoutMs, IdlePacer());
    if (!connected) {
        Close();
        return 0;
    }

    // The socket's own time-outs are one slice of the link's waits: Read and
    // Write wait on in slices up to the link's limits, with the idle pacer
    // ticked between.
    const int flags = ::fcntl(m_socket, F_GETFL);
    const timeval receive = ToTimeval(std::min(m_receiveTimeoutMs, kIdleSliceMs));
    const timeval send = ToTimeval(std::min(m_sendTimeoutMs, kIdleSliceMs));
    if (flags < 0 || ::fcntl(m_socket, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive) != 0 ||
        ::setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send) != 0) {
        Close();
        return 0;
    }
    return 1;
}

void CEthernetIF::Close() {
    if (m_socket >= 0) ::close(m_socket);
    m_socket = -1;
    m_replyMayTrail = false;
    m_hungUp = false;
}

void CEthernetIF::NoteReceiveResult(long result, int error) {
    // A time-out (or a signal) leaves the connection as it was.
    if (result == 0 || (result < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR)) {
        m_hungUp = true;
    }
}

void CEthernetIF::DropStaleReply() {
    uint8_t scratch[4096];
    for (int dropped = 0; dropped < kMaxStaleBytes;) {
        const ssize_t result = ::recv(m_socket, scratch, sizeof scratch, MSG_DONTWAIT);
        if (result > 0) {
            dropped += static_cast<int>(result);
            continue;
        }
        if (result < 0 && errno == EINTR) continue;
        NoteReceiveResult(result, errno);
        return;
    }
}

int CEthernetIF::Write(const uint8_t* data, int length) {
    if (m_socket < 0 || data == nullptr || length <= 0) return 0;
    // Only the first write after a read looks: the chunks of a transfer
    // follow each other without one.
    if (m_replyMayTrail) {
        m_replyMayTrail = false;
        DropStaleReply();
    }
    if (m_hungUp) return 0;
    using Clock = std::chrono::steady_clock;
    // When the printer last took data, read only once a slice passes
    // without any: the quick path reads no clock.
    Clock::time_point lastProgress{};
    int sentAtLastLook = -1;
    int sent = 0;
    while (sent < length) {
        // MSG_NOSIGNAL: a printer that hung up must show as a failed write,
        // not end the program with SIGPIPE.
        ssize_t result =
            ::send(m_socket, data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
        const int error = errno;
        if (result < 0 && error == EINTR) continue;
        if (result < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            // A slice without progress: the send time-out counts from the
            // last progress, as a busy printer takes its data again well
            // within it.
            const auto now = Clock::now();
            if (sentAtLastLook != sent) {
                sentAtLastLook = sent;
                lastProgress =
                    now - std::chrono::milliseconds(std::min(m_sendTimeoutMs, kIdleSliceMs));
            }
            IdlePacer().Tick(now);
            if (now - lastProgress < std::chrono::milliseconds(m_sendTimeoutMs)) continue;
        }
        if (result <= 0) {
            // Reset, or the send time-out ran out with the printer taking
            // nothing: either way the frame is cut and the link is done.
            m_hungUp = true;
            break;
        }
        sent += static_cast<int>(result);
    }
    return sent;
}

int CEthernetIF::Read(uint8_t* buffer, int capacity, int /*paced*/) {
    if (m_socket < 0 || buffer == nullptr || capacity <= 0) return -1;
    m_replyMayTrail = true;
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline{};
    for (;;) {
        ssize_t result = ::recv(m_socket, buffer, static_cast<size_t>(capacity), 0);
        const int error = errno;
        if (result < 0 && error == EINTR) continue;
        const auto now = Clock::now();
        // Replies that each come quickly still add up: the window idles
        // between them too.
        IdlePacer().Tick(now);
        if (result < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            // A slice went by without data; the receive wait is the link's.
            if (deadline == Clock::time_point{}) {
                deadline = now + std::chrono::milliseconds(m_receiveTimeoutMs - kIdleSliceMs);
            }
            if (now < deadline) continue;
        }
        NoteReceiveResult(result, error);
        return static_cast<int>(result);
    }
}
