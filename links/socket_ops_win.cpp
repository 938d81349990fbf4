// The socket calls on Windows: Winsock 2.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "links/socket_ops.h"

namespace net {

namespace {

SOCKET Raw(Socket socket) {
    return socket == kNoSocket ? INVALID_SOCKET : static_cast<SOCKET>(socket);
}
Socket Wrap(SOCKET socket) {
    return socket == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(socket);
}

sockaddr_in Ipv4(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

}  // namespace

const short kPollIn = POLLRDNORM;
const short kPollOut = POLLWRNORM;
const short kPollPeerClosed = 0;
const short kPollHangUp = POLLHUP;
const short kPollError = POLLERR;

Failure LastFailure() {
    switch (::WSAGetLastError()) {
        case WSAEINTR:
            return Failure::Interrupted;
        case WSAEWOULDBLOCK:
            return Failure::WouldBlock;
        default:
            return Failure::Other;
    }
}

std::string LastFailureText() {
    const int code = ::WSAGetLastError();
    char text[256] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string result(text, length);
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
        result.pop_back();
    }
    return result.empty() ? "Winsock error " + std::to_string(code) : result;
}

std::string ConnectErrorText(int error) {
    switch (error) {
        case WSAECONNREFUSED:
            return "refused (the address answered, but nothing takes connections on the port)";
        case WSAEHOSTUNREACH:
        case WSAENETUNREACH:
            return "no route to the printer (check the address and this machine's network)";
        default:
            return "Winsock error " + std::to_string(error);
    }
}

bool Start() {
    // Winsock counts its start-ups; one for the whole run is enough, and it
    // stays up until the process ends.
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data{};
        started = ::WSAStartup(MAKEWORD(2, 0), &data) == 0;
    });
    return started;
}

Socket OpenTcp(bool nonBlocking) {
    if (!Start()) return kNoSocket;
    const SOCKET socket = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) return kNoSocket;
    Socket result = Wrap(socket);
    if (nonBlocking && !SetBlocking(result, false)) CloseSocket(result);
    return result;
}

void CloseSocket(Socket& socket) {
    if (socket != kNoSocket) ::closesocket(Raw(socket));
    socket = kNoSocket;
}

bool SetBlocking(Socket socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(Raw(socket), FIONBIO, &nonBlocking) == 0;
}

void PushPending(Socket socket) {
    // Turning the delay off sends what it held; turning it back on keeps a
    // transfer's 1 KiB writes gathered into full segments.
    BOOL on = TRUE;
    BOOL off = FALSE;
    ::setsockopt(Raw(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                 sizeof on);
    ::setsockopt(Raw(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&off),
                 sizeof off);
}

ConnectStart Connect(Socket socket, uint32_t address, uint16_t port) {
    const sockaddr_in target = Ipv4(address, port);
    if (::connect(Raw(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) {
        return ConnectStart::Connected;
    }
    // Winsock says "would block" where Berkeley sockets say "in progress".
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? ConnectStart::Pending : ConnectStart::Failed;
}

int WaitWritable(Socket socket, int timeoutMs) {
    WSAPOLLFD entry{Raw(socket), POLLWRNORM, 0};
    const int ready = ::WSAPoll(&entry, 1, timeoutMs);
    // A refused connect shows as an error or hang-up, not as writable; the
    // caller learns which from PendingError.
    return ready;
}

int WaitReadable(Socket socket, int timeoutMs) {
    // A closed or reset connection shows as hang-up or error, which WSAPoll
    // reports whatever was asked; the receive that follows tells which.
    WSAPOLLFD entry{Raw(socket), POLLRDNORM, 0};
    return ::WSAPoll(&entry, 1, timeoutMs);
}

std::optional<int> UnsentBytes(Socket) { return std::nullopt; }

PeerSign PeekPeer(Socket socket) {
    char byte = 0;
    const int result = ::recv(Raw(socket), &byte, 1, MSG_PEEK);
    if (result > 0) return PeerSign::Bytes;
    if (result == SOCKET_ERROR) {
        const int error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK || error == WSAEINTR) return PeerSign::Nothing;
        return PeerSign::Reset;
    }
    const int error = PendingError(socket);
    return error == 0 ? PeerSign::Closed : PeerSign::Reset;
}

int WaitHangUp(Socket socket, int timeoutMs) {
    // WSAPoll with no events asked is refused; after the peer's close the
    // connection is looked at again after each slice instead.
    (void)socket;
    ::Sleep(static_cast<DWORD>(std::clamp(timeoutMs, 0, 10)));
    return 0;
}

int PendingError(Socket socket) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(Raw(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
        0) {
        return -1;
    }
    return error;
}

long Receive(Socket socket, uint8_t* buffer, int capacity) {
    return ::recv(Raw(socket), reinterpret_cast<char*>(buffer), capacity, 0);
}

long ReceiveNow(Socket socket, uint8_t* buffer, int capacity) {
    // Winsock has no per-call "don't wait": look first, then take.
    WSAPOLLFD entry{Raw(socket), POLLRDNORM, 0};
    const int ready = ::WSAPoll(&entry, 1, 0);
    if (ready < 0) return -1;
    if (ready == 0) {
        ::WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    return Receive(socket, buffer, capacity);
}

long Send(Socket socket, const uint8_t* data, int length) {
    return ::send(Raw(socket), reinterpret_cast<const char*>(data), length, 0);
}

bool SetReuseAddress(Socket socket) {
    // Winsock's SO_REUSEADDR would let a second server take a port in use;
    // a closed listener's port is free at once on Windows anyway.
    return socket != kNoSocket;
}

bool BindLoopback(Socket socket, uint16_t port) {
    const sockaddr_in address = Ipv4(INADDR_LOOPBACK, port);
    return ::bind(Raw(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool Listen(Socket socket, int backlog) { return ::listen(Raw(socket), backlog) == 0; }

std::optional<uint16_t> LocalPort(Socket socket) {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getsockname(Raw(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return ntohs(address.sin_port);
}

Socket Accept(Socket listening) {
    Socket accepted = Wrap(::accept(Raw(listening), nullptr, nullptr));
    if (accepted == kNoSocket) return kNoSocket;
    if (!SetBlocking(accepted, false)) {
        CloseSocket(accepted);
        return kNoSocket;
    }
    BOOL on = TRUE;
    ::setsockopt(Raw(accepted), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                 sizeof on);
    return accepted;
}

bool OpenWakePair(Socket& read, Socket& write) {
    // Winsock polls sockets only: a loopback connection stands in for a pipe.
    Socket listening = OpenTcp(false);
    bool ok = listening != kNoSocket && BindLoopback(listening, 0) && Listen(listening, 1);
    const std::optional<uint16_t> port = ok ? LocalPort(listening) : std::nullopt;
    write = port ? OpenTcp(false) : kNoSocket;
    ok = write != kNoSocket && Connect(write, INADDR_LOOPBACK, *port) == ConnectStart::Connected;
    read = ok ? Wrap(::accept(Raw(listening), nullptr, nullptr)) : kNoSocket;
    CloseSocket(listening);
    if (read == kNoSocket) {
        CloseSocket(write);
        return false;
    }
    return true;
}

void Wake(Socket write) {
    const char byte = 'x';
    ::send(Raw(write), &byte, 1, 0);
}

int Poll(PollEntry* entries, int count, int timeoutMs) {
    // Entries without a socket are left out: WSAPoll fails on some Windows
    // versions when given one.
    std::vector<WSAPOLLFD> fds;
    std::vector<int> place;
    for (int i = 0; i < count; ++i) {
        entries[i].returned = 0;
        if (entries[i].socket == kNoSocket) continue;
        fds.push_back({Raw(entries[i].socket), entries[i].events, 0});
        place.push_back(i);
    }
    if (fds.empty()) {
        ::Sleep(static_cast<DWORD>(std::max(timeoutMs, 0)));
        return 0;
    }
    const int ready = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
    if (ready > 0) {
        for (size_t k = 0; k < fds.size(); ++k) entries[place[k]].returned = fds[k].revents;
    }
    return ready;
}

}  // namespace net
