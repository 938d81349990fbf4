#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "links/character_interface.h"
#include "links/program_state.h"
#include "links/socket_ops.h"

// A printer on the network: one TCP connection to port 9100 of the address
// the operator entered (the program state's printer address).
class CIdlePacer;

// Waits for a non-blocking connect to finish, in slices, ticking the idle
// pacer between them: the connect's error (0 when it connected, -1 when the
// wait itself failed, the system's reason then in net::LastFailureText), or
// no value when the wait ran out or the operator cancelled it.
std::optional<int> FinishConnect(net::Socket socket, int timeoutMs, CIdlePacer& idle);

class CEthernetIF : public CCharacterInterface {
public:
    static constexpr uint16_t kPrinterPort = 9100;
    static constexpr int kReceiveTimeoutMs = 10000;
    // A printer that does not answer the connection attempt must not freeze
    // the window for the system's two-minute default.
    static constexpr int kConnectTimeoutMs = 5000;
    // A send that moves nothing for this long has failed: the printer stopped
    // reading. A busy printer takes its data again well within it.
    static constexpr int kSendTimeoutMs = 10000;

    // Where the printer is and how long the link waits. The program uses the
    // defaults; tests shorten the waits and need no fixed port.
    struct Settings {
        // Leading values given, the rest the program's (an aggregate would
        // make every caller spell out all five).
        explicit Settings(uint16_t port_ = kPrinterPort, int receiveMs = kReceiveTimeoutMs,
                          int connectMs = kConnectTimeoutMs, int sendMs = kSendTimeoutMs,
                          std::optional<uint32_t> address_ = std::nullopt)
            : port(port_),
              receiveTimeoutMs(receiveMs),
              connectTimeoutMs(connectMs),
              sendTimeoutMs(sendMs),
              address(address_) {}

        uint16_t port = kPrinterPort;
        int receiveTimeoutMs = kReceiveTimeoutMs;
        int connectTimeoutMs = kConnectTimeoutMs;
        int sendTimeoutMs = kSendTimeoutMs;
        // In place of the address the operator entered, read at every Open:
        // the built-in simulated printer answers at its own address whatever
        // was typed, and the doctor probes the address it was given.
        std::optional<uint32_t> address = std::nullopt;
    };

    // `state` gives the address and records the link as the one whose
    // socket is closed at exit; it must outlive the link.
    CEthernetIF(tessaly::ProgramState& state, const Settings& settings);
    explicit CEthernetIF(tessaly::ProgramState& state, uint16_t port = kPrinterPort,
                         int receiveTimeoutMs = kReceiveTimeoutMs);
    ~CEthernetIF() override;

    int Open() override;
    void Close() override;
    int Read(uint8_t* buffer, int capacity, int paced) override;
    int Write(const uint8_t* data, int length) override;
    int ReceiveWaitMs() const override { return m_settings.receiveTimeoutMs; }
    bool HasFailed() const override { return m_hungUp; }
    bool ConfirmWritten(int graceMs) override;

    std::string Endpoint() const override;
    std::string OpenFailure() const override { return m_openFailure; }

    bool HasSocket() const { return m_socket != net::kNoSocket; }

private:
    // What already arrived without waiting (stale_reply::ReadNow); notices
    // a printer that hung up.
    int ReceiveNow(uint8_t* buffer, int capacity);
    void NoteReceiveResult(long result, net::Failure failure);

    tessaly::ProgramState& m_state;
    Settings m_settings;
    net::Socket m_socket = net::kNoSocket;
    // A Read happened since the last Write: the rest of that reply may have
    // arrived meanwhile, and it is not the answer to the next request.
    bool m_replyMayTrail = false;
    // Writes since the last Read. The socket gathers a frame written in
    // pieces into full segments and may hold its small tail until the data
    // before it is acknowledged, which a receiver can delay by tens of
    // milliseconds: before a reply is waited for, that tail is pushed out.
    // A frame written at once after a reply goes out whole without it.
    int m_writesSinceRead = 0;
    // The printer closed or reset the connection, or stopped taking data in
    // the middle of a frame. A write into it would still "succeed" once (or
    // finish the frame in the wrong place), and the request would be lost
    // without a word; every Write fails instead, so the sending forms
    // reconnect.
    bool m_hungUp = false;
    std::string m_openFailure;
};
