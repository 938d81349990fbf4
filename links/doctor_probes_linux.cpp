// What the connection doctor asks of a Linux machine: the interfaces and
// routes, /dev, /proc and /sys, the CUPS scheduler, and one TCP connection.
#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "links/doctor.h"
#include "links/ethernet_if.h"
#include "links/ppdev_port.h"
#include "links/socket_ops.h"
#include "links/usb_backend.h"
#include "links/usblp_node.h"
#include "seams/idle_pacer.h"

namespace doctor {

namespace {

namespace fs = std::filesystem;

constexpr const char* kRouteTable = "/proc/net/route";
constexpr const char* kUsbDevices = "/sys/bus/usb/devices";
constexpr const char* kUsbNodeFolder = "/dev/usb/";
// The line printer driver numbers its nodes as the parport layer numbers
// the ports: /dev/lp1 prints through /dev/parport1.
constexpr std::string_view kPortNodePrefix = "/dev/parport";
constexpr std::string_view kLinePrinterNodePrefix = "/dev/lp";
// CUPS's printer-state values.
constexpr const char* kStateStopped = "5";

std::string ReadLine(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// The USB device folder (under /sys/bus/usb/devices) of the device: its
// vendor, product and serial number, or where it is plugged in when it has
// no serial number.
std::optional<fs::path> UsbDeviceFolder(const UsbDeviceInfo& device) {
    char ids[2][5];
    std::snprintf(ids[0], sizeof ids[0], "%04x", device.vendorId);
    std::snprintf(ids[1], sizeof ids[1], "%04x", device.productId);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kUsbDevices, error)) {
        const std::string name = entry.path().filename().string();
        if (name.find(':') != std::string::npos) continue;
        if (ReadLine(entry.path() / "idVendor") != ids[0] ||
            ReadLine(entry.path() / "idProduct") != ids[1]) {
            continue;
        }
        const std::string serial = ReadLine(entry.path() / "serial");
        if (device.serial.empty() ? device.devicePath.find("#" + name + "#") != std::string::npos
                                  : serial == device.serial) {
            return entry.path();
        }
    }
    return std::nullopt;
}

// An address of the kernel's route table, in host byte order.
uint32_t Hex(const std::string& text) {
    return ntohl(static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16)));
}

class CLinuxDoctorProbes : public IDoctorProbes {
public:
    bool IsWindows() const override { return false; }

    std::vector<NetInterface> Interfaces() override {
        std::vector<NetInterface> list;
        ifaddrs* all = nullptr;
        if (::getifaddrs(&all) != 0) return list;
        for (const ifaddrs* at = all; at != nullptr; at = at->ifa_next) {
            if (at->ifa_addr == nullptr || at->ifa_netmask == nullptr ||
                at->ifa_addr->sa_family != AF_INET || (at->ifa_flags & IFF_UP) == 0) {
                continue;
            }
            NetInterface entry;
            entry.name = at->ifa_name;
            entry.address =
                ntohl(reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr);
            entry.mask =
                ntohl(reinterpret_cast<const sockaddr_in*>(at->ifa_netmask)->sin_addr.s_addr);
            list.push_back(entry);
        }
        ::freeifaddrs(all);
        return list;
    }

    std::optional<Route> RouteTo(uint32_t address) override {
        // The kernel's table: interface, destination, gateway, flags, ...,
        // mask, each address in hex as it lies in memory (network order).
        std::ifstream table(kRouteTable);
        std::string line;
        std::getline(table, line);
        std::optional<Route> best;
        int bestBits = -1;
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string name, destination, gateway, flags, refs, use, metric, mask;
            if (!(fields >> name >> destination >> gateway >> flags >> refs >> use >> metric >>
                  mask)) {
                continue;
            }
            const uint32_t dest = Hex(destination);
            const uint32_t netmask = Hex(mask);
            const int bits = __builtin_popcount(netmask);
            if ((address & netmask) != dest || bits <= bestBits) continue;
            bestBits = bits;
            best = Route{name, Hex(gateway)};
        }
        return best;
    }

    TcpOutcome TcpConnect(uint32_t address, uint16_t port, int timeoutMs, CIdlePacer& idle,
                          std::string& detail) override {
        if (!net::Start()) return TcpOutcome::Unreachable;
        net::Socket socket = net::OpenTcp(true);
        if (socket == net::kNoSocket) {
            detail = net::LastFailureText();
            return TcpOutcome::Unreachable;
        }
        int error = 0;
        const net::ConnectStart start = net::Connect(socket, address, port);
        if (start == net::ConnectStart::Failed) error = errno;
        if (start == net::ConnectStart::Pending) {
            const std::optional<int> finished = FinishConnect(socket, timeoutMs, idle);
            if (!finished) {
                net::CloseSocket(socket);
                return TcpOutcome::NoAnswer;
            }
            error = *finished < 0 ? errno : *finished;
        }
        net::CloseSocket(socket);
        if (error == 0) return TcpOutcome::Connected;
        if (error == ECONNREFUSED) return TcpOutcome::Refused;
        if (error == ETIMEDOUT) return TcpOutcome::NoAnswer;
        detail = std::strerror(error);
        return TcpOutcome::Unreachable;
    }

    NodeAccess Node(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0) {
            ::close(fd);
            return NodeAccess::Opens;
        }
        if (errno == ENOENT || errno == ENODEV || errno == ENXIO) return NodeAccess::Missing;
        if (errno == EBUSY) return NodeAccess::Busy;
        return NodeAccess::Denied;
    }

    std::vector<NodeHolder> Holders(const std::string& path) override {
        std::vector<NodeHolder> holders;
        std::error_code error;
        const fs::path wanted = fs::weakly_canonical(path, error);
        for (const auto& process : fs::directory_iterator("/proc", error)) {
            const std::string pid = process.path().filename().string();
            if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
            std::error_code ignored;
            // Another user's descriptors cannot be read: such a process
            // stays unseen, which the finding's wording allows for.
            for (const auto& fd : fs::directory_iterator(process.path() / "fd", ignored)) {
                if (fs::read_symlink(fd.path(), ignored) != wanted) continue;
                holders.push_back({std::atoi(pid.c_str()), ReadLine(process.path() / "comm")});
                break;
            }
        }
        return holders;
    }

    std::vector<std::string> PrinterDriverNodes(const UsbDeviceInfo& device) override {
        std::vector<std::string> nodes;
        const std::optional<fs::path> folder = UsbDeviceFolder(device);
        if (!folder) return nodes;
        const std::string name = folder->filename().string();
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(kUsbDevices, error)) {
            const std::string interfaceName = entry.path().filename().string();
            if (interfaceName.rfind(name + ":", 0) != 0) continue;
            for (const std::string& node : UsblpNodeNames(interfaceName)) {
                nodes.push_back(kUsbNodeFolder + node);
            }
        }
        return nodes;
    }

    std::optional<QueueState> Queue(const std::string& name) override {
        cups_dest_t* dests = nullptr;
        const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
        const cups_dest_t* dest = cupsGetDest(name.c_str(), nullptr, count, dests);
        std::optional<QueueState> state;
        if (dest != nullptr) {
            const char* printerState =
                cupsGetOption("printer-state", dest->num_options, dest->options);
            state = QueueState{};
            state->paused =
                printerState != nullptr && std::strcmp(printerState, kStateStopped) == 0;
            cups_job_t* jobs = nullptr;
            const int jobCount =
                cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, name.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
            state->jobs = jobCount > 0 ? jobCount : 0;
            cupsFreeJobs(jobCount, jobs);
        }
        cupsFreeDests(count, dests);
        return state;
    }

    bool ModuleLoaded(const std::string& name) override {
        std::error_code error;
        return fs::exists(fs::path("/sys/module") / name, error);
    }

    std::string ParallelNode(const std::string& portName) override {
        return ParallelDevicePath(portName).value_or(std::string());
    }
    std::string LinePrinterNode(const std::string& portName) override {
        const std::string node = ParallelNode(portName);
        if (node.size() <= kPortNodePrefix.size()) return {};
        return std::string(kLinePrinterNodePrefix) + node.substr(kPortNodePrefix.size());
    }
    PortLibrary ParallelLibrary() override { return PortLibrary::Loaded; }
    std::shared_ptr<IPortRegisters> OpenParallelPort(const std::string& portName) override {
        return OpenSystemParallelPort(portName);
    }
};

}  // namespace

std::unique_ptr<IDoctorProbes> MakeSystemDoctorProbes() {
    return std::make_unique<CLinuxDoctorProbes>();
}

}  // namespace doctor
