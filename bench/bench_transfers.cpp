// Firmware image transfer and status round trips: the protocol object
// against a bare socket (or bare link calls) on the same simulated printer.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "links/ethernet_if.h"
#include "links/program_state.h"
#include "protocol/message_if.h"
#include "protocol/source_file.h"
#include "sim/sim_link.h"
#include "sim/sim_printer.h"
#include "sim/sim_tcp_server.h"
#include "support/frames.h"
#include "support/sim_tcp_printer.h"
#include "tasks/firmware.h"

extern char** environ;

// The instructions callgrind counts are those inside this function: the
// timed loop and nothing of the set-up. Not inlined, so it keeps its name.
extern "C" __attribute__((noinline)) void tessaly_bench_counted(const std::function<void()>* run) {
    (*run)();
}

namespace bench {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kChunk = CMessageIF::kFirmwareChunk;
// The baselines read the image in blocks this large, a whole number of
// chunks: the way a plain program reads a file it sends on or sums.
constexpr size_t kReadBlock = 64 * 1024;

// A plain blocking TCP client of the simulator, the baseline's side.
class BareSocket {
public:
    explicit BareSocket(uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(kLoopback);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~BareSocket() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool Ok() const { return m_fd >= 0; }
    bool Send(const void* data, size_t length) {
        auto* bytes = static_cast<const char*>(data);
        while (length > 0) {
            const ssize_t sent = ::send(m_fd, bytes, length, MSG_NOSIGNAL);
            if (sent <= 0) return false;
            bytes += sent;
            length -= static_cast<size_t>(sent);
        }
        return true;
    }
    ssize_t Receive(void* buffer, size_t capacity) { return ::recv(m_fd, buffer, capacity, 0); }

private:
    int m_fd = -1;
};

std::string MakeImage(size_t size, uint32_t& sum) {
    std::string image(size, '\0');
    uint32_t state = 12345;
    sum = 0;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        image[i] = static_cast<char>(state >> 24);
        sum += static_cast<uint8_t>(image[i]);
    }
    return image;
}

// The protocol object on an Ethernet link to the server (reconnected); the
// link, for closing the session at the end of a round.
CCharacterInterface* ConnectOverTcp(tessaly::ProgramState& state, CMessageIF& msg, uint16_t port) {
    state.printerIpAddress = kLoopback;
    CCharacterInterface* made = nullptr;
    msg.SetLinkFactory(
        [&state, port, &made](int, const std::string&) -> std::unique_ptr<CCharacterInterface> {
            auto link = std::make_unique<CEthernetIF>(state, port);
            made = link.get();
            return link;
        });
    msg.SelectPort("Ethernet");
    msg.SetLinkFactory({});
    return made;
}

// Time per request through the protocol object against the bare exchange,
// in interleaved pairs: both see the same machine state.
Row RequestRateRow(const std::string& where, const std::string& baselineName, int pairs, int count,
                   const std::function<void()>& bare, const std::function<void()>& framed) {
    std::vector<double> framedSeconds, bareSeconds;
    TimePairs(pairs, framed, bare, framedSeconds, bareSeconds);
    Row row;
    row.name = std::to_string(count) + " RequestStatus, " + where;
    row.unit = "us/request";
    row.FromPairs(framedSeconds, bareSeconds, [count](double s) { return s / count * 1e6; });
    row.baselineName = baselineName;
    row.goal = {Goal::RatioAtMost, 1.1};
    return row;
}

// A row in MiB/s for `size` bytes moved by `ours`, beside `baseline` moving
// the same bytes, in interleaved pairs.
Row ThroughputRow(const Options& options, const std::string& name, size_t size,
                  const std::function<void()>& ours, const std::string& baselineName,
                  const std::function<void()>& baseline, double goalRatio) {
    std::vector<double> oursSeconds, baselineSeconds;
    TimePairs(RatioPairs(options), ours, baseline, oursSeconds, baselineSeconds);
    const double mib = static_cast<double>(size) / (1 << 20);
    Row row;
    row.name = name;
    row.unit = "MiB/s";
    row.FromPairs(oursSeconds, baselineSeconds, [mib](double s) { return mib / s; });
    row.baselineName = baselineName;
    row.goal = {Goal::RatioAtLeast, goalRatio};
    return row;
}

// The protocol object and the simulated printer served on a TCP port of this
// machine; a run that must end answers Retry/Cancel with Cancel.
struct TcpWorld {
    SimTcpPrinter tcp;
    CSimTcpServer& server = tcp.server;
    bool started = server.IsRunning();
    tessaly::ProgramState state;
    FakeHost host{MsgResult::Cancel};
    CMessageIF msg{host};
};

// The image on disk, as the program reads it; removed at the end of the run.
struct ImageFile {
    std::string path;
    std::string bytes;
    uint32_t sum = 0;

    explicit ImageFile(size_t size) {
        bytes = MakeImage(size, sum);
        path = (std::filesystem::temp_directory_path() /
                ("tessaly-bench-" + std::to_string(::getpid()) + ".cfe"))
                   .string();
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(size));
    }
    ~ImageFile() { std::remove(path.c_str()); }
};

void FirmwareTransfer(const Options& options, const ImageFile& file, std::vector<Row>& rows) {
    const size_t size = file.bytes.size();
    const uint32_t sum = file.sum;
    TcpWorld world;
    if (!world.started) return;
    bool faulty = false;
    std::vector<char> block(kReadBlock);

    // The same bytes as SendFirmwareImage puts on the wire, in the same
    // 1024-byte writes, then the reply; read from the same file, so the row
    // compares the protocol and not a copy from memory with a file read.
    auto bare = [&] {
        BareSocket socket(world.server.Port());
        std::FILE* f = std::fopen(file.path.c_str(), "rb");
        std::string header =
            std::string(9, '\x05') + "\x01REQ,FRM" + std::to_string(size) + ",\x1C";
        bool ok = f != nullptr && socket.Ok() && socket.Send(header.data(), header.size());
        size_t read = 0;
        while (ok) {
            const size_t n = std::fread(block.data(), 1, block.size(), f);
            if (n == 0) break;
            for (size_t at = 0; ok && at < n; at += kChunk) {
                ok = socket.Send(block.data() + at, std::min<size_t>(kChunk, n - at));
            }
            read += n;
        }
        if (f != nullptr) std::fclose(f);
        ok = ok && read == size && socket.Send("\x03", 1);
        char reply[1024] = {};
        const ssize_t n = ok ? socket.Receive(reply, sizeof reply - 1) : -1;
        const std::string expected = "CHK" + std::to_string(static_cast<int32_t>(sum)) + ",";
        if (n <= 0 || std::string(reply) != expected) faulty = true;
    };
    auto framed = [&] {
        CCharacterInterface* link = ConnectOverTcp(world.state, world.msg, world.server.Port());
        std::unique_ptr<CDiskFile> disk = CDiskFile::Open(file.path);
        if (!disk || world.msg.SendFirmwareImage(*disk) != static_cast<int32_t>(sum)) faulty = true;
        if (link) link->Close();
    };
    Row row = ThroughputRow(
        options,
        "Firmware image " + std::to_string(size >> 20) + " MiB, SendFirmwareImage over TCP", size,
        framed, "bare socket, same file read in 64 KiB blocks, same 1024-byte writes", bare, 0.9);
    row.faulty = faulty;
    rows.push_back(row);
}

const std::string kStatusFrame = Framed("REQ,STA,MSR");
const std::string kStatusReply = "MSRE1234567,";
const std::string kStatusValue = "E1234567";

// The protocol object and a bare link on one simulated printer in this
// process, no transport: what a request costs beyond the printer's side.
struct InProcessWorld {
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    FakeHost host{MsgResult::Cancel};
    CMessageIF msg{host};
    CSimLink bareLink{printer};
    bool faulty = false;

    InProcessWorld() {
        msg.SetLinkFactory([this](int, const std::string&) -> std::unique_ptr<CCharacterInterface> {
            return std::make_unique<CSimLink>(printer);
        });
        msg.SelectPort("Ethernet");
        bareLink.Open();
    }
    void Bare(int count) {
        uint8_t area[CMessageIF::kAreaSize];
        for (int i = 0; i < count; ++i) {
            bareLink.Write(reinterpret_cast<const uint8_t*>(kStatusFrame.data()),
                           static_cast<int>(kStatusFrame.size()));
            const int n = bareLink.Read(area, sizeof area, 0);
            // Checked as the protocol object's value is, so both sides do
            // the same work beside the exchange.
            if (n != static_cast<int>(kStatusReply.size()) ||
                std::memcmp(area, kStatusReply.data(), kStatusReply.size()) != 0) {
                faulty = true;
            }
        }
    }
    void Framed(int count) {
        for (int i = 0; i < count; ++i) {
            if (msg.RequestStatus(cmd::MSR) != kStatusValue) faulty = true;
        }
    }
};

// Instructions per in-process request, ours and bare, counted by callgrind
// in a child of this program; no row where valgrind cannot run (it is not
// needed for anything else). Unlike the time, the count does not move with
// the machine's load.
void InstructionCountRow(const Options& options, std::vector<Row>& rows) {
    const int count = options.quick ? 2000 : 20000;
    auto countOne = [&](const char* side) -> double {
        const std::string out =
            (std::filesystem::temp_directory_path() /
             ("tessaly-bench-callgrind-" + std::to_string(::getpid()) + "-" + side + ".out"))
                .string();
        std::vector<std::string> words = {"valgrind",
                                          "--tool=callgrind",
                                          "--collect-atstart=no",
                                          "--toggle-collect=tessaly_bench_counted",
                                          "--callgrind-out-file=" + out,
                                          options.executable,
                                          kInstructionProbeOption,
                                          side,
                                          std::to_string(count)};
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t child = 0;
        const int spawned =
            posix_spawnp(&child, "valgrind", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return 0;
        int status = 0;
        ::waitpid(child, &status, 0);
        double total = 0;
        std::ifstream in(out);
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("totals:", 0) == 0 || line.rfind("summary:", 0) == 0) {
                total = std::atof(line.c_str() + line.find(':') + 1);
            }
        }
        std::remove(out.c_str());
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
        return total / count;
    };
    const double ours = countOne("framed");
    const double bare = countOne("bare");
    if (ours <= 0 || bare <= 0) {
        std::printf(
            "(no instruction count: valgrind is missing, or the run under its callgrind failed)\n");
        return;
    }
    Row row;
    row.name = std::to_string(count) + " RequestStatus, in process, instructions";
    row.unit = "instructions/request";
    row.value = ours;
    row.baselineName = "bare Write + Read on the simulator link";
    row.baseline = bare;
    row.note = "counted by callgrind inside the request loop alone, after a warm-up";
    rows.push_back(row);
}

void StatusRoundTrips(const Options& options, std::vector<Row>& rows) {
    // In process a request takes a microsecond or two: runs long enough
    // that a scheduler's hiccup is small beside them.
    const int count = options.quick ? 1000 : 10000;
    const int inProcessCount = 10 * count;
    const std::string& frame = kStatusFrame;
    const std::string& reply = kStatusReply;
    const int rounds = RatioPairs(options);

    {
        // A pair here takes a tenth of a second, and its ratio moves with
        // the scheduler more than the other rows': three times the pairs
        // steady the median.
        InProcessWorld world;
        Row row = RequestRateRow(
            "in process", "bare Write + Read on the simulator link", 3 * rounds, inProcessCount,
            [&] { world.Bare(inProcessCount); }, [&] { world.Framed(inProcessCount); });
        row.faulty = world.faulty;
        rows.push_back(row);
    }
    InstructionCountRow(options, rows);

    // Over TCP to the simulator's server.
    {
        TcpWorld world;
        if (!world.started) return;
        bool faulty = false;
        auto bare = [&] {
            BareSocket socket(world.server.Port());
            char area[CMessageIF::kAreaSize];
            for (int i = 0; i < count; ++i) {
                if (!socket.Send(frame.data(), frame.size())) faulty = true;
                if (socket.Receive(area, sizeof area) != static_cast<ssize_t>(reply.size()) ||
                    std::memcmp(area, reply.data(), reply.size()) != 0) {
                    faulty = true;
                }
            }
        };
        auto framed = [&] {
            CCharacterInterface* link = ConnectOverTcp(world.state, world.msg, world.server.Port());
            for (int i = 0; i < count; ++i) {
                if (world.msg.RequestStatus(cmd::MSR) != kStatusValue) faulty = true;
            }
            if (link) link->Close();
        };
        // One connect and family detection are inside the framed run; they
        // are a single round trip among ten thousand.
        Row row =
            RequestRateRow("over TCP", "bare send + recv on a socket", rounds, count, bare, framed);
        row.faulty = faulty;
        rows.push_back(row);
    }
}

}  // namespace

int RunInstructionProbe(int argc, char** argv) {
    const std::string side = argv[2];
    const int count = std::atoi(argv[3]);
    if (count <= 0 || (side != "framed" && side != "bare")) return 2;
    InProcessWorld world;
    const std::function<void()> run = [&] {
        side == "framed" ? world.Framed(count) : world.Bare(count);
    };
    // The first requests build what is built once (frames, the reply area's
    // pages); they are not what a request costs.
    side == "framed" ? world.Framed(100) : world.Bare(100);
    tessaly_bench_counted(&run);
    (void)argc;
    return world.faulty ? 1 : 0;
}

void FirmwareChecksum(const Options& options, const ImageFile& file, std::vector<Row>& rows) {
    bool faulty = false;
    auto sumFile = [&] {
        std::unique_ptr<CDiskFile> disk = CDiskFile::Open(file.path);
        const firmware::ByteSum sum = firmware::SumBytes(*disk);
        if (sum.readFailed || sum.sum != file.sum) faulty = true;
    };
    // The same file read in blocks and summed by a plain loop: the row
    // weighs our reads and sum against the plain ones, not against a read
    // that adds nothing up.
    std::vector<uint8_t> block(kReadBlock);
    auto plainSum = [&] {
        std::FILE* f = std::fopen(file.path.c_str(), "rb");
        if (f == nullptr) {
            faulty = true;
            return;
        }
        uint32_t sum = 0;
        while (const size_t n = std::fread(block.data(), 1, block.size(), f)) {
            for (size_t i = 0; i < n; ++i) sum += block[i];
        }
        std::fclose(f);
        if (sum != file.sum) faulty = true;
    };
    Row row = ThroughputRow(
        options, "Firmware checksum, " + std::to_string(file.bytes.size() >> 20) + " MiB file",
        file.bytes.size(), sumFile, "plain byte sum over fread, 64 KiB blocks", plainSum, 0.8);
    row.faulty = faulty;
    rows.push_back(row);
}

void RunTransfers(const Options& options, std::vector<Row>& rows) {
    const ImageFile image((options.quick ? 4u : 64u) << 20);
    FirmwareTransfer(options, image, rows);
    StatusRoundTrips(options, rows);
    FirmwareChecksum(options, image, rows);
}

}  // namespace bench
