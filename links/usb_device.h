#pragma once

#include "links/character_interface.h"

// A printer attached by USB. Not built yet: Open fails, so the connect loop
// reports the printer as unreachable.
class CUSBDevice : public CCharacterInterface {
public:
    int Open() override { return 0; }
    void Close() override {}
    int Read(uint8_t*, int, int) override { return 0; }
    int Write(const uint8_t*, int) override { return 0; }
};
