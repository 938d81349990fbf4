// What the connection doctor asks of a Windows machine: the IP helper's
// addresses and routes, one TCP connection, and the port I/O library. The
// kernel-driver, device-node and queue-state checks have no Windows form;
// the doctor reports them as skipped.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which it needs.
#include <iphlpapi.h>
#include <windows.h>

#include <chrono>
#include <vector>

#include "links/doctor.h"
#include "links/ethernet_if.h"
#include "links/socket_ops.h"
#include "seams/idle_pacer.h"

namespace doctor {

namespace {

constexpr const char* kPortLibrary = "INPOUT32.dll";

class CWindowsDoctorProbes : public IDoctorProbes {
public:
    bool IsWindows() const override { return true; }

    std::vector<NetInterface> Interfaces() override {
        std::vector<NetInterface> list;
        ULONG size = 0;
        if (::GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return list;
        std::vector<unsigned char> area(size);
        auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(area.data());
        if (::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return list;
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            const MIB_IPADDRROW& row = table->table[i];
            NetInterface entry;
            entry.name = "interface " + std::to_string(row.dwIndex);
            entry.address = ntohl(row.dwAddr);
            entry.mask = ntohl(row.dwMask);
            list.push_back(entry);
        }
        return list;
    }

    std::optional<Route> RouteTo(uint32_t address) override {
        MIB_IPFORWARDROW row{};
        if (::GetBestRoute(htonl(address), 0, &row) != NO_ERROR) return std::nullopt;
        return Route{"interface " + std::to_string(row.dwForwardIfIndex),
                     ntohl(row.dwForwardNextHop)};
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
        if (start == net::ConnectStart::Failed) error = ::WSAGetLastError();
        if (start == net::ConnectStart::Pending) {
            const std::optional<int> finished = FinishConnect(socket, timeoutMs, idle);
            if (!finished) {
                net::CloseSocket(socket);
                return TcpOutcome::NoAnswer;
            }
            error = *finished < 0 ? ::WSAGetLastError() : *finished;
        }
        net::CloseSocket(socket);
        if (error == 0) return TcpOutcome::Connected;
        if (error == WSAECONNREFUSED) return TcpOutcome::Refused;
        if (error == WSAETIMEDOUT) return TcpOutcome::NoAnswer;
        detail = "error " + std::to_string(error);
        return TcpOutcome::Unreachable;
    }

    NodeAccess Node(const std::string&) override { return NodeAccess::Missing; }
    std::vector<NodeHolder> Holders(const std::string&) override { return {}; }
    std::vector<std::string> PrinterDriverNodes(const UsbDeviceInfo&) override { return {}; }
    std::optional<QueueState> Queue(const std::string&) override { return std::nullopt; }
    bool ModuleLoaded(const std::string&) override { return false; }
    std::string ParallelNode(const std::string&) override { return {}; }
    std::string LinePrinterNode(const std::string&) override { return {}; }

    PortLibrary ParallelLibrary() override {
        HMODULE library = ::LoadLibraryA(kPortLibrary);
        if (library == nullptr) {
            // A 32-bit build is found but cannot be loaded into this 64-bit
            // program.
            return ::GetLastError() == ERROR_BAD_EXE_FORMAT ? PortLibrary::WrongBits
                                                            : PortLibrary::Missing;
        }
        ::FreeLibrary(library);
        return PortLibrary::Loaded;
    }

    std::shared_ptr<IPortRegisters> OpenParallelPort(const std::string& portName) override {
        return OpenSystemParallelPort(portName);
    }
};

}  // namespace

std::unique_ptr<IDoctorProbes> MakeSystemDoctorProbes() {
    return std::make_unique<CWindowsDoctorProbes>();
}

}  // namespace doctor
