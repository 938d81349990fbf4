// The connection doctor: its findings table, and each port kind's chain of
// checks against loopback sockets, the simulated USB backend and the
// simulated parallel peripheral, with the machine's answers scripted.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
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
    doctor::PortLibrary library = doctor::PortLibrary::Loaded;
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
    std::string ParallelNode() override { return "/dev/parport0"; }
    std::string LinePrinterNode() override { return "/dev/lp0"; }
    doctor::PortLibrary ParallelLibrary() override { return library; }
    std::shared_ptr<IPortRegisters> OpenParallelPort() override { return port; }
};

doctor::Limits ShortLimits() {
    return {1000 * TestTimeScale(), 300 * TestTimeScale(), 50 * TestTimeScale()};
}

// "check=status" for every check, in order, and the fix of the first
// failure, so a row states the whole chain in one line.
std::string Chain(const doctor::Diagnosis& diagnosis) {
    std::string text;
    for (const doctor::CheckResult& check : diagnosis.checks) {
        text += (text.empty() ? "" : " ") + check.check + "=" + doctor::StatusWord(check.status);
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
    std::string result;
    for (char c : text) {
        if (c == ' ' || c == '\n') {
            if (!result.empty() && result.back() != ' ') result += ' ';
            continue;
        }
        result += c;
    }
    return result;
}

std::string ManPageText() {
    std::ifstream file(std::string(TESSALY_SOURCE_DIR) + "/packaging/man/tessaly-cli.1");
    std::string text, line;
    while (std::getline(file, line)) {
        if (!line.empty() && line[0] == '.') {
            const size_t blank = line.find(' ');
            line = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        }
        for (size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                const char next = line[++i];
                if (next == 'f') {
                    ++i;
                } else if (next == '-') {
                    text += '-';
                } else if (next == 'e') {
                    text += '\\';
                }
                continue;
            }
            text += line[i];
        }
        text += ' ';
    }
    return Collapse(text);
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
        // The page writes each value as "...".
        for (const char* text : {row.found, row.fix}) {
            const doctor::CheckResult filled = doctor::Make(row.id, std::vector<std::string>(9, "..."));
            const std::string expected = text == row.found ? filled.found : filled.fix;
            EXPECT_NE(man.find(Collapse(expected)), std::string::npos) << expected;
        }
    }
    // Values fill their places; a place without a value stays empty.
    const doctor::CheckResult refused = doctor::Make(Finding::TcpRefused, {"10.0.0.9", "9100"});
    EXPECT_EQ(refused.found, "10.0.0.9:9100 refused the connection");
    EXPECT_NE(refused.fix.find("raw port 9100 is on"), std::string::npos);
    EXPECT_EQ(doctor::Make(Finding::UsbAbsent, {"3c7a"}).found,
              "no device with the maker's vendor ID 3c7a on the USB bus");
}

// --- Ethernet over loopback -------------------------------------------------

// A listener on a free loopback port that takes connections and, when given
// an answer, sends it once the client has written something, then closes.
class CLoopbackListener {
public:
    explicit CLoopbackListener(std::string answer) : m_answer(std::move(answer)) {
        net::Start();
        m_socket = net::OpenTcp(false);
        net::BindLoopback(m_socket, 0);
        net::Listen(m_socket, 4);
        m_port = net::LocalPort(m_socket).value_or(0);
        if (!m_answer.empty()) m_thread = std::thread([this] { Serve(); });
    }
    ~CLoopbackListener() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        net::CloseSocket(m_socket);
    }
    uint16_t Port() const { return m_port; }

private:
    void Serve() {
        while (!m_stop) {
            net::PollEntry entry{m_socket, net::kPollIn, 0};
            if (net::Poll(&entry, 1, 20) <= 0) continue;
            net::Socket peer = net::Accept(m_socket);
            if (peer == net::kNoSocket) continue;
            net::SetBlocking(peer, true);
            net::SetReceiveTimeout(peer, 1000);
            uint8_t request[256];
            if (net::Receive(peer, request, sizeof request) > 0) {
                net::Send(peer, reinterpret_cast<const uint8_t*>(m_answer.data()),
                          static_cast<int>(m_answer.size()));
            }
            net::CloseSocket(peer);
        }
    }

    std::string m_answer;
    net::Socket m_socket = net::kNoSocket;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

uint16_t ClosedPort() {
    // A port that was just free: bound, then let go.
    net::Start();
    net::Socket socket = net::OpenTcp(false);
    net::BindLoopback(socket, 0);
    const uint16_t port = net::LocalPort(socket).value_or(1);
    net::CloseSocket(socket);
    return port;
}

TEST(DoctorEthernet, LoopbackPeersEachGetTheirFinding) {
    SimTcpPrinter simulator;
    ASSERT_TRUE(simulator.startError.empty()) << simulator.startError;
    CLoopbackListener silent("");
    CLoopbackListener web("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    const std::string port = std::to_string(simulator.server.Port());

    struct Row {
        const char* what;
        std::string address;
        std::optional<Finding> failure;
        const char* chain;
        std::string foundPart;
    };
    const Row rows[] = {
        {"the simulator", "127.0.0.1:" + port, std::nullopt,
         "address=ok route=ok tcp-connect=ok printer-answers=ok",
         "serial " + simulator.printer->GetState().values.at("MSR")},
        {"a closed port", "127.0.0.1:" + std::to_string(ClosedPort()), Finding::TcpRefused,
         "address=ok route=ok tcp-connect=FAIL printer-answers=skip", "refused the connection"},
        {"a listener that never answers", "127.0.0.1:" + std::to_string(silent.Port()),
         Finding::Silent, "address=ok route=ok tcp-connect=ok printer-answers=FAIL",
         "no reply to the version request"},
        {"an HTTP server", "127.0.0.1:" + std::to_string(web.Port()), Finding::Foreign,
         "address=ok route=ok tcp-connect=ok printer-answers=FAIL", "\"HTTP/1.1 400 Bad Request\\n"},
        {"no address", "127.0.0.300", Finding::AddressInvalid,
         "address=FAIL route=skip tcp-connect=skip printer-answers=skip", "not an IPv4 address"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedProbes probes;
        doctor::Rig rig{probes, nullptr, nullptr, nullptr, ShortLimits()};
        const auto start = std::chrono::steady_clock::now();
        const doctor::Diagnosis diagnosis = doctor::DiagnoseEthernet(rig, row.address, 9100);
        EXPECT_LT(MsSince(start), 5000 * TestTimeScale());
        EXPECT_EQ(Chain(diagnosis), row.chain);
        EXPECT_EQ(FirstFailure(diagnosis), row.failure);
        EXPECT_EQ(diagnosis.answered, !row.failure);
        bool found = false;
        for (const doctor::CheckResult& check : diagnosis.checks) {
            found = found || check.found.find(row.foundPart) != std::string::npos;
        }
        EXPECT_TRUE(found) << doctor::DetailsText({diagnosis});
    }
}

TEST(DoctorEthernet, RouteNamesTheSubnetOrSaysThereIsNone) {
    using Route = doctor::IDoctorProbes::Route;
    struct Row {
        const char* address;
        std::vector<doctor::NetInterface> interfaces;
        std::optional<Route> route;
        Status status;
        const char* found;
    };
    const Row rows[] = {
        {"192.168.1.50",
         {{"lo", kLoopback, 0xFF000000}, {"eth0", 0xC0A80105, 0xFFFFFF00}},
         std::nullopt,
         Status::Ok,
         "192.168.1.50 is in the subnet 192.168.1.0/24 of eth0"},
        {"192.168.2.50",
         {{"eth0", 0xC0A80105, 0xFFFFFF00}},
         Route{"eth0", 0xC0A80101},
         Status::Ok,
         "192.168.2.50 is in no local subnet; the route leaves by eth0 via 192.168.1.1"},
        {"192.168.2.50",
         {{"lo", kLoopback, 0xFF000000}, {"wlan0", 0x0A000002, 0xFFFF0000}},
         std::nullopt,
         Status::Fail,
         "192.168.2.50 is in none of this machine's subnets (127.0.0.0/8, 10.0.0.0/16) and "
         "there is no route to it"},
    };
    for (const Row& row : rows) {
        ScriptedProbes probes;
        probes.interfaces = row.interfaces;
        probes.route = row.route;
        probes.tcp = doctor::TcpOutcome::NoAnswer;
        doctor::Rig rig{probes, nullptr, nullptr, nullptr, ShortLimits()};
        const doctor::Diagnosis diagnosis = doctor::DiagnoseEthernet(rig, row.address, 9100);
        ASSERT_GE(diagnosis.checks.size(), 3u);
        EXPECT_EQ(diagnosis.checks[1].status, row.status);
        EXPECT_EQ(diagnosis.checks[1].found, row.found);
        // A missing route does not stop the connection attempt.
        EXPECT_EQ(diagnosis.checks[2].id, Finding::TcpNoAnswer);
    }
}

// --- USB through the simulated backend -----------------------------------------

TEST(DoctorUsb, EachCauseStopsOrFlagsTheChainWhereItShould) {
    struct Row {
        const char* what;
        std::function<void(SimUsbDevice&, ScriptedProbes&, CSimUsbBackend&)> setUp;
        const char* chain;
        std::optional<Finding> failure;
    };
    const Row rows[] = {
        {"a healthy printer", [](SimUsbDevice&, ScriptedProbes&, CSimUsbBackend&) {},
         "usb-device=ok device-access=ok printer-driver=ok print-queue=ok claim=ok "
         "printer-answers=ok",
         std::nullopt},
        {"no device of the maker",
         [](SimUsbDevice& device, ScriptedProbes&, CSimUsbBackend&) { device.vendorId = 0x1234; },
         "usb-device=FAIL device-access=skip printer-driver=skip print-queue=skip claim=skip "
         "printer-answers=skip",
         Finding::UsbAbsent},
        {"a node without permission",
         [](SimUsbDevice& device, ScriptedProbes&, CSimUsbBackend&) { device.unopenable = true; },
         "usb-device=ok device-access=FAIL printer-driver=skip print-queue=skip claim=skip "
         "printer-answers=skip",
         Finding::UsbNoAccess},
        {"the printer driver's node held by another program",
         [](SimUsbDevice& device, ScriptedProbes& probes, CSimUsbBackend&) {
             device.busy = true;
             probes.driverNodes = {"/dev/usb/lp0"};
             probes.holders["/dev/usb/lp0"] = {{4242, "usb"}};
         },
         "usb-device=ok device-access=ok printer-driver=FAIL print-queue=ok claim=FAIL "
         "printer-answers=skip",
         Finding::UsbDriverHeld},
        {"a queue with jobs",
         [](SimUsbDevice& device, ScriptedProbes& probes, CSimUsbBackend&) {
             device.queueName = "Card-Printer";
             probes.queue = doctor::QueueState{false, 2};
         },
         "usb-device=ok device-access=ok printer-driver=ok print-queue=FAIL claim=ok "
         "printer-answers=ok",
         Finding::QueueJobs},
        {"a printer that never answers",
         [](SimUsbDevice& device, ScriptedProbes&, CSimUsbBackend&) { device.neverAnswers = true; },
         "usb-device=ok device-access=ok printer-driver=ok print-queue=ok claim=ok "
         "printer-answers=FAIL",
         Finding::Silent},
        {"unplugged in the middle of the checks",
         [](SimUsbDevice& device, ScriptedProbes& probes, CSimUsbBackend& backend) {
             device.queueName = "Card-Printer";
             probes.onQueue = [&backend] {
                 backend.Device(0).writePipeFails = true;
                 backend.Device(0).readPipeFails = true;
             };
         },
         "usb-device=ok device-access=ok printer-driver=ok print-queue=ok claim=ok "
         "printer-answers=FAIL",
         Finding::NotOpened},
        {"Windows without WinUSB",
         [](SimUsbDevice& device, ScriptedProbes& probes, CSimUsbBackend&) {
             probes.windows = true;
             device.unopenable = true;
         },
         "usb-device=ok device-access=FAIL printer-driver=skip print-queue=skip claim=skip "
         "printer-answers=skip",
         Finding::WinUsbMissing},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto backend = std::make_shared<CSimUsbBackend>();
        ScriptedProbes probes;
        SimUsbDevice device;
        device.serial = "A12345";
        device.printer = std::make_shared<CSimPrinter>();
        row.setUp(device, probes, *backend);
        backend->AddDevice(device);
        doctor::Rig rig{probes, backend, backend, nullptr, ShortLimits()};
        const std::vector<doctor::Diagnosis> diagnoses = doctor::DiagnoseUsb(rig);
        ASSERT_EQ(diagnoses.size(), 1u);
        EXPECT_EQ(Chain(diagnoses[0]), row.chain) << doctor::DetailsText(diagnoses);
        EXPECT_EQ(FirstFailure(diagnoses[0]), row.failure);
        EXPECT_EQ(diagnoses[0].answered, Chain(diagnoses[0]).ends_with("printer-answers=ok"));
        if (row.failure == Finding::UsbDriverHeld) {
            EXPECT_EQ(diagnoses[0].checks[2].found, "/dev/usb/lp0 is held by usb (PID 4242)");
        }
    }
}

// --- the parallel port through the simulated peripheral -------------------------

TEST(DoctorParallel, EachCauseStopsTheChainWhereItShould) {
    struct Row {
        const char* what;
        std::function<void(ScriptedProbes&, SimParallelOptions&)> setUp;
        const char* chain;
        std::optional<Finding> failure;
    };
    const Row rows[] = {
        {"a healthy printer", [](ScriptedProbes&, SimParallelOptions&) {},
         "port-device=ok port-access=ok port-driver=ok negotiation=ok printer-answers=ok",
         std::nullopt},
        {"no port driver",
         [](ScriptedProbes& probes, SimParallelOptions&) {
             probes.nodes.clear();
             probes.modules = {"parport_pc"};
         },
         "port-device=FAIL port-access=skip port-driver=skip negotiation=skip printer-answers=skip",
         Finding::PortMissing},
        {"no permission",
         [](ScriptedProbes& probes, SimParallelOptions&) {
             probes.nodes["/dev/parport0"] = doctor::NodeAccess::Denied;
         },
         "port-device=ok port-access=FAIL port-driver=skip negotiation=skip printer-answers=skip",
         Finding::PortNoAccess},
        {"the lp driver printing",
         [](ScriptedProbes& probes, SimParallelOptions&) {
             probes.holders["/dev/lp0"] = {{77, "cat"}};
         },
         "port-device=ok port-access=ok port-driver=FAIL negotiation=skip printer-answers=skip",
         Finding::PortDriverHeld},
        {"the port cannot be claimed",
         [](ScriptedProbes& probes, SimParallelOptions&) { probes.port = nullptr; },
         "port-device=ok port-access=ok port-driver=ok negotiation=FAIL printer-answers=skip",
         Finding::PortClaimFailed},
        {"printer off",
         [](ScriptedProbes&, SimParallelOptions& options) { options.absent = true; },
         "port-device=ok port-access=ok port-driver=ok negotiation=FAIL printer-answers=skip",
         Finding::NegotiationFailed},
        {"Windows, a 32-bit port library",
         [](ScriptedProbes& probes, SimParallelOptions&) {
             probes.windows = true;
             probes.library = doctor::PortLibrary::WrongBits;
         },
         "port-library=FAIL negotiation=skip printer-answers=skip", Finding::PortLibrary32Bit},
        {"Windows, the library there",
         [](ScriptedProbes& probes, SimParallelOptions&) { probes.windows = true; },
         "port-library=ok negotiation=ok printer-answers=ok", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto port = std::make_shared<CSimParallelPort>(std::make_shared<CSimPrinter>());
        ScriptedProbes probes;
        probes.port = port;
        row.setUp(probes, port->Options());
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
        return std::make_unique<CParallelIF>("LPT3:", CParallelIF::PortOpener([] {
                                                 return std::shared_ptr<IPortRegisters>();
                                             }));
    });
    std::vector<std::string> asked;
    msg.SetConnectDiagnosis([&asked](int kind, const std::string& portName) {
        asked.push_back(std::to_string(kind) + " " + portName);
        return "found " + std::to_string(asked.size());
    });
    EXPECT_EQ(msg.SelectPort("LPT3:"), 0);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].text, CMessageIF::kConnectFailedText);
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::RetryCancel);
    EXPECT_EQ(host.boxes[0].details, "found 1");
    EXPECT_EQ(host.boxes[1].details, "found 2");
    EXPECT_EQ(asked, (std::vector<std::string>{"1 LPT3:", "1 LPT3:"}));
}

// --- this machine -------------------------------------------------------------------

#if defined(__linux__)
TEST(DoctorSystemProbes, SeeLoopbackAndWhoHoldsAFile) {
    const std::unique_ptr<doctor::IDoctorProbes> probes = doctor::MakeSystemDoctorProbes();
    if (probes->IsWindows()) GTEST_SKIP() << "the Linux probes";
    bool loopback = false;
    for (const doctor::NetInterface& entry : probes->Interfaces()) {
        loopback = loopback || (entry.address == kLoopback && entry.mask == 0xFF000000);
    }
    EXPECT_TRUE(loopback);
    EXPECT_EQ(probes->Node("/dev/no-such-node"), doctor::NodeAccess::Missing);

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
