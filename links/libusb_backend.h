#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "links/usb_backend.h"
#include "links/usblp_node.h"

struct libusb_context;
struct libusb_device;

// The machine's USB through libusb-1.0.
//
// A printer's pipes are the bulk endpoints of its printer-class interface
// (class 7, subclass 1, bidirectional protocol 2). While the link holds them
// the kernel's usblp driver is detached from that interface; it is attached
// again when the last pipe closes, so the printing service can print again.
// A printer whose usblp node another program has open is left alone: that
// program is printing, and the driver is never detached from under it; nor
// is it detached from a printer whose node this user may not open. Listing
// and probing never detach: usblp is detached only to connect.
class CLibusbBackend : public IUsbBackend {
public:
    CLibusbBackend();
    ~CLibusbBackend() override;

    bool Enumerate(std::vector<UsbDeviceInfo>& devices) override;
    bool CanOpen(const std::string& devicePath) override;
    bool ProbeExclusive(const std::string& devicePath) override;
    std::unique_ptr<IUsbPipe> OpenPipe(const std::string& devicePath, UsbPipeKind kind) override;
    bool DeniedAccess() const override;

    struct Claim;

private:
    // libusb starts on first use, so a program that never picks USB never
    // touches it.
    bool Start();
    struct Listed;
    // The present devices with their paths; false when libusb cannot list.
    bool List(std::vector<Listed>& devices);
    // The present device with that path, referenced (the caller unrefs).
    libusb_device* FindDevice(const std::string& devicePath);
    std::shared_ptr<Claim> OpenClaim(const std::string& devicePath);
    // What the interface's usblp node says; notes a node this user may not
    // open.
    UsblpNodeState AskNode(const std::string& interfaceName);

    // Shared with every claim, so libusb outlives the last pipe.
    std::shared_ptr<libusb_context> m_context;
    bool m_started = false;
    // Both pipes of a printer share one claim of its interface.
    std::map<std::string, std::weak_ptr<Claim>> m_claims;
    // The device IDs of the last listing, by path and bus address.
    std::map<std::string, std::string> m_deviceIds;
    bool m_denied = false;
};
