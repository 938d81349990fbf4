#pragma once

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

// Whether another program has the interface's printer node open. The
// driver refuses a second opener, so an open that fails with "busy" tells;
// opening starts a read on the printer's reply pipe that closing cancels,
// harmless while nothing is owed to this program. A node that cannot be
// opened for another reason (no permission) does not count as busy.
bool UsblpNodeBusy(const std::string& interfaceName);

// The device ID the driver read from the printer when it bound; no value
// when it is not bound (or read none).
std::optional<std::string> UsblpDeviceId(const std::string& interfaceName,
                                         const std::string& devicesRoot = "/sys/bus/usb/devices");
