#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The kernel's USB printer driver (usblp), as seen from outside it: the
// /dev/usb/lp* node it makes for a printer interface, and the IEEE 1284
// device ID it read when it bound. Another program printing through that
// node holds the printer; the driver lets only one opener in at a time.

// The kernel's name of an interface: "<bus>-<port>.<port>...:<config>.<n>".
std::string UsbInterfaceName(int bus, const std::vector<int>& ports, int configuration,
                             int interfaceNumber);

// The printer nodes ("lp0", ...) the driver made for the interface, from
// its folder under `devicesRoot` (the kernel's USB device folder by default).
// Empty when the driver is not bound to it.
std::vector<std::string> UsblpNodeNames(const std::string& interfaceName,
                                        const std::string& devicesRoot = "/sys/bus/usb/devices");

// What the interface's printer node says about who holds the printer.
enum class UsblpNodeState {
    NotBound,    // usblp has no node for it: nothing to ask
    Free,        // the node opened: nobody prints through usblp
    Busy,        // the driver refused a second opener: another program prints
    CannotTell,  // the node would not open for another reason (no permission)
};

// Opens a printer node and closes it again; returns 0, or the errno of the
// failed open. Tests hand in their own.
using UsblpNodeOpener = std::function<int(const std::string& node)>;
int OpenAndCloseNode(const std::string& node);

// Asks the interface's printer nodes. The driver lets one opener in at a
// time, so opening is itself the exclusive probe: it needs no detaching of
// the driver. Opening starts a read on the printer's reply pipe that closing
// cancels, harmless while nothing is owed to this program.
UsblpNodeState ProbeUsblpNode(const std::string& interfaceName,
                              const std::string& devicesRoot = "/sys/bus/usb/devices",
                              const UsblpNodeOpener& open = OpenAndCloseNode);

// The device ID the driver read from the printer when it bound; no value
// when it is not bound (or read none).
std::optional<std::string> UsblpDeviceId(const std::string& interfaceName,
                                         const std::string& devicesRoot = "/sys/bus/usb/devices");
