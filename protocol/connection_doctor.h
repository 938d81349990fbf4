#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "links/doctor.h"
#include "links/print_queues.h"
#include "links/usb_backend.h"
#include "seams/host_services.h"

// The connection doctor: a fixed chain of checks for one printer, from the
// port up to the printer's answer to "VRS". A check that fails stops the
// chain where the later ones cannot run (they are listed as skipped). It
// only looks: nothing is written to the printer but the version and serial
// requests, nothing is changed on the machine.
namespace doctor {

// Bounds of the waits: a run on one printer ends within 20 s (two connects
// and two requests at most; a printer on the parallel port holds Busy for
// at most busyMs a request).
struct Limits {
    int connectMs = 3000;
    // How long the printer may take to answer a request.
    int replyMs = 7000;
    int busyMs = 2000;
    // One IEEE 1284 handshake step (a printer takes microseconds).
    int handshakeMs = 500;
};

// What a run may use. The probes, the backend and the queues outlive it.
struct Rig {
    IDoctorProbes& probes;
    std::shared_ptr<IUsbBackend> usb;
    std::shared_ptr<IPrintQueueSource> queues;
    // Whose Idle the waits call, so a window keeps painting; may be none.
    IHostServices* idleHost = nullptr;
    Limits limits = {};
};

struct Diagnosis {
    std::string printer;  // "Ethernet 192.168.1.50:9100", "USB A12345", "Parallel LPT1:"
    std::vector<CheckResult> checks;
    bool answered = false;
};

Diagnosis DiagnoseEthernet(Rig& rig, const std::string& addressText, uint16_t defaultPort);
// The maker's USB printers: every one, or the one whose serial number (or
// instance segment) is `serial`. One diagnosis, failing its first check,
// when there is none.
std::vector<Diagnosis> DiagnoseUsb(Rig& rig, const std::string& serial = {});
Diagnosis DiagnoseParallel(Rig& rig, const std::string& portName);

// The chain for a port as the protocol object names it (link kind and port
// name); `ethernetAddress` is where the Ethernet link connects.
std::vector<Diagnosis> DiagnoseConnection(Rig& rig, int linkKind, const std::string& portName,
                                          const std::string& ethernetAddress,
                                          uint16_t ethernetPort);

// The text form: a heading, then per check its status word, its name and
// what was found, and under each failure what to do.
std::vector<std::string> TextLines(const Diagnosis& diagnosis);
// All of them, one line each, for the details of a message box.
std::string DetailsText(const std::vector<Diagnosis>& diagnoses);

}  // namespace doctor
