#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The PC parallel port as three byte registers at fixed I/O addresses, the
// same three whichever port they belong to.
namespace lpt {

constexpr uint16_t kDataRegister = 0x378;
constexpr uint16_t kStatusRegister = 0x379;
constexpr uint16_t kControlRegister = 0x37A;

// Status register bits, as the port presents them. Busy is inverted by the
// port hardware: the bit reads 1 while the printer is NOT busy. In the
// IEEE 1284 reverse channel the four data lines carry a nibble, Busy its top
// bit (so a clear kStatusNotBusy is a 1 bit there).
constexpr uint8_t kStatusFault = 0x08;     // nFault; nDataAvail in reverse mode (0 = data)
constexpr uint8_t kStatusSelect = 0x10;    // Select; XFlag in reverse mode
constexpr uint8_t kStatusPaperOut = 0x20;  // PError; AckDataReq in reverse mode
constexpr uint8_t kStatusAck = 0x40;       // nAck; PtrClk in reverse mode
constexpr uint8_t kStatusNotBusy = 0x80;   // Busy, inverted

// Control register bits. Bits 0, 1 and 3 drive their lines inverted: setting
// the bit pulls the line low.
constexpr uint8_t kControlStrobe = 0x01;    // nStrobe
constexpr uint8_t kControlAutoFeed = 0x02;  // nAutoFd; HostBusy in reverse mode
constexpr uint8_t kControlInit = 0x04;      // nInit, not inverted
// nSelectIn: set = compatibility mode, clear = IEEE 1284 active.
constexpr uint8_t kControlSelectIn = 0x08;

}  // namespace lpt

// Raw access to port registers: everything the parallel link needs of the
// platform. Values are the registers' own, hardware inversions included.
class IPortRegisters {
public:
    virtual ~IPortRegisters() = default;
    virtual uint8_t ReadRegister(uint16_t address) = 0;
    virtual void WriteRegister(uint16_t address, uint8_t value) = 0;
};

// The machine's parallel port `portName` ("LPT1:" to "LPT4:"): on Linux the
// ppdev node of that port (/dev/parport0 to /dev/parport3); on Windows the
// port I/O library, whose registers are the same for every name. No object
// when the port cannot be reached (no such device, no permission, library
// missing); dropping the last reference releases the port. `whyNot`, when
// given, receives why not and what fixes it, where the system tells.
std::shared_ptr<IPortRegisters> OpenSystemParallelPort(const std::string& portName,
                                                       std::string* whyNot = nullptr);
