#pragma once

#include <memory>
#include <string>
#include <utility>

#include "links/ethernet_if.h"
#include "links/link_factory.h"
#include "links/socket_ops.h"
#include "sim/sim_printer.h"
#include "sim/sim_tcp_server.h"

// The simulated printer served on a free TCP port of 127.0.0.1, and the
// program's own Ethernet links to it.
struct SimTcpPrinter {
    std::shared_ptr<CSimPrinter> printer;
    CSimTcpServer server{printer};
    // Why the server does not serve; empty while it does.
    std::string startError;

    explicit SimTcpPrinter(std::shared_ptr<CSimPrinter> shared = std::make_shared<CSimPrinter>())
        : printer(std::move(shared)) {
        server.Start(0, &startError);
    }

    // Ethernet links to the server's port at the address `state` holds,
    // with the given waits (ms); other link kinds get none. `state` and
    // this printer must outlive the links.
    LinkFactory EthernetLinks(tessaly::ProgramState& state, int receiveMs,
                              int connectMs = CEthernetIF::kConnectTimeoutMs) {
        return [this, &state, receiveMs, connectMs](
                   int kind, const std::string&) -> std::unique_ptr<CCharacterInterface> {
            if (kind != kLinkEthernet) return nullptr;
            return std::make_unique<CEthernetIF>(
                state, CEthernetIF::Settings{server.Port(), receiveMs, connectMs});
        };
    }
};

// A socket listening on a free loopback port that nothing accepts on: the
// system takes connections for it, and nobody answers. Closing it leaves a
// port where nothing listens.
inline net::Socket LoopbackListening(uint16_t& port) {
    net::Start();
    net::Socket socket = net::OpenTcp(false);
    net::BindLoopback(socket, 0);
    net::Listen(socket, 4);
    port = net::LocalPort(socket).value_or(0);
    return socket;
}
