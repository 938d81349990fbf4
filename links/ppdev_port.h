#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "links/port_registers.h"

// The parallel port through the Linux ppdev driver. The driver claims the
// port for this process and passes register values through unchanged, with
// two quirks the link must live with: reading the control register returns
// the driver's copy of its low four bits only, and the claim itself resets
// the control lines to the driver's initial state (nInit high, nSelectIn
// low), so anything the link wants on them goes on after the claim.
class CPpdevPort : public IPortRegisters {
public:
    static constexpr const char* kPortsFolder = "/proc/sys/dev/parport";

    // Opens and claims the device; no object when either fails (no device,
    // no permission, not a parallel port), or when another driver holds the
    // port (the line printer driver, another program through ppdev): the
    // claim would wait for as long as that one prints, beyond any bound.
    // `whyNot`, when given, receives what stood in the way and what fixes it.
    static std::shared_ptr<CPpdevPort> Open(const std::string& device,
                                            const std::string& portsFolder = kPortsFolder,
                                            std::string* whyNot = nullptr);
    ~CPpdevPort() override;

    CPpdevPort(const CPpdevPort&) = delete;
    CPpdevPort& operator=(const CPpdevPort&) = delete;

    // 0x378 data, 0x379 status, 0x37A control. Other addresses read 0xFF and
    // ignore writes.
    uint8_t ReadRegister(uint16_t address) override;
    void WriteRegister(uint16_t address, uint8_t value) override;

private:
    explicit CPpdevPort(int fd) : m_fd(fd) {}
    int m_fd;
};

// The ppdev node a port name opens: "LPT1:" to "LPT4:" are /dev/parport0 to
// /dev/parport3, so a machine with several ports reaches each by its own
// name. Case and the colon do not matter ("lpt2" is LPT2:); any other name
// has no node.
std::optional<std::string> ParallelDevicePath(std::string_view portName);

// The name of the driver that holds the device's port now ("lp0",
// "ppdev0"), as the parport layer lists it under `portsFolder`; no value
// when the port is free or the list cannot be read.
std::optional<std::string> ParallelPortHolder(const std::string& device,
                                              const std::string& portsFolder);
