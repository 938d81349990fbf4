#include "links/doctor.h"

#include <bit>
#include <chrono>

#include "links/program_state.h"
#include "links/socket_ops.h"
#include "seams/idle_pacer.h"
#include "seams/text_scan.h"

namespace doctor {

namespace {

using enum Status;

// Every finding, in the order of the Finding enumeration.
const std::vector<FindingRow> kFindings = {
    {Finding::AddressValid, "address", Ok, "{1}, port {2}", ""},
    {Finding::AddressInvalid, "address", Fail,
     "\"{1}\" is not a printer's address (A.B.C.D with an optional :PORT, not 0.0.0.0)",
     "Give the printer's address as A.B.C.D or A.B.C.D:PORT, e.g. 192.168.1.50:9100."},
    {Finding::RouteLocal, "route", Ok, "{1} is in the subnet {2} of {3}", ""},
    {Finding::RouteGateway, "route", Ok, "{1} is in no local subnet; the route leaves by {2}{3}",
     ""},
    {Finding::RouteNone, "route", Fail,
     "{1} is in none of this machine's subnets ({2}) and there is no route to it",
     "Check the address; else give this machine an address in the printer's subnet, or a "
     "default gateway that reaches it."},
    {Finding::TcpConnected, "tcp-connect", Ok, "{1}:{2} took the connection", ""},
    {Finding::TcpRefused, "tcp-connect", Fail, "{1}:{2} refused the connection",
     "A device has this address but takes no connection on port {2}: the printer's raw TCP "
     "port is switched off, or another device has the address. Check the address on the "
     "printer and that its raw port {2} is on."},
    {Finding::TcpNoAnswer, "tcp-connect", Fail, "no answer from {1}:{2} within {3} ms",
     "The printer is off, the address is wrong, or a firewall drops the connection: switch "
     "the printer on, check its address, and check that this machine reaches it (ping {1})."},
    {Finding::TcpUnreachable, "tcp-connect", Fail, "{1}:{2} cannot be reached: {3}",
     "This machine has no way to the address: check its network connection, its address and "
     "its routes."},
    {Finding::UsbListFailed, "usb-device", Fail, "the USB devices cannot be listed",
     "The machine's USB could not be read: check that lsusb lists the devices, and that this "
     "user may use USB at all."},
    {Finding::UsbAbsent, "usb-device", Fail,
     "no device with the maker's vendor ID {1} on the USB bus{2}",
     "Check the USB cable and that the printer is switched on; lsusb -d {1}: must list it. "
     "Try another USB port, without a hub."},
    {Finding::UsbPresent, "usb-device", Ok, "{1} ({2})", ""},
    {Finding::UsbAccessOk, "device-access", Ok, "this user may open the device", ""},
    {Finding::UsbNoAccess, "device-access", Fail, "this user may not open the device",
     "The udev rule /usr/lib/udev/rules.d/60-tessaly-usb.rules is missing, or the printer was "
     "plugged in before the rule was installed. Install the package (or the rule), then run "
     "sudo udevadm control --reload && sudo udevadm trigger --action=change "
     "--subsystem-match=usb --attr-match=idVendor=3c7a, or replug the printer. The rule gives "
     "the device to the user logged in at the machine's seat (the uaccess tag): log in at the "
     "machine itself, not only over the network."},
    {Finding::WinUsbMissing, "device-access", Fail, "the device cannot be opened through WinUSB",
     "Make WinUSB the printer's driver: Device Manager, the printer's USB device, Update "
     "driver, WinUSB Device."},
    {Finding::UsbDriverFree, "printer-driver", Ok, "{1}", ""},
    {Finding::UsbDriverHeld, "printer-driver", Fail, "{1} is held by {2} (PID {3}){4}",
     "Stop that program, or pause its print queue (cupsdisable QUEUE), and try again: the "
     "kernel's printer driver lets one program at a time use the printer."},
    {Finding::QueueNone, "print-queue", Ok, "no print queue is paired with serial {1}", ""},
    {Finding::QueueIdle, "print-queue", Ok, "queue {1}: {2}, no jobs", ""},
    {Finding::QueueJobs, "print-queue", Fail,
     "queue {1} has {2} job(s) to send: the printing service holds the printer meanwhile",
     "Let the jobs finish, cancel them (cancel -a {1}), or pause the queue (cupsdisable {1}) "
     "while Tessaly works."},
    {Finding::ClaimOk, "claim", Ok, "the printer interface can be claimed", ""},
    {Finding::ClaimBusy, "claim", Fail,
     "the printer interface cannot be claimed: another program holds it",
     "Close the other program that uses the printer (another Tessaly, a print job); if none "
     "runs, unplug the printer and plug it in again."},
    {Finding::PortMissing, "port-device", Fail, "{1} does not exist (modules: {2})",
     "Load the parallel-port drivers: sudo modprobe parport_pc ppdev, and check that the "
     "port is enabled in the machine's firmware setup."},
    {Finding::PortPresent, "port-device", Ok, "{1}", ""},
    {Finding::PortAccessOk, "port-access", Ok, "this user may open {1}", ""},
    {Finding::PortNoAccess, "port-access", Fail, "this user may not open {1}",
     "Add the user to the lp group (sudo adduser $USER lp) and log in again."},
    {Finding::PortDriverFree, "port-driver", Ok, "{1}", ""},
    {Finding::PortDriverHeld, "port-driver", Fail,
     "the line printer driver (lp) has the port: {1} is held by {2} (PID {3})",
     "Stop that program or its print queue; sudo rmmod lp leaves the port to this program "
     "for good."},
    {Finding::PortLibraryOk, "port-library", Ok, "INPOUT32.dll, a 64-bit build, loads", ""},
    {Finding::PortLibraryMissing, "port-library", Fail,
     "the port I/O library INPOUT32.dll is missing",
     "Put a 64-bit build of the port I/O library, named INPOUT32.dll, beside the program or "
     "on the PATH."},
    {Finding::PortLibrary32Bit, "port-library", Fail, "INPOUT32.dll is not a 64-bit build",
     "Replace it with a 64-bit build of the port I/O library, named INPOUT32.dll."},
    {Finding::PortClaimFailed, "negotiation", Fail, "the port cannot be claimed",
     "Another program has the port (another Tessaly?): close it and try again."},
    {Finding::NegotiationOk, "negotiation", Ok, "the printer took part in IEEE 1284 negotiation",
     ""},
    {Finding::NegotiationFailed, "negotiation", Fail,
     "the printer did not take part in IEEE 1284 negotiation",
     "Switch the printer on; check that the cable is a bidirectional (IEEE 1284) one and "
     "that the port is in bidirectional, ECP or EPP mode in the machine's firmware setup."},
    {Finding::Answered, "printer-answers", Ok, "VRS {1} (family {2}), serial {3}", ""},
    {Finding::NotOpened, "printer-answers", Fail, "the program's own link would not open",
     "The checks before it passed, so the printer went away or is held meanwhile: switch it "
     "off and on (or plug it in again) and run the doctor again."},
    {Finding::Silent, "printer-answers", Fail,
     "no reply to the version request (VRS) within {1} ms",
     "The link opened but the printer did not answer in time: switch it off and on, wait "
     "until it is ready, and run the doctor again."},
    {Finding::Foreign, "printer-answers", Fail,
     "something answered that is not this printer's protocol: \"{1}\"",
     "Another device or service has this address and port (a web server, say): check the "
     "printer's address and port."},
    {Finding::NotRun, "", Skip, "not run: {1} failed", ""},
    {Finding::NotOnPlatform, "", Skip, "{1}", ""},
};

}  // namespace

const std::vector<FindingRow>& FindingTable() { return kFindings; }

const FindingRow& Row(Finding id) { return kFindings[static_cast<size_t>(id)]; }

const char* StatusWord(Status status) {
    switch (status) {
        case Ok:
            return "ok";
        case Fail:
            return "FAIL";
        case Skip:
            break;
    }
    return "skip";
}

namespace {

std::string Fill(const char* pattern, const std::vector<std::string>& values) {
    std::string text;
    for (const char* p = pattern; *p != '\0'; ++p) {
        if (p[0] == '{' && p[1] >= '1' && p[1] <= '9' && p[2] == '}') {
            const size_t index = static_cast<size_t>(p[1] - '1');
            if (index < values.size()) text += values[index];
            p += 2;
            continue;
        }
        text += *p;
    }
    return text;
}

}  // namespace

CheckResult Make(Finding id, const std::vector<std::string>& values) {
    const FindingRow& row = Row(id);
    return {id, row.check, row.status, Fill(row.found, values), Fill(row.fix, values)};
}

namespace {

// Polls the status register until `bit` reads as `set`, for at most
// `waitMs`; the window gets its idle calls meanwhile.
bool WaitStatus(IPortRegisters& port, uint8_t bit, bool set, int waitMs, CIdlePacer& idle) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (((port.ReadRegister(lpt::kStatusRegister) & bit) != 0) == set) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        idle.Tick(now);
    }
}

void ChangeControl(IPortRegisters& port, uint8_t bit, bool set) {
    const uint8_t value = port.ReadRegister(lpt::kControlRegister);
    port.WriteRegister(lpt::kControlRegister, set ? static_cast<uint8_t>(value | bit)
                                                  : static_cast<uint8_t>(value & ~bit));
}

}  // namespace

bool NegotiateNibbleMode(IPortRegisters& port, int waitMs, CIdlePacer& idle) {
    // The same steps as the link's own read: request nibble mode, and see
    // whether the printer acknowledges, then terminate whatever happened.
    ChangeControl(port, lpt::kControlAutoFeed, true);
    ChangeControl(port, lpt::kControlSelectIn, false);
    bool answered = WaitStatus(port, lpt::kStatusAck, false, waitMs, idle);
    if (answered) {
        port.WriteRegister(lpt::kDataRegister, 0x00);
        ChangeControl(port, lpt::kControlStrobe, true);
        ChangeControl(port, lpt::kControlStrobe, false);
        ChangeControl(port, lpt::kControlAutoFeed, false);
        answered = WaitStatus(port, lpt::kStatusAck, true, waitMs, idle);
    }
    ChangeControl(port, lpt::kControlSelectIn, true);
    WaitStatus(port, lpt::kStatusAck, false, waitMs, idle);
    ChangeControl(port, lpt::kControlAutoFeed, true);
    WaitStatus(port, lpt::kStatusAck, true, waitMs, idle);
    ChangeControl(port, lpt::kControlAutoFeed, false);
    return answered;
}

std::optional<EthernetAddress> ParseEthernetAddress(const std::string& text, uint16_t defaultPort) {
    EthernetAddress result;
    result.port = defaultPort;
    std::string host = text;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        const std::optional<long long> port = textscan::WholeNumber(text.substr(colon + 1));
        if (!port || *port < 1 || *port > 65535) return std::nullopt;
        result.port = static_cast<uint16_t>(*port);
        host = text.substr(0, colon);
    }
    const std::optional<uint32_t> address = textscan::DottedAddress(host);
    // 0.0.0.0 is what stands before any address was entered; Linux would
    // connect it to this machine.
    if (!address || *address == 0) return std::nullopt;
    result.address = *address;
    return result;
}

std::string SubnetText(const NetInterface& netInterface) {
    return tessaly::FormatIpAddress(netInterface.address & netInterface.mask) + "/" +
           std::to_string(std::popcount(netInterface.mask));
}

}  // namespace doctor
