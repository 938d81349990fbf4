#pragma once

#include <cstdint>

#include "links/character_interface.h"

// A printer on the network: one TCP connection to port 9100 of the address
// the operator entered (tessaly::PrinterIpAddress).
class CEthernetIF : public CCharacterInterface {
public:
    static constexpr uint16_t kPrinterPort = 9100;
    static constexpr int kReceiveTimeoutMs = 10000;
    // A printer that does not answer the connection attempt must not freeze
    // the window for the system's two-minute default.
    static constexpr int kConnectTimeoutMs = 5000;

    // The port and time-out are parameters so tests need no fixed port and no
    // ten-second waits; the program uses the defaults.
    explicit CEthernetIF(uint16_t port = kPrinterPort, int receiveTimeoutMs = kReceiveTimeoutMs,
                         int connectTimeoutMs = kConnectTimeoutMs);
    ~CEthernetIF() override;

    int Open() override;
    void Close() override;
    int Read(uint8_t* buffer, int capacity, int paced) override;
    int Write(const uint8_t* data, int length) override;

    int SocketForTest() const { return m_socket; }

private:
    uint16_t m_port;
    int m_receiveTimeoutMs;
    int m_connectTimeoutMs;
    int m_socket = -1;
};

// The socket of the most recently opened Ethernet link, closed by the
// application at exit. Destroying that link clears it.
bool HasActiveEthernetSocket();
// Closes it if there is one; returns whether a socket was closed.
bool CloseActiveEthernetSocket();
