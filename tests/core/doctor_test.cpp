// The connection doctor: its findings table, and each port kind's chain of
// checks against loopback sockets, the simulated USB backend and the
// simulated parallel peripheral, with the machine's answers scripted.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <thread>

#if defined(__linux__)
#include <unistd.h>
#endif

#include "links/doctor.h"
#include "links/parallel_if.h"
#include "links/socket_ops.h"
#include "protocol/connection_doctor.h"
#include "protocol/message_if.h"
#include "sim/sim_parallel_port.h"
#include "sim/sim_usb_backend.h"
#include "support/fake_host.h"
#include "support/sim_tcp_printer.h"
#include "support/time_scale.h"

namespace {

using doctor::Finding;
using doctor::Status;

constexpr uint32_t kLoopback = 0x7F000001;

// The machine as a test scripts it. The TCP connection is the real one
// unless a row scripts its outcome.
struct ScriptedProbes : doctor::IDoctorProbes {
    bool windows = false;
    std::vector<doctor::NetInterface> interfaces{{"lo", kLoopback, 0xFF000000}};
    std::optional<Route> route;
    std::optional<doctor::TcpOutcome> tcp;
    std::map<std::string, doctor::NodeAccess> nodes{{"/dev/parport0", doctor::NodeAccess::Opens}};
    std::map<std::string, std::vector<doctor::NodeHolder>> holders;
    std::vector<std::string> driverNodes;
    std::optional<doctor::QueueState> queue;
    std::vector<std::string> modules;
    std::shared_ptr<IPortRegisters> port;
    // Runs when the queue is looked at: the printer may go meanwhile.
    std::function<void()> onQueue;

    std::unique_ptr<doctor::IDoctorProbes> system = doctor::MakeSystemDoctorProbes();

    bool IsWindows() const override { return windows; }
    std::vector<doctor::NetInterface> Interfaces() override { return interfaces; }
    std::optional<Route> RouteTo(uint32_t) override { return route; }
    doctor::TcpOutcome TcpConnect(uint32_t address, uint16_t port, int timeoutMs, CIdlePacer& idle,
                                  std::string& detail) override {
        return tcp ? *tcp : system->TcpConnect(address, port, timeoutMs, idle, detail);
    }
    doctor::NodeAccess Node(const std::string& path) override {
        return nodes.count(path) ? nodes[path] : doctor::NodeAccess::Missing;
    }
    std::vector<doctor::NodeHolder> Holders(const std::string& path) override {
        return holders[path];
    }
    std::vector<std::string> PrinterDriverNodes(const UsbDeviceInfo&) override {
        return driverNodes;
    }
    std::optional<doctor::QueueState> Queue(const std::string&) override {
        if (onQueue) onQueue();
        return queue;
    }
    bool ModuleLoaded(const std::string& name) override {
        return std::find(modules.begin(), modules.end(), name) != modules.end();
    }
    std::string ParallelNode(const std::string&) override { return "/dev/parport0"; }
    std::string LinePrinterNode(const std::string&) override { return "/dev/lp0"; }
    doctor::PortLibrary ParallelLibrary() override { return doctor::PortLibrary::Loaded; }
    std::shared_ptr<IPortRegisters> OpenParallelPort(const std::string&) override { return port; }
};

doctor::Limits ShortLimits() {
    return {.connectMs = 1000 * TestTimeScale(),
            .replyMs = 300 * TestTimeScale(),
            .handshakeMs = 50 * TestTimeScale()};
}

// The status of every check, in order: a row states the whole chain in
// one line.
std::string Chain(const doctor::Diagnosis& diagnosis) {
    std::string text;
    for (const doctor::CheckResult& check : diagnosis.checks) {
        text += (text.empty() ? "" : " ") + std::string(doctor::StatusWord(check.status));
    }
    return text;
}

std::optional<Finding> FirstFailure(const doctor::Diagnosis& diagnosis) {
    for (const doctor::CheckResult& check : diagnosis.checks) {
        if (check.status == Status::Fail) return check.id;
    }
    return std::nullopt;
}

// The man page as plain words: request names, font changes and escapes
// gone, white space collapsed.
std::string Collapse(const std::string& text) {
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

std::string ManPageText() {
    std::ifstream file(std::string(TESSALY_SOURCE_DIR) + "/packaging/man/tessaly-cli.1");
    std::string text, line;
    while (std::getline(file, line))
        text += std::regex_replace(line, std::regex("^\\.\\S+ ?"), "") + " ";
    text = std::regex_replace(text, std::regex("\\\\f.|\\\\&"), "");
    return Collapse(std::regex_replace(text, std::regex("\\\\-"), "-"));
}

TEST(DoctorFindings, TableIsCompleteAndEveryRowIsInTheManPage) {
    const auto& table = doctor::FindingTable();
    ASSERT_EQ(table.size(), static_cast<size_t>(Finding::Count));
    const std::string man = ManPageText();
#if defined(_WIN32)
    // Under wine the source tree may not be reachable by its Linux path.
    if (man.empty()) GTEST_SKIP() << "the man page is not readable here";
#endif
    ASSERT_FALSE(man.empty());
    for (size_t i = 0; i < table.size(); ++i) {
        const doctor::FindingRow& row = table[i];
        SCOPED_TRACE(row.found);
        EXPECT_EQ(static_cast<size_t>(row.id), i);
        // A failure says what to do; nothing else does.
        EXPECT_EQ(row.status == Status::Fail, std::string(row.fix).size() > 0);
        // The page writes each value as "...", and the fix under what was found.
        const doctor::CheckResult filled = doctor::Make(row.id, std::vector<std::string>(9, "..."));
        const std::string entry =
            filled.found + (filled.fix.empty() ? "" : " What to do: " + filled.fix);
        EXPECT_NE(man.find(Collapse(entry)), std::string::npos) << entry;
    }
}

// --- Ethernet over loopback -------------------------------------------------

TEST(DoctorEthernet, LoopbackPeersEachGetTheirFinding) {
    SimTcpPrinter simulator;
    ASSERT_TRUE(simulator.startError.empty()) << simulator.startError;
    uint16_t closed = 0, silent = 0, web = 0;
    net::Socket gone = LoopbackListening(closed);
    net::CloseSocket(gone);
    net::Socket quiet = LoopbackListening(silent);
    net::Socket server = LoopbackListening(web);
    std::atomic<bool> done{false};
    std::thread webServer([&] {
        // Answers whatever comes as a web server would.
        static constexpr char kAnswer[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
        while (!done) {
            net::PollEntry entry{server, net::kPollIn, 0};
            net::Socket peer = net::Poll(&entry, 1, 20) > 0 ? net::Accept(server) : net::kNoSocket;
            if (peer == net::kNoSocket) continue;
            net::SetBlocking(peer, true);
            uint8_t request[256];
            if (net::WaitReadable(peer, 1000) > 0 &&
                net::Receive(peer, request, sizeof request) > 0) {
                net::Send(peer, reinterpret_cast<const uint8_t*>(kAnswer), sizeof kAnswer - 1);
            }
            net::CloseSocket(peer);
        }
    });
    const std::string port = std::to_string(simulator.server.Port());

    struct Row {
        const char* what;
        std::string address;
        std::optional<Finding> failure;
        const char* chain;
        std::string foundPart;
    };
    const Row rows[] = {
        {"the simulator", "127.0.0.1:" + port, std::nullopt, "ok ok ok ok",
         "serial " + simulator.printer->GetState().values.at("MSR")},
        {"a closed port", "127.0.0.1:" + std::to_string(closed), Finding::TcpRefused,
         "ok ok FAIL skip", "refused the connection"},
        {"a listener that never answers", "127.0.0.1:" + std::to_string(silent), Finding::Silent,
         "ok ok ok FAIL", "no reply to the version request"},
        {"an HTTP server", "127.0.0.1:" + std::to_string(web), Finding::Foreign, "ok ok ok FAIL",
         "\"HTTP/1.1 400 Bad Request\\n"},
        {"no address", "0.0.0.0", Finding::AddressInvalid, "FAIL skip skip skip",
         "is not a printer's address"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedProbes probes;
        // The window's host: every wait lets it paint.
        FakeHost window;
        doctor::Rig rig{probes, nullptr, nullptr, &window, ShortLimits()};
        const auto start = std::chrono::steady_clock::now();
        const doctor::Diagnosis diagnosis = doctor::DiagnoseEthernet(rig, row.address, 9100);
        EXPECT_LT(MsSince(start), 5000 * TestTimeScale());
        EXPECT_EQ(Chain(diagnosis), row.chain);
        EXPECT_EQ(FirstFailure(diagnosis), row.failure);
        EXPECT_EQ(diagnosis.answered, !row.failure);
        if (row.failure == Finding::Silent) {
            EXPECT_GT(window.idles, 0);
        }
        bool found = false;
        for (const doctor::CheckResult& check : diagnosis.checks) {
            found = found || check.found.find(row.foundPart) != std::string::npos;
        }
        EXPECT_TRUE(found) << doctor::DetailsText({diagnosis});
    }
    done = true;
    webServer.join();
    net::CloseSocket(quiet);
    net::CloseSocket(server);
    // The printer is asked (the connect's own "VRS", then the serial), never
    // told.
    std::string frames;
    for (const SimFrame& frame : simulator.printer->Frames()) frames += frame.mnemonic + " ";
    EXPECT_EQ(frames, "VRS MSR ");
}

TEST(DoctorEthernet, RouteNamesTheSubnetOrSaysThereIsNone) {
    using Route = doctor::IDoctorProbes::Route;
    struct Row {
        std::vector<doctor::NetInterface> interfaces;
        std::optional<Route> route;
        const char* found;  // for 192.168.2.50
    };
    const doctor::NetInterface lo{"lo", kLoopback, 0xFF000000};
    const doctor::NetInterface eth0{"eth0", 0xC0A80205, 0xFFFFFF00};
    const doctor::NetInterface wlan0{"wlan0", 0x0A000002, 0xFFFF0000};
    const Row rows[] = {
        {{lo, eth0}, {}, "192.168.2.50 is in the subnet 192.168.2.0/24 of eth0"},
        {{wlan0},
         Route{"wlan0", 0x0A000001},
         "192.168.2.50 is in no local subnet; the route leaves by wlan0 via 10.0.0.1"},
        {{lo, wlan0},
         {},
         "192.168.2.50 is in none of this machine's subnets (127.0.0.0/8, "
         "10.0.0.0/16) and there is no route to it"},
    };
    for (const Row& row : rows) {
        ScriptedProbes probes;
        probes.interfaces = row.interfaces;
        probes.route = row.route;
        probes.tcp = doctor::TcpOutcome::NoAnswer;
        doctor::Rig rig{probes, nullptr, nullptr, nullptr, ShortLimits()};
        const doctor::Diagnosis diagnosis = doctor::DiagnoseEthernet(rig, "192.168.2.50", 9100);
        ASSERT_EQ(diagnosis.checks.size(), 4u);
        EXPECT_EQ(diagnosis.checks[1].status,
                  std::strstr(row.found, "no route") ? Status::Fail : Status::Ok);
        EXPECT_EQ(diagnosis.checks[1].found, row.found);
        // A missing route does not stop the connection attempt.
        EXPECT_EQ(diagnosis.checks[2].id, Finding::TcpNoAnswer);
    }
}

// --- USB through the simulated backend -----------------------------------------

TEST(DoctorUsb, EachCauseStopsOrFlagsTheChainWhereItShould) {
    struct Row {
        const char* what;  // also how the machine is set up
        const char* chain;
        std::optional<Finding> failure;
    };
    const Row rows[] = {
        {"a healthy printer", "ok ok ok ok ok ok", {}},
        {"another vendor's device", "FAIL skip skip skip skip skip", Finding::UsbAbsent},
        {"a node without permission", "ok FAIL skip skip skip skip", Finding::UsbNoAccess},
        {"the driver's node held", "ok ok FAIL ok FAIL skip", Finding::UsbDriverHeld},
        {"a queue with jobs", "ok ok ok FAIL ok ok", Finding::QueueJobs},
        {"a printer that never answers", "ok ok ok ok ok FAIL", Finding::Silent},
        {"unplugged in the middle", "ok ok ok ok ok FAIL", Finding::NotOpened},
        {"Windows, a node without permission", "ok FAIL skip skip skip skip",
         Finding::WinUsbMissing},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto backend = std::make_shared<CSimUsbBackend>();
        ScriptedProbes probes;
        SimUsbDevice device;
        device.serial = "A12345";
        device.printer = std::make_shared<CSimPrinter>();
        device.queueName = "Card-Printer";
        const auto is = [&row](const char* what) { return std::strstr(row.what, what) != nullptr; };
        if (is("another vendor")) device.vendorId = 0x1234;
        device.unopenable = is("without permission");
        device.busy = is("held");
        device.neverAnswers = is("never answers");
        if (device.busy) probes.driverNodes = {"/dev/usb/lp0"};
        probes.holders["/dev/usb/lp0"] = {{4242, "usb"}};
        probes.queue = doctor::QueueState{false, is("jobs") ? 2 : 0};
        probes.windows = is("Windows");
        // The printer goes while the queue is looked at.
        if (is("unplugged")) {
            probes.onQueue = [&backend] {
                backend->Device(0).writePipeFails = true;
                backend->Device(0).readPipeFails = true;
            };
        }
        backend->AddDevice(device);
        doctor::Rig rig{probes, backend, backend, nullptr, ShortLimits()};
        const std::vector<doctor::Diagnosis> diagnoses = doctor::DiagnoseUsb(rig);
        ASSERT_EQ(diagnoses.size(), 1u);
        EXPECT_EQ(Chain(diagnoses[0]), row.chain) << doctor::DetailsText(diagnoses);
        EXPECT_EQ(FirstFailure(diagnoses[0]), row.failure);
        EXPECT_EQ(diagnoses[0].answered, Chain(diagnoses[0]).ends_with(" ok"));
        if (device.busy) {
            EXPECT_EQ(diagnoses[0].checks[2].found,
                      "/dev/usb/lp0 is held by usb (PID 4242); print queue Card-Printer is on the "
                      "printer");
        }
    }
}

// --- the parallel port through the simulated peripheral -------------------------

TEST(DoctorParallel, EachCauseStopsTheChainWhereItShould) {
    struct Row {
        const char* what;  // also how the machine is set up
        const char* chain;
        std::optional<Finding> failure;
    };
    const Row rows[] = {
        {"a healthy printer", "ok ok ok ok ok", {}},
        {"no port node", "FAIL skip skip skip skip", Finding::PortMissing},
        {"no permission", "ok FAIL skip skip skip", Finding::PortNoAccess},
        {"the lp driver printing", "ok ok FAIL skip skip", Finding::PortDriverHeld},
        {"the port cannot be claimed", "ok ok ok FAIL skip", Finding::PortClaimFailed},
        {"the printer off", "ok ok ok FAIL skip", Finding::NegotiationFailed},
        {"Windows", "ok ok ok", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto port = std::make_shared<CSimParallelPort>(std::make_shared<CSimPrinter>());
        const auto is = [&row](const char* what) { return std::strstr(row.what, what) != nullptr; };
        port->Options().absent = is("off");
        ScriptedProbes probes;
        probes.port = is("cannot be claimed") ? nullptr : port;
        if (is("no port node")) probes.nodes.clear();
        if (is("no permission")) probes.nodes["/dev/parport0"] = doctor::NodeAccess::Denied;
        if (is("lp driver")) probes.holders["/dev/lp0"] = {{77, "cat"}};
        probes.modules = {"parport_pc"};
        probes.windows = is("Windows");
        doctor::Rig rig{probes, nullptr, nullptr, nullptr, ShortLimits()};
        const doctor::Diagnosis diagnosis = doctor::DiagnoseParallel(rig, "LPT2:");
        EXPECT_EQ(Chain(diagnosis), row.chain) << doctor::DetailsText({diagnosis});
        EXPECT_EQ(FirstFailure(diagnosis), row.failure);
        EXPECT_EQ(diagnosis.answered, !row.failure);
    }
}

// --- the window's failure box ---------------------------------------------------

TEST(DoctorInTheRetryBox, EveryFailedConnectShowsTheFindingsAsDetails) {
    FakeHost host;
    host.boxAnswers = {MsgResult::Retry, MsgResult::Cancel};
    CMessageIF msg(host, [](int, const std::string&) -> std::unique_ptr<CCharacterInterface> {
        // A printer that is not there: the parallel link finds no port.
        return std::make_unique<CParallelIF>(
            "LPT3:", CParallelIF::PortOpener([] { return std::shared_ptr<IPortRegisters>(); }));
    });
    msg.SetConnectDiagnosis([](int kind, const std::string& portName) {
        return std::to_string(kind) + " " + portName;
    });
    EXPECT_EQ(msg.SelectPort("LPT3:"), 0);
    ASSERT_EQ(host.boxes.size(), 2u);
    for (const FakeHost::Box& box : host.boxes) {
        EXPECT_EQ(box.text, CMessageIF::kConnectFailedText);
        EXPECT_EQ(box.buttons, MsgButtons::RetryCancel);
        EXPECT_EQ(box.details, "1 LPT3:");
    }
}

// --- this machine -------------------------------------------------------------------

#if defined(__linux__)
TEST(DoctorSystemProbes, SeeWhoHoldsAFile) {
    const std::unique_ptr<doctor::IDoctorProbes> probes = doctor::MakeSystemDoctorProbes();
    if (probes->IsWindows()) GTEST_SKIP() << "the Linux probes";

    const std::string path = testing::TempDir() + "doctor_held_node";
    std::ofstream held(path);
    ASSERT_TRUE(held);
    const std::vector<doctor::NodeHolder> holders = probes->Holders(path);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, static_cast<int>(::getpid()));
    // The kernel keeps the first 15 characters of the program's name.
    EXPECT_EQ(holders[0].program, "tessaly_core_te");
    held.close();
    EXPECT_TRUE(probes->Holders(path).empty());
}
#endif

}  // namespace
