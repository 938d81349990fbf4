#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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
    // The serving thread and its steps, one connection at a time.
    void Run();
    // The client's poll events to wait for, and in `timeout` how long (ms,
    // -1: no limit) until the printer has something due.
    short ClientEvents(int& timeout) const;
    void AcceptClient();
    void ServeClient(short revents);
    // Reads what the host sent and hands it to the printer; false when the
    // connection ended.
    bool ReadClient();
    // Hands the printer what it will take of the held input.
    void FeedHeld();
    // Sends as much as the socket takes without blocking.
    void SendPending();
    void DropClient();

    std::shared_ptr<CSimPrinter> m_printer;
    net::Socket m_listen = net::kNoSocket;
    // Stop writes a byte here to wake the serving thread out of its poll.
    net::Socket m_wakeRead = net::kNoSocket;
    net::Socket m_wakeWrite = net::kNoSocket;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::thread m_thread;

    // Touched by the serving thread only.
    net::Socket m_client = net::kNoSocket;
    // Reply bytes taken from the printer but not yet accepted by the socket.
    std::string m_out;
    // Bytes read from the socket that the printer has not taken yet (it is
    // busy or silent). While any wait, the socket is not read: its buffers
    // fill and the host's sends stall, as with a real printer.
    std::string m_in;
    std::vector<uint8_t> m_buffer;
};
