#include "protocol/connection_doctor.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <sstream>
#include <utility>

#include "links/ethernet_if.h"
#include "links/parallel_if.h"
#include "links/program_state.h"
#include "links/usb_device.h"
#include "links/usb_discovery.h"
#include "protocol/message_if.h"
#include "seams/idle_pacer.h"
#include "seams/print_canvas.h"
#include "seams/text_scan.h"

namespace doctor {

namespace {

constexpr const char* kAnswerCheck = "printer-answers";
constexpr const char* kEthernetChecks[] = {"address", "route", "tcp-connect", kAnswerCheck};
constexpr const char* kUsbChecks[] = {"usb-device",  "device-access", "printer-driver",
                                      "print-queue", "claim",         kAnswerCheck};
constexpr const char* kParallelChecks[] = {"port-device", "port-access", "port-driver",
                                           "negotiation", kAnswerCheck};
constexpr const char* kParallelChecksWindows[] = {"port-library", "negotiation", kAnswerCheck};
// How much of a stranger's answer the finding quotes.
constexpr size_t kQuotedBytes = 40;

// Collects the checks of one chain; the checks a failure left out are
// listed as skipped at the end.
class CChain {
public:
    CChain(Diagnosis& diagnosis, std::span<const char* const> order)
        : m_diagnosis(diagnosis), m_order(order.begin(), order.end()) {}
    // Lists the checks left out, after the last one ran.
    void Finish() {
        for (const char* check : m_order) {
            bool done = false;
            for (const CheckResult& result : m_diagnosis.checks)
                done = done || result.check == check;
            if (done) continue;
            CheckResult skipped = m_stoppedBy.empty()
                                      ? Make(Finding::NotOnPlatform, {"not on this platform"})
                                      : Make(Finding::NotRun, {m_stoppedBy});
            skipped.check = check;
            m_diagnosis.checks.push_back(skipped);
        }
    }
    // Adds the result; false when it failed and the chain ends with it.
    bool Add(CheckResult result, bool stopsOnFailure = true) {
        const bool failed = result.status == Status::Fail;
        m_diagnosis.checks.push_back(std::move(result));
        if (failed && stopsOnFailure) {
            m_stoppedBy = m_diagnosis.checks.back().check;
            return false;
        }
        return true;
    }
    void NotOnPlatform(const char* check, const std::string& why) {
        CheckResult result = Make(Finding::NotOnPlatform, {why});
        result.check = check;
        m_diagnosis.checks.push_back(std::move(result));
    }

private:
    Diagnosis& m_diagnosis;
    std::vector<const char*> m_order;
    std::string m_stoppedBy;
};

// The host the doctor's own protocol object talks to: no box is shown
// (the one question, Retry, is answered Cancel), no pause is taken, and the
// waits' idle calls go to the front end's host, if any.
class CQuietHost : public IHostServices {
public:
    explicit CQuietHost(IHostServices* idle) : m_idle(idle) {}
    MsgResult ShowMessageBox(const std::string&, MsgButtons buttons, MsgIcon) override {
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Cancel;
    }
    void SetWaitCursor(bool) override {}
    void Pause(int) override {}
    void Idle() override {
        if (m_idle) m_idle->Idle();
    }
    void ShowProgress(const std::string&, int64_t, int64_t) override {}
    void EndProgress() override {}

private:
    IHostServices* m_idle;
};

// Passes everything through and keeps the bytes read, so an answer in
// another protocol can be quoted.
class CCapturingLink : public CCharacterInterface {
public:
    CCapturingLink(std::unique_ptr<CCharacterInterface> inner, std::string& captured)
        : m_inner(std::move(inner)), m_captured(captured) {}
    int Open() override { return m_inner->Open(); }
    void Close() override { m_inner->Close(); }
    int Read(uint8_t* buffer, int capacity, int paced) override {
        const int n = m_inner->Read(buffer, capacity, paced);
        if (n > 0) m_captured.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
        return n;
    }
    int Write(const uint8_t* data, int length) override { return m_inner->Write(data, length); }
    int ReceiveWaitMs() const override { return m_inner->ReceiveWaitMs(); }
    bool HasFailed() const override { return m_inner->HasFailed(); }
    void SetIdleHost(IHostServices* host) override {
        CCharacterInterface::SetIdleHost(host);
        m_inner->SetIdleHost(host);
    }

private:
    std::unique_ptr<CCharacterInterface> m_inner;
    std::string& m_captured;
};

std::string Quote(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size() && text.size() < kQuotedBytes; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r') continue;
        text += c == '\n'                 ? std::string("\\n")
                : (c >= 0x20 && c < 0x7F) ? std::string(1, bytes[i])
                                          : ".";
    }
    return text;
}

// The last check of every chain: connect as the program does, which asks
// the printer its version ("VRS") first, then ask its serial number.
// `waitMs` is how long the link waits for a reply.
CheckResult AskPrinter(Rig& rig, std::unique_ptr<CCharacterInterface> link, const std::string& port,
                       int waitMs) {
    CQuietHost host(rig.idleHost);
    std::string captured;
    std::unique_ptr<CCharacterInterface> wrapped =
        std::make_unique<CCapturingLink>(std::move(link), captured);
    CMessageIF msg(host, [&wrapped](int, const std::string&) { return std::move(wrapped); });
    if (!msg.SelectPort(port)) return Make(Finding::NotOpened);
    if (captured.empty()) return Make(Finding::Silent, {std::to_string(waitMs)});
    const std::optional<std::string> version =
        msg.ParseReply(cmd::VRS, captured.substr(0, captured.find('\0')));
    if (!version) return Make(Finding::Foreign, {Quote(captured)});
    const std::optional<std::string> serial = msg.RequestStatus(cmd::MSR);
    const std::string letter = version->empty() ? std::string("?") : version->substr(0, 1);
    return Make(Finding::Answered, {*version, letter, serial.value_or("(none)")});
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
    return text;
}

}  // namespace

namespace {

void EthernetChecks(Rig& rig, CChain& chain, Diagnosis& diagnosis, const std::string& addressText,
                    uint16_t defaultPort) {
    const std::optional<EthernetAddress> target = ParseEthernetAddress(addressText, defaultPort);
    if (!chain.Add(target ? Make(Finding::AddressValid,
                                 {tessaly::FormatIpAddress(target ? target->address : 0),
                                  std::to_string(target ? target->port : 0)})
                          : Make(Finding::AddressInvalid, {addressText}))) {
        return;
    }
    const std::string address = tessaly::FormatIpAddress(target->address);
    const std::string port = std::to_string(target->port);

    // Which way the connection would leave: a local subnet, else a route.
    const std::vector<NetInterface> interfaces = rig.probes.Interfaces();
    std::optional<CheckResult> route;
    std::string subnets;
    for (const NetInterface& entry : interfaces) {
        if (!route && ((target->address ^ entry.address) & entry.mask) == 0) {
            route = Make(Finding::RouteLocal, {address, SubnetText(entry), entry.name});
        }
        subnets += (subnets.empty() ? "" : ", ") + SubnetText(entry);
    }
    if (!route) {
        if (const std::optional<IDoctorProbes::Route> way = rig.probes.RouteTo(target->address)) {
            route = Make(Finding::RouteGateway,
                         {address, way->interfaceName,
                          way->gateway ? " via " + tessaly::FormatIpAddress(way->gateway) : ""});
        } else {
            route = Make(Finding::RouteNone, {address, subnets.empty() ? "none" : subnets});
        }
    }
    // A missing route is worth saying, but the connection is still tried:
    // the system may know a way the doctor does not see.
    chain.Add(*route, false);

    CIdlePacer idle(rig.idleHost);
    std::string detail;
    switch (
        rig.probes.TcpConnect(target->address, target->port, rig.limits.connectMs, idle, detail)) {
        case TcpOutcome::Connected:
            chain.Add(Make(Finding::TcpConnected, {address, port}));
            break;
        case TcpOutcome::Refused:
            chain.Add(Make(Finding::TcpRefused, {address, port}));
            return;
        case TcpOutcome::NoAnswer:
            chain.Add(
                Make(Finding::TcpNoAnswer, {address, port, std::to_string(rig.limits.connectMs)}));
            return;
        case TcpOutcome::Unreachable:
            chain.Add(Make(Finding::TcpUnreachable, {address, port, detail}));
            return;
    }

    tessaly::ProgramState state;
    auto link = std::make_unique<CEthernetIF>(
        state, CEthernetIF::Settings{target->port, rig.limits.replyMs, rig.limits.connectMs,
                                     rig.limits.replyMs, target->address});
    const CheckResult answer = AskPrinter(rig, std::move(link), "Ethernet", rig.limits.replyMs);
    diagnosis.answered = answer.status == Status::Ok;
    chain.Add(answer);
}

}  // namespace

Diagnosis DiagnoseEthernet(Rig& rig, const std::string& addressText, uint16_t defaultPort) {
    Diagnosis diagnosis;
    diagnosis.printer = "Ethernet " + addressText;
    CChain chain(diagnosis, kEthernetChecks);
    EthernetChecks(rig, chain, diagnosis, addressText, defaultPort);
    chain.Finish();
    return diagnosis;
}

namespace {

class CNoSelection : public IUsbSelectionRunner {
public:
    void RunSelection(CUsbDiscovery&, IHostServices&) override {}
};

void UsbDeviceChecks(Rig& rig, CChain& chain, Diagnosis& diagnosis, const UsbDeviceInfo& device) {
    const std::string instance = tessaly::GetInstanceSegment(device.devicePath);
    chain.Add(Make(Finding::UsbPresent, {device.serial.empty() ? "no serial number, at " + instance
                                                               : "serial " + device.serial,
                                         Hex4(device.vendorId) + ":" + Hex4(device.productId)}));
    const bool windows = rig.probes.IsWindows();
    if (!chain.Add(rig.usb->CanOpen(device.devicePath)
                       ? Make(Finding::UsbAccessOk)
                       : Make(windows ? Finding::WinUsbMissing : Finding::UsbNoAccess))) {
        return;
    }

    const std::string queue = rig.queues ? rig.queues->QueueOnDevice(device) : std::string();
    if (windows) {
        chain.NotOnPlatform("printer-driver", "Windows has no kernel printer driver node to check");
    } else {
        const std::vector<std::string> nodes = rig.probes.PrinterDriverNodes(device);
        std::optional<CheckResult> held;
        for (const std::string& node : nodes) {
            const std::vector<NodeHolder> holders = rig.probes.Holders(node);
            if (holders.empty() || held) continue;
            held = Make(Finding::UsbDriverHeld,
                        {node, holders.front().program, std::to_string(holders.front().pid),
                         queue.empty() ? "" : "; print queue " + queue + " is on the printer"});
        }
        // The claim below tells whether the printer can be had; this one
        // only names who holds it.
        chain.Add(held ? *held
                       : Make(Finding::UsbDriverFree,
                              {nodes.empty() ? "the kernel printer driver has no node for it"
                                             : nodes.front() + " is not held by any program"}),
                  false);
    }

    if (queue.empty()) {
        chain.Add(Make(Finding::QueueNone, {device.serial.empty() ? instance : device.serial}));
    } else {
        const std::optional<QueueState> state = rig.probes.Queue(queue);
        if (state && state->jobs > 0 && !state->paused) {
            chain.Add(Make(Finding::QueueJobs, {queue, std::to_string(state->jobs)}), false);
        } else {
            chain.Add(Make(Finding::QueueIdle, {queue, !state          ? "state not read"
                                                       : state->paused ? "paused"
                                                                       : "ready"}));
        }
    }

    if (!chain.Add(rig.usb->ProbeExclusive(device.devicePath) ? Make(Finding::ClaimOk)
                                                              : Make(Finding::ClaimBusy))) {
        return;
    }

    CQuietHost host(rig.idleHost);
    CNoSelection selection;
    tessaly::ProgramState state;
    // The link's own open, with the device already chosen.
    state.selectedUsbDevicePath = device.devicePath;
    std::ostringstream diagnostics;
    UsbLinkParts parts{rig.usb, rig.queues, selection, host, state};
    parts.diagnostics = &diagnostics;
    const CheckResult answer = AskPrinter(rig, std::make_unique<CUSBDevice>(parts), "USB",
                                          parts.times.readAttemptMs * CUSBDevice::kReadAttempts);
    diagnosis.answered = answer.status == Status::Ok;
    chain.Add(answer);
}

Diagnosis DiagnoseUsbDevice(Rig& rig, const UsbDeviceInfo& device) {
    Diagnosis diagnosis;
    diagnosis.printer = "USB " + tessaly::GetInstanceSegment(device.devicePath);
    CChain chain(diagnosis, kUsbChecks);
    UsbDeviceChecks(rig, chain, diagnosis, device);
    chain.Finish();
    return diagnosis;
}

}  // namespace

std::vector<Diagnosis> DiagnoseUsb(Rig& rig, const std::string& serial) {
    std::vector<Diagnosis> diagnoses;
    const auto failed = [&](CheckResult result) {
        Diagnosis diagnosis;
        diagnosis.printer = serial.empty() ? "USB" : "USB " + serial;
        CChain chain(diagnosis, kUsbChecks);
        chain.Add(std::move(result));
        chain.Finish();
        diagnoses.push_back(std::move(diagnosis));
        return diagnoses;
    };
    std::vector<UsbDeviceInfo> devices;
    if (!rig.usb || !rig.usb->Enumerate(devices)) return failed(Make(Finding::UsbListFailed));
    for (const UsbDeviceInfo& device : devices) {
        if (device.vendorId != kMakerUsbVendorId) continue;
        if (!serial.empty() && !textscan::EqualNoCase(device.serial, serial) &&
            !textscan::EqualNoCase(tessaly::GetInstanceSegment(device.devicePath), serial)) {
            continue;
        }
        diagnoses.push_back(DiagnoseUsbDevice(rig, device));
    }
    if (diagnoses.empty()) {
        return failed(Make(Finding::UsbAbsent, {Hex4(kMakerUsbVendorId),
                                                serial.empty() ? "" : " with serial " + serial}));
    }
    return diagnoses;
}

namespace {

void ParallelChecks(Rig& rig, CChain& chain, Diagnosis& diagnosis, const std::string& portName) {
    IDoctorProbes& probes = rig.probes;
    if (probes.IsWindows()) {
        switch (probes.ParallelLibrary()) {
            case PortLibrary::Loaded:
                chain.Add(Make(Finding::PortLibraryOk));
                break;
            case PortLibrary::Missing:
                chain.Add(Make(Finding::PortLibraryMissing));
                return;
            case PortLibrary::WrongBits:
                chain.Add(Make(Finding::PortLibrary32Bit));
                return;
        }
    } else {
        const std::string node = probes.ParallelNode(portName);
        const NodeAccess access = probes.Node(node);
        if (access == NodeAccess::Missing) {
            const auto loaded = [&](const char* module) {
                return std::string(module) +
                       (probes.ModuleLoaded(module) ? " loaded" : " not loaded");
            };
            chain.Add(
                Make(Finding::PortMissing, {node, loaded("parport_pc") + ", " + loaded("ppdev")}));
            return;
        }
        chain.Add(Make(Finding::PortPresent, {node}));
        if (!chain.Add(access == NodeAccess::Denied ? Make(Finding::PortNoAccess, {node})
                                                    : Make(Finding::PortAccessOk, {node}))) {
            return;
        }
        const std::string lpNode = probes.LinePrinterNode(portName);
        const std::vector<NodeHolder> holders = probes.Holders(lpNode);
        // While the line printer driver prints, claiming the port would wait
        // for it: the chain ends here.
        if (!holders.empty()) {
            chain.Add(Make(Finding::PortDriverHeld,
                           {lpNode, holders.front().program, std::to_string(holders.front().pid)}));
            return;
        }
        chain.Add(Make(Finding::PortDriverFree,
                       {probes.ModuleLoaded("lp")
                            ? "the lp module is loaded; no program prints through " + lpNode
                            : "no other driver has the port"}));
    }

    std::shared_ptr<IPortRegisters> port = probes.OpenParallelPort(portName);
    if (!port) {
        chain.Add(Make(Finding::PortClaimFailed));
        return;
    }
    CIdlePacer idle(rig.idleHost);
    if (!chain.Add(NegotiateNibbleMode(*port, rig.limits.handshakeMs, idle)
                       ? Make(Finding::NegotiationOk)
                       : Make(Finding::NegotiationFailed))) {
        return;
    }
    ParallelWaitLimits limits = CParallelIF::kDefaultWaitLimits;
    limits.replyWaitMs = rig.limits.replyMs;
    limits.busyDeadlineMs = rig.limits.busyMs;
    const CheckResult answer = AskPrinter(
        rig, std::make_unique<CParallelIF>(portName, port, limits), portName, limits.replyWaitMs);
    diagnosis.answered = answer.status == Status::Ok;
    chain.Add(answer);
}

}  // namespace

Diagnosis DiagnoseParallel(Rig& rig, const std::string& portName) {
    Diagnosis diagnosis;
    diagnosis.printer = "Parallel " + portName;
    CChain chain(diagnosis, rig.probes.IsWindows()
                                ? std::span<const char* const>(kParallelChecksWindows)
                                : std::span<const char* const>(kParallelChecks));
    ParallelChecks(rig, chain, diagnosis, portName);
    chain.Finish();
    return diagnosis;
}

std::vector<std::string> TextLines(const Diagnosis& diagnosis) {
    std::vector<std::string> lines{diagnosis.printer};
    for (const CheckResult& check : diagnosis.checks) {
        std::string line = "  ";
        line += StatusWord(check.status);
        line.resize(8, ' ');
        line += check.check;
        line.resize(std::max(line.size() + 1, size_t{25}), ' ');
        lines.push_back(line + check.found);
        if (check.status == Status::Fail) lines.push_back("        what to do: " + check.fix);
    }
    return lines;
}

std::string DetailsText(const std::vector<Diagnosis>& diagnoses) {
    std::string text;
    for (const Diagnosis& diagnosis : diagnoses) {
        for (const std::string& line : TextLines(diagnosis)) text += line + "\n";
    }
    return text;
}

std::vector<Diagnosis> DiagnoseConnection(Rig& rig, int linkKind, const std::string& portName,
                                          const std::string& ethernetAddress,
                                          uint16_t ethernetPort) {
    switch (linkKind) {
        case kLinkUsb:
            return DiagnoseUsb(rig);
        case kLinkEthernet:
            return {DiagnoseEthernet(rig, ethernetAddress, ethernetPort)};
        default:
            return {DiagnoseParallel(rig, portName)};
    }
}

}  // namespace doctor
