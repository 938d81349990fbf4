// Name lookup is the same call on every platform; only its header differs.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <string>

#include "links/socket_ops.h"

namespace net {

std::optional<uint32_t> ResolveIpv4(const std::string& name, std::string& error) {
    if (!Start()) {
        error = "the socket library did not start";
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int code = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (code != 0 || !found) {
        error = code != 0 ? ::gai_strerror(code) : "no IPv4 address";
        return std::nullopt;
    }
    const uint32_t address =
        ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(found);
    return address;
}

}  // namespace net
