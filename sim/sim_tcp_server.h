#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "links/socket_ops.h"
#include "sim/sim_printer.h"

// The simulated printer on a TCP port of 127.0.0.1, as a networked printer
// serves its raw port: one connection at a time (others wait in the backlog),
// each starting with a fresh parser over the same printer state.
//
// Serves from a background thread; the printer itself is thread-safe, so a
// test may inspect or change it while a link talks to the server.
class CSimTcpServer {
public:
    explicit CSimTcpServer(std::shared_ptr<CSimPrinter> printer);
    ~CSimTcpServer();

    CSimTcpServer(const CSimTcpServer&) = delete;
    CSimTcpServer& operator=(const CSimTcpServer&) = delete;

    // Listens on 127.0.0.1:`port` (0 picks a free port, see Port()) and starts
    // serving. On failure returns false with the reason in `error`.
    bool Start(uint16_t port = 0, std::string* error = nullptr);
    // Stops serving and drops the current connection; Start may follow.
    void Stop();

    bool IsRunning() const { return m_thread.joinable(); }
    uint16_t Port() const { return m_port; }
    int ConnectionsAccepted() const { return m_accepted.load(); }

private:
    void Run();

    std::shared_ptr<CSimPrinter> m_printer;
    net::Socket m_listen = net::kNoSocket;
    // Stop writes a byte here to wake the serving thread out of its poll.
    net::Socket m_wakeRead = net::kNoSocket;
    net::Socket m_wakeWrite = net::kNoSocket;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;
};
