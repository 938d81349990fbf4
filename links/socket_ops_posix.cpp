// The socket calls on Linux: Berkeley sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "links/socket_ops.h"

namespace net {

namespace {

int Fd(Socket socket) { return static_cast<int>(socket); }

sockaddr_in Ipv4(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

}  // namespace

const short kPollIn = POLLIN;
const short kPollOut = POLLOUT;
const short kPollPeerClosed = POLLRDHUP;
const short kPollHangUp = POLLHUP;
const short kPollError = POLLERR;

Failure LastFailure() {
    if (errno == EINTR) return Failure::Interrupted;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Failure::WouldBlock;
    return Failure::Other;
}

std::string LastFailureText() { return std::strerror(errno); }

std::string ConnectErrorText(int error) {
    switch (error) {
        case ECONNREFUSED:
            return "refused (the address answered, but nothing takes connections on the port)";
        case EHOSTUNREACH:
        case ENETUNREACH:
            return "no route to the printer (check the address and this machine's network)";
        default:
            return std::strerror(error);
    }
}

bool Start() { return true; }

Socket OpenTcp(bool nonBlocking) {
    const int type = SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    const int fd = ::socket(AF_INET, type, IPPROTO_TCP);
    return fd < 0 ? kNoSocket : fd;
}

void CloseSocket(Socket& socket) {
    if (socket != kNoSocket) ::close(Fd(socket));
    socket = kNoSocket;
}

bool SetBlocking(Socket socket, bool blocking) {
    const int flags = ::fcntl(Fd(socket), F_GETFL);
    if (flags < 0) return false;
    const int wanted = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    return ::fcntl(Fd(socket), F_SETFL, wanted) == 0;
}

void PushPending(Socket socket) {
    // Turning the delay off sends what it held; turning it back on keeps a
    // transfer's 1 KiB writes gathered into full segments.
    int on = 1;
    int off = 0;
    ::setsockopt(Fd(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(Fd(socket), IPPROTO_TCP, TCP_NODELAY, &off, sizeof off);
}

ConnectStart Connect(Socket socket, uint32_t address, uint16_t port) {
    const sockaddr_in target = Ipv4(address, port);
    if (::connect(Fd(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        return ConnectStart::Connected;
    }
    return errno == EINPROGRESS ? ConnectStart::Pending : ConnectStart::Failed;
}

int WaitWritable(Socket socket, int timeoutMs) {
    pollfd entry{Fd(socket), POLLOUT, 0};
    return ::poll(&entry, 1, timeoutMs);
}

int WaitReadable(Socket socket, int timeoutMs) {
    pollfd entry{Fd(socket), POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs);
}

int PendingError(Socket socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(Fd(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return -1;
    return error;
}

std::optional<int> UnsentBytes(Socket socket) {
    int unsent = 0;
    if (::ioctl(Fd(socket), TIOCOUTQ, &unsent) != 0) return std::nullopt;
    return unsent;
}

PeerSign PeekPeer(Socket socket) {
    uint8_t byte = 0;
    const long result = ::recv(Fd(socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (result > 0) return PeerSign::Bytes;
    if (result < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return PeerSign::Nothing;
        return PeerSign::Reset;
    }
    // Once the peer's close has arrived the receive reports the end of the
    // stream ahead of a later reset, which is left on the socket as its
    // error (EPIPE when it came after the close).
    const int error = PendingError(socket);
    return error == 0 ? PeerSign::Closed : PeerSign::Reset;
}

int WaitHangUp(Socket socket, int timeoutMs) {
    // No events asked: poll still reports hang-up and error, and only those.
    pollfd entry{Fd(socket), 0, 0};
    return ::poll(&entry, 1, timeoutMs);
}

long Receive(Socket socket, uint8_t* buffer, int capacity) {
    return ::recv(Fd(socket), buffer, static_cast<size_t>(capacity), 0);
}

long ReceiveNow(Socket socket, uint8_t* buffer, int capacity) {
    return ::recv(Fd(socket), buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
}

long Send(Socket socket, const uint8_t* data, int length) {
    return ::send(Fd(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
}

bool SetReuseAddress(Socket socket) {
    int on = 1;
    return ::setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool BindLoopback(Socket socket, uint16_t port) {
    const sockaddr_in address = Ipv4(INADDR_LOOPBACK, port);
    return ::bind(Fd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool Listen(Socket socket, int backlog) { return ::listen(Fd(socket), backlog) == 0; }

std::optional<uint16_t> LocalPort(Socket socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return ntohs(address.sin_port);
}

Socket Accept(Socket listening) {
    const int fd = ::accept4(Fd(listening), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return kNoSocket;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

bool OpenWakePair(Socket& read, Socket& write) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    read = ends[0];
    write = ends[1];
    return true;
}

void Wake(Socket write) {
    const char byte = 'x';
    [[maybe_unused]] ssize_t ignored = ::write(Fd(write), &byte, 1);
}

int Poll(PollEntry* entries, int count, int timeoutMs) {
    std::vector<pollfd> fds(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        // poll itself passes over negative descriptors.
        fds[i] = {entries[i].socket == kNoSocket ? -1 : Fd(entries[i].socket), entries[i].events,
                  0};
    }
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
    for (int i = 0; i < count; ++i) entries[i].returned = ready > 0 ? fds[i].revents : 0;
    return ready;
}

}  // namespace net
