#include "links/ethernet_if.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "links/socket_ops.h"
#include "links/stale_reply.h"

std::optional<int> FinishConnect(net::Socket socket, int timeoutMs, CIdlePacer& idle) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int ready = net::WaitWritable(socket, CIdlePacer::SliceMs(left.count()));
        if (ready < 0 && net::LastFailure() == net::Failure::Interrupted) ready = 0;
        if (ready < 0) return -1;
        if (ready > 0) return net::PendingError(socket);
        if (left.count() <= 0 || !idle.Tick()) return std::nullopt;
    }
}

CEthernetIF::CEthernetIF(tessaly::ProgramState& state, const Settings& settings)
    : m_state(state), m_settings(settings) {}

CEthernetIF::CEthernetIF(tessaly::ProgramState& state, uint16_t port, int receiveTimeoutMs)
    : CEthernetIF(state, Settings(port, receiveTimeoutMs)) {}

CEthernetIF::~CEthernetIF() {
    if (m_state.activeEthernetLink == this) m_state.activeEthernetLink = nullptr;
    Close();
}

std::string CEthernetIF::Endpoint() const {
    return tessaly::FormatIpAddress(m_settings.address.value_or(m_state.printerIpAddress)) + ":" +
           std::to_string(m_settings.port);
}

int CEthernetIF::Open() {
    m_state.activeEthernetLink = this;
    // Every attempt starts from a new socket.
    Close();
    m_openFailure.clear();

    if (!net::Start()) {
        m_openFailure = "the network cannot be used: " + net::LastFailureText();
        return 0;
    }
    const uint32_t address = m_settings.address.value_or(m_state.printerIpAddress);
    // Linux would take 0.0.0.0 to mean this machine; no address has been
    // entered yet, so there is no printer to reach.
    if (address == 0) {
        m_openFailure = "no printer address";
        return 0;
    }

    m_socket = net::OpenTcp(true);
    if (m_socket == net::kNoSocket) {
        m_openFailure = net::LastFailureText();
        return 0;
    }

    // Connect without blocking so an unreachable address gives up after the
    // link's own time-out instead of the system's.
    const net::ConnectStart start = net::Connect(m_socket, address, m_settings.port);
    std::optional<int> error = 0;
    if (start == net::ConnectStart::Failed) error = -1;
    if (start == net::ConnectStart::Pending) {
        error = FinishConnect(m_socket, m_settings.connectTimeoutMs, IdlePacer());
    }
    if (error != 0) {
        if (!error) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g s", m_settings.connectTimeoutMs / 1000.0);
            m_openFailure = std::string("no answer within ") + seconds +
                            " (switched off, or a firewall drops the connection)";
        } else {
            m_openFailure = *error > 0 ? net::ConnectErrorText(*error) : net::LastFailureText();
        }
        Close();
        return 0;
    }

    // The socket stays non-blocking: Read and Write wait for it in slices
    // (a poll of at most kIdleSliceMs each), with the idle pacer ticked
    // between, up to the link's own limits. No socket time-out is ever set
    // or left to expire: Winsock leaves a socket whose time-out ran out in
    // an undefined state.
    return 1;
}

void CEthernetIF::Close() {
    net::CloseSocket(m_socket);
    m_replyMayTrail = false;
    m_writesSinceRead = 0;
    m_hungUp = false;
}

void CEthernetIF::NoteReceiveResult(long result, net::Failure failure) {
    // A time-out (or a signal) leaves the connection as it was.
    if (result == 0 || (result < 0 && failure == net::Failure::Other)) {
        m_hungUp = true;
    }
}

int CEthernetIF::ReceiveNow(uint8_t* buffer, int capacity) {
    for (;;) {
        const long result = net::ReceiveNow(m_socket, buffer, capacity);
        if (result > 0) return static_cast<int>(result);
        const net::Failure failure = net::LastFailure();
        if (result < 0 && failure == net::Failure::Interrupted) continue;
        NoteReceiveResult(result, failure);
        return m_hungUp ? -1 : 0;
    }
}

int CEthernetIF::Write(const uint8_t* data, int length) {
    if (m_socket == net::kNoSocket || data == nullptr || length <= 0) return 0;
    // Only the first write after a read looks: the chunks of a transfer
    // follow each other without one.
    if (m_replyMayTrail) {
        m_replyMayTrail = false;
        stale_reply::Drop(
            [this](uint8_t* buffer, int capacity) { return ReceiveNow(buffer, capacity); });
    }
    if (m_hungUp) return 0;
    using Clock = std::chrono::steady_clock;
    // The send time-out counts from the last progress: a busy printer takes
    // its data again well within it. The clock is read only once the socket
    // is full, so a transfer's writes cost one call each.
    std::optional<Clock::time_point> stalledSince;
    int sent = 0;
    while (sent < length) {
        // The socket does not block: the send is tried first, and only a
        // full socket is waited on, a slice at a time.
        // A printer that hung up shows as a failed send, never as a signal
        // that ends the program.
        const long result = net::Send(m_socket, data + sent, length - sent);
        if (result > 0) {
            sent += static_cast<int>(result);
            stalledSince.reset();
            continue;
        }
        const net::Failure failure = result < 0 ? net::LastFailure() : net::Failure::Other;
        if (result == 0 || failure == net::Failure::Other) {
            m_hungUp = true;
            break;
        }
        if (!stalledSince) stalledSince = Clock::now();
        if (failure == net::Failure::WouldBlock && net::WaitWritable(m_socket, kIdleSliceMs) < 0 &&
            net::LastFailure() != net::Failure::Interrupted) {
            m_hungUp = true;
            break;
        }
        const auto now = Clock::now();
        const bool goOn = IdlePacer().Tick(now);
        if (!goOn) {
            // Cancelled by the operator. A frame cut in the middle would run
            // into the next one on the printer's side: only an untouched
            // frame leaves the connection usable.
            if (sent > 0) m_hungUp = true;
            break;
        }
        if (now - *stalledSince >= std::chrono::milliseconds(m_settings.sendTimeoutMs)) {
            // The printer took nothing for the whole send time-out: the frame
            // is cut and the link is done.
            m_hungUp = true;
            break;
        }
    }
    if (sent > 0) ++m_writesSinceRead;
    return sent;
}

bool CEthernetIF::ConfirmWritten(int graceMs) {
    if (m_socket == net::kNoSocket || m_hungUp) return false;
    if (m_writesSinceRead > 0) net::PushPending(m_socket);
    m_writesSinceRead = 0;
    using Clock = std::chrono::steady_clock;
    // Every byte acknowledged by the printer's side, within the send
    // time-out as a busy printer's data is.
    const auto drainLimit = Clock::now() + std::chrono::milliseconds(m_settings.sendTimeoutMs);
    for (;;) {
        const std::optional<int> unsent = net::UnsentBytes(m_socket);
        if (!unsent || *unsent == 0) break;
        if (Clock::now() >= drainLimit || net::PeekPeer(m_socket) == net::PeerSign::Reset) {
            m_hungUp = true;
            return false;
        }
        net::WaitHangUp(m_socket, kIdleSliceMs / 4);
        if (!IdlePacer().Tick()) return false;
    }
    // A printer that closes with our bytes unread answers with a reset, a
    // moment after the acknowledgement, or after its own close when that
    // crossed our bytes; a reply means it read them, and so does a close
    // that no reset follows within the grace time.
    const auto graceEnd = Clock::now() + std::chrono::milliseconds(graceMs);
    for (;;) {
        const net::PeerSign sign = net::PeekPeer(m_socket);
        if (sign == net::PeerSign::Reset) {
            m_hungUp = true;
            return false;
        }
        if (sign == net::PeerSign::Bytes) return true;
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(graceEnd - Clock::now()).count();
        if (left <= 0) return true;
        const int slice = CIdlePacer::SliceMs(left);
        // The end of the stream stays readable: past it only a reset is
        // waited for.
        if (sign == net::PeerSign::Closed) {
            net::WaitHangUp(m_socket, slice);
        } else {
            net::WaitReadable(m_socket, slice);
        }
        if (!IdlePacer().Tick()) return true;
    }
}

int CEthernetIF::Read(uint8_t* buffer, int capacity, int /*paced*/) {
    if (m_socket == net::kNoSocket || buffer == nullptr || capacity <= 0) return -1;
    m_replyMayTrail = true;
    if (m_writesSinceRead > 1) net::PushPending(m_socket);
    m_writesSinceRead = 0;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_settings.receiveTimeoutMs);
    for (;;) {
        // The socket does not block: the receive is tried first, and only an
        // empty socket is waited on, a slice at a time, so a reply that is
        // already there costs one call.
        const long result = net::Receive(m_socket, buffer, capacity);
        const net::Failure failure = result < 0 ? net::LastFailure() : net::Failure::Other;
        if (result >= 0 || failure == net::Failure::Other) {
            // Replies that each come quickly still add up: the window idles
            // between them too.
            IdlePacer().Tick();
            NoteReceiveResult(result, failure);
            return static_cast<int>(result);
        }
        if (failure == net::Failure::WouldBlock) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            const int ready = net::WaitReadable(m_socket, CIdlePacer::SliceMs(left.count()));
            if (ready < 0 && net::LastFailure() != net::Failure::Interrupted) {
                m_hungUp = true;
                return -1;
            }
            if (ready > 0) continue;
        }
        // Nothing within the slice: the receive wait is the link's, and the
        // operator's cancel ends it early. The connection stays as it was.
        if (!IdlePacer().Tick() || Clock::now() >= deadline) return -1;
    }
}
