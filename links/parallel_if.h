#pragma once

#include <string>

#include "links/character_interface.h"

// A printer on the PC's parallel port. Not built yet: Open fails, so the
// connect loop reports the printer as unreachable.
class CParallelIF : public CCharacterInterface {
public:
    explicit CParallelIF(std::string portName) : m_portName(std::move(portName)) {}

    int Open() override { return 0; }
    void Close() override {}
    int Read(uint8_t*, int, int) override { return 0; }
    int Write(const uint8_t*, int) override { return 0; }

    const std::string& PortName() const { return m_portName; }

private:
    std::string m_portName;
};
