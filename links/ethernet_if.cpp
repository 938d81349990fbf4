#include "links/ethernet_if.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "links/socket_ops.h"

namespace {

// Waits for a non-blocking connect to finish, in slices, ticking the idle
// pacer between them; true when it succeeded.
bool FinishConnect(net::Socket socket, int timeoutMs, CIdlePacer& idle) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int ready = net::WaitWritable(socket, CIdlePacer::SliceMs(left.count()));
        if (ready < 0 && net::LastFailure() == net::Failure::Interrupted) ready = 0;
        if (ready < 0) return false;
        if (ready > 0) return net::PendingError(socket) == 0;
        if (left.count() <= 0) return false;
        idle.Tick();
    }
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

    if (!net::Start()) return 0;
    const std::string text = m_address ? m_address() : m_state.PrinterAddressText();
    const std::optional<uint32_t> address = net::ParseIpv4(text);
    if (!address) return 0;
    // Linux would take 0.0.0.0 to mean this machine; no address has been
    // entered yet, so there is no printer to reach.
    if (*address == 0) return 0;

    m_socket = net::OpenTcp(true);
    if (m_socket == net::kNoSocket) return 0;

    // Connect without blocking so an unreachable address gives up after the
    // link's own time-out instead of the system's.
    const net::ConnectStart start = net::Connect(m_socket, *address, m_port);
    bool connected = start == net::ConnectStart::Connected;
    if (start == net::ConnectStart::Pending)
        connected = FinishConnect(m_socket, m_connectTimeoutMs, IdlePacer());
    if (!connected) {
        Close();
        return 0;
    }

    // The socket's own time-outs are one slice of the link's waits: Read and
    // Write wait on in slices up to the link's limits, with the idle pacer
    // ticked between.
    if (!net::SetBlocking(m_socket, true) ||
        !net::SetReceiveTimeout(m_socket, std::min(m_receiveTimeoutMs, kIdleSliceMs)) ||
        !net::SetSendTimeout(m_socket, std::min(m_sendTimeoutMs, kIdleSliceMs))) {
        Close();
        return 0;
    }
    return 1;
}

void CEthernetIF::Close() {
    net::CloseSocket(m_socket);
    m_replyMayTrail = false;
    m_hungUp = false;
}

void CEthernetIF::NoteReceiveResult(long result, net::Failure failure) {
    // A time-out (or a signal) leaves the connection as it was.
    if (result == 0 || (result < 0 && failure == net::Failure::Other)) {
        m_hungUp = true;
    }
}

void CEthernetIF::DropStaleReply() {
    uint8_t scratch[4096];
    for (int dropped = 0; dropped < kMaxStaleBytes;) {
        const long result = net::ReceiveNow(m_socket, scratch, sizeof scratch);
        if (result > 0) {
            dropped += static_cast<int>(result);
            continue;
        }
        const net::Failure failure = net::LastFailure();
        if (result < 0 && failure == net::Failure::Interrupted) continue;
        NoteReceiveResult(result, failure);
        return;
    }
}

int CEthernetIF::Write(const uint8_t* data, int length) {
    if (m_socket == net::kNoSocket || data == nullptr || length <= 0) return 0;
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
        // A printer that hung up shows as a failed write, never as a signal
        // that ends the program.
        long result = net::Send(m_socket, data + sent, length - sent);
        const net::Failure failure = result < 0 ? net::LastFailure() : net::Failure::Other;
        if (result < 0 && failure == net::Failure::Interrupted) continue;
        if (result < 0 && failure == net::Failure::WouldBlock) {
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
    if (m_socket == net::kNoSocket || buffer == nullptr || capacity <= 0) return -1;
    m_replyMayTrail = true;
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline{};
    for (;;) {
        long result = net::Receive(m_socket, buffer, capacity);
        const net::Failure failure = net::LastFailure();
        if (result < 0 && failure == net::Failure::Interrupted) continue;
        const auto now = Clock::now();
        // Replies that each come quickly still add up: the window idles
        // between them too.
        IdlePacer().Tick(now);
        if (result < 0 && failure == net::Failure::WouldBlock) {
            // A slice went by without data; the receive wait is the link's.
            if (deadline == Clock::time_point{}) {
                deadline = now + std::chrono::milliseconds(m_receiveTimeoutMs - kIdleSliceMs);
            }
            if (now < deadline) continue;
        }
        NoteReceiveResult(result, failure);
        return static_cast<int>(result);
    }
}
