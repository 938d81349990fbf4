#pragma once

#include <cstdint>
#include <string>

#include "seams/idle_pacer.h"

// Link kinds as the protocol object stores them in each link.
enum LinkKind : int {
    kLinkUsb = 0,
    kLinkParallel = 1,
    kLinkEthernet = 2,
};

// The byte channel between the protocol object and the printer. One object
// per link kind; the protocol object owns exactly one at a time.
//
// Contract every implementation serves:
//  - Open: non-zero on success, 0 on failure; may be called again after a
//    failure or after Close, each call starting afresh.
//  - Write: bytes go out in order; returns the count accepted, 0 = failed.
//  - Read: stores at most `capacity` received bytes at the start of `buffer`
//    and nothing beyond them; returns the count, 0 or less = nothing.
//    `paced` asks for a pause before each read attempt (USB only acts on it).
//    A Read that returns nothing does not mean nothing will come: a printer
//    may take seconds to answer (a card passing the reader), so a caller
//    that expects more reads again.
//  - ReceiveWaitMs: how long a caller waits for more of a reply while Reads
//    return nothing, before it takes the printer for silent.
//  - HasFailed: the link knows the printer hung up or the device failed;
//    reading on cannot bring more. Open starts afresh.
//  - Every wait (for a reply, for room to send, for a handshake line) runs
//    in slices of at most kIdleSliceMs and ticks the idle pacer between
//    them, so the window stays alive however long the printer takes.
class CCharacterInterface {
public:
    static constexpr int kDefaultReceiveWaitMs = 10000;

    CCharacterInterface() = default;
    virtual ~CCharacterInterface() = default;

    CCharacterInterface(const CCharacterInterface&) = delete;
    CCharacterInterface& operator=(const CCharacterInterface&) = delete;

    virtual int Open() = 0;
    virtual void Close() = 0;
    virtual int Read(uint8_t* buffer, int capacity, int paced) = 0;
    virtual int Write(const uint8_t* data, int length) = 0;
    virtual int ReceiveWaitMs() const { return kDefaultReceiveWaitMs; }
    virtual bool HasFailed() const { return false; }
    // After the last write of something the printer answers nothing to:
    // whether the printer took it, as far as the link can tell. A write
    // that returned only means the bytes left this machine's hands; a link
    // that can learn more (TCP: acknowledged, and no reset for bytes left
    // unread) waits up to `graceMs` for a reset to come back.
    virtual bool ConfirmWritten(int /*graceMs*/) { return !HasFailed(); }
    // Where the link goes ("10.0.0.5:9100", "/dev/parport0"), for messages
    // and the trace; empty when it cannot say.
    virtual std::string Endpoint() const { return {}; }
    // Why the last Open failed, in the operator's words ("refused", "no
    // answer within 5 s"); empty when it did not fail or the link cannot
    // tell.
    virtual std::string OpenFailure() const { return {}; }

    int GetLinkKind() const { return m_linkKind; }
    void SetLinkKind(int kind) { m_linkKind = kind; }

    // Whose Idle the waits call: the protocol object hands in its host right
    // after creating the link. Not owned; it outlives the link. A link given
    // none (tests, the simulator's own use) waits just the same. A link that
    // wraps another passes the host on.
    virtual void SetIdleHost(IHostServices* host) { m_idle.SetHost(host); }

protected:
    CIdlePacer& IdlePacer() { return m_idle; }

private:
    CIdlePacer m_idle;

    // Set by the protocol object right after it creates the link.
    int m_linkKind = -1;
};
