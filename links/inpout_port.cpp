// The parallel port on a Windows build: the port I/O library, loaded at run
// time and reached by ordinal, so a missing or wrong library shows as an
// unreachable port instead of a program that does not start.
#include <windows.h>

#include <string>

#include "links/port_registers.h"

namespace {

constexpr const char* kPortLibrary = "INPOUT32.dll";
// The library's exports by ordinal: 1 reads a port register (result: 16 bits,
// the register in the low byte), 2 writes the low byte of its value.
constexpr WORD kReadOrdinal = 1;
constexpr WORD kWriteOrdinal = 2;

using PortReadFunction = short(__stdcall*)(short address);
using PortWriteFunction = void(__stdcall*)(short address, short value);

template <typename Function>
Function Lookup(HMODULE library, WORD ordinal) {
    FARPROC entry = ::GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
    // Through a generic function pointer: FARPROC's own signature is a lie.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

class CInpoutPort : public IPortRegisters {
public:
    CInpoutPort(HMODULE library, PortReadFunction read, PortWriteFunction write)
        : m_library(library), m_read(read), m_write(write) {}
    ~CInpoutPort() override { ::FreeLibrary(m_library); }

    CInpoutPort(const CInpoutPort&) = delete;
    CInpoutPort& operator=(const CInpoutPort&) = delete;

    uint8_t ReadRegister(uint16_t address) override {
        return static_cast<uint8_t>(m_read(static_cast<short>(address)) & 0xFF);
    }
    void WriteRegister(uint16_t address, uint8_t value) override {
        m_write(static_cast<short>(address), static_cast<short>(value));
    }

private:
    HMODULE m_library;
    PortReadFunction m_read;
    PortWriteFunction m_write;
};

}  // namespace

std::shared_ptr<IPortRegisters> OpenSystemParallelPort(const std::string& /*portName*/,
                                                       std::string* whyNot) {
    HMODULE library = ::LoadLibraryA(kPortLibrary);
    if (library == nullptr) {
        if (whyNot)
            *whyNot = std::string("the port I/O library ") + kPortLibrary + " cannot be loaded";
        return nullptr;
    }
    auto read = Lookup<PortReadFunction>(library, kReadOrdinal);
    auto write = Lookup<PortWriteFunction>(library, kWriteOrdinal);
    if (read == nullptr || write == nullptr) {
        ::FreeLibrary(library);
        return nullptr;
    }
    return std::make_shared<CInpoutPort>(library, read, write);
}
