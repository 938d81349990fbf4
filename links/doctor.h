#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "links/port_registers.h"

class CIdlePacer;
struct UsbDeviceInfo;

// The connection doctor's words and what it asks of the machine. Each thing
// the doctor can find is one row of one table, with its check, its outcome
// and the line that tells the technician what to do; the man page lists the
// same rows. Nothing here changes anything on the machine or the printer.
namespace doctor {

enum class Status { Ok, Fail, Skip };

enum class Finding : int {
    // Ethernet
    AddressValid,
    AddressInvalid,
    RouteLocal,
    RouteGateway,
    RouteNone,
    TcpConnected,
    TcpRefused,
    TcpNoAnswer,
    TcpUnreachable,
    // USB
    UsbListFailed,
    UsbAbsent,
    UsbPresent,
    UsbAccessOk,
    UsbNoAccess,
    WinUsbMissing,
    UsbDriverFree,
    UsbDriverHeld,
    QueueNone,
    QueueIdle,
    QueueJobs,
    ClaimOk,
    ClaimBusy,
    // Parallel
    PortMissing,
    PortPresent,
    PortAccessOk,
    PortNoAccess,
    PortDriverFree,
    PortDriverHeld,
    PortLibraryOk,
    PortLibraryMissing,
    PortLibrary32Bit,
    PortClaimFailed,
    NegotiationOk,
    NegotiationFailed,
    // Every port kind
    Answered,
    NotOpened,
    Silent,
    Foreign,
    NotRun,
    NotOnPlatform,
    Count
};

// One row: `found` and `fix` may hold {1}, {2}... for the values of the
// case at hand. A row whose status is not Fail has no fix.
struct FindingRow {
    Finding id;
    const char* check;
    Status status;
    const char* found;
    const char* fix;
};

const std::vector<FindingRow>& FindingTable();
const FindingRow& Row(Finding id);
const char* StatusWord(Status status);  // "ok", "FAIL", "skip"

// One check's outcome, its texts filled in.
struct CheckResult {
    Finding id;
    std::string check;
    Status status;
    std::string found;
    std::string fix;
};

// `{n}` in the row's texts replaced by values[n-1].
CheckResult Make(Finding id, const std::vector<std::string>& values = {});

// --- what the doctor asks of the machine -------------------------------------

struct NetInterface {
    std::string name;
    uint32_t address = 0;  // host byte order
    uint32_t mask = 0;
};

enum class NodeAccess { Missing, Denied, Busy, Opens };

// A process that has a device node open.
struct NodeHolder {
    int pid = 0;
    std::string program;
};

struct QueueState {
    bool paused = false;
    int jobs = 0;
};

enum class TcpOutcome { Connected, Refused, NoAnswer, Unreachable };

enum class PortLibrary { Loaded, Missing, WrongBits };

// The machine as the doctor sees it, one question a call, so tests script
// every answer. All of them only look.
class IDoctorProbes {
public:
    virtual ~IDoctorProbes() = default;

    // Which checks apply: the Windows forms or the Linux ones.
    virtual bool IsWindows() const = 0;

    // The machine's IPv4 interfaces that are up.
    virtual std::vector<NetInterface> Interfaces() = 0;
    // The interface a route to `address` leaves by and the gateway it goes
    // through (a default route counts); no value when there is none.
    struct Route {
        std::string interfaceName;
        uint32_t gateway = 0;
    };
    virtual std::optional<Route> RouteTo(uint32_t address) = 0;
    // One TCP connection attempt, closed again at once; `detail` gets the
    // system's words for an Unreachable. Waits in slices, ticking `idle`.
    virtual TcpOutcome TcpConnect(uint32_t address, uint16_t port, int timeoutMs, CIdlePacer& idle,
                                  std::string& detail) = 0;

    // Whether this user may open a device node for reading and writing; the
    // node is closed again at once.
    virtual NodeAccess Node(const std::string& path) = 0;
    // The processes that have `path` open.
    virtual std::vector<NodeHolder> Holders(const std::string& path) = 0;
    // The kernel printer driver's nodes ("/dev/usb/lp0") for the device.
    virtual std::vector<std::string> PrinterDriverNodes(const UsbDeviceInfo& device) = 0;
    // A print queue's state; no value when it cannot be read.
    virtual std::optional<QueueState> Queue(const std::string& name) = 0;
    virtual bool ModuleLoaded(const std::string& name) = 0;
    // The node of the parallel port `portName` ("LPT1:") and the line
    // printer driver's node on it.
    virtual std::string ParallelNode(const std::string& portName) = 0;
    virtual std::string LinePrinterNode(const std::string& portName) = 0;
    virtual PortLibrary ParallelLibrary() = 0;
    // Claims the parallel port; none when it cannot be claimed.
    virtual std::shared_ptr<IPortRegisters> OpenParallelPort(const std::string& portName) = 0;
};

// This machine: /proc, /sys, /dev, CUPS and sockets on Linux; the IP helper,
// the registry's print queues and the port I/O library on Windows.
std::unique_ptr<IDoctorProbes> MakeSystemDoctorProbes();

// Whether a printer takes part in IEEE 1284 nibble-mode negotiation; the
// port is put back in compatibility mode afterwards. Each wait gives up
// after `waitMs`.
bool NegotiateNibbleMode(IPortRegisters& port, int waitMs, CIdlePacer& idle);

// "a.b.c.d" with an optional ":port"; no value for anything else.
struct EthernetAddress {
    uint32_t address = 0;
    uint16_t port = 0;
};
std::optional<EthernetAddress> ParseEthernetAddress(const std::string& text, uint16_t defaultPort);

// "a.b.c.d/nn".
std::string SubnetText(const NetInterface& netInterface);

}  // namespace doctor
