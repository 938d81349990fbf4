#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "links/usb_backend.h"

// The machine's USB on Windows: the present interfaces of the USB device
// interface class through SetupAPI, and the printer's bulk pipes through
// WinUSB (the printer must have WinUSB as its driver).
//
// Paths are handed out in the program's own form; the system's path of each
// device is kept to open it by.
class CWinUsbBackend : public IUsbBackend {
public:
    CWinUsbBackend();
    ~CWinUsbBackend() override;

    bool Enumerate(std::vector<UsbDeviceInfo>& devices) override;
    bool CanOpen(const std::string& devicePath) override;
    // Opening the device for reading and writing with no sharing fails
    // while anyone has it open, this program's own link included.
    bool ProbeExclusive(const std::string& devicePath) override;
    std::unique_ptr<IUsbPipe> OpenPipe(const std::string& devicePath, UsbPipeKind kind) override;

    struct Claim;

private:
    // The system's path of a device listed before; lists again when it is
    // not known yet. Empty when the device is not present.
    std::string SystemPath(const std::string& devicePath);
    // The system's interface paths of the present devices; false when the
    // device set cannot be made.
    bool ListSystemPaths(std::vector<std::string>& paths);

    std::map<std::string, std::string> m_systemPaths;
    // Both pipes of a printer share one WinUSB handle.
    std::map<std::string, std::weak_ptr<Claim>> m_claims;
};
