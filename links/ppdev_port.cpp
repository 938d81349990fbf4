#include "links/ppdev_port.h"

#include <filesystem>
#include <fstream>

#include "links/parallel_if.h"

std::optional<std::string> ParallelDevicePath(std::string_view portName) {
    const std::optional<int> number = ParallelPortNumber(portName);
    if (!number) return std::nullopt;
    return "/dev/parport" + std::to_string(*number - 1);
}

std::optional<std::string> ParallelPortHolder(const std::string& device,
                                              const std::string& portsFolder) {
    // /dev/parport0 is the port the parport layer calls parport0.
    const std::string port = std::filesystem::path(device).filename().string();
    std::ifstream active(std::filesystem::path(portsFolder) / port / "devices" / "active");
    std::string name;
    if (!std::getline(active, name) || name.empty() || name == "none") return std::nullopt;
    return name;
}

#if defined(__linux__)

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What a status read gives when the driver refuses it (the adapter was
// unplugged, say): Busy set and nAck low, so a waiting link sees a printer
// that never gets ready and gives up after its time limit.
constexpr uint8_t kLostStatus = 0x00;
constexpr uint8_t kUnknownRegister = 0xFF;

int Ioctl(int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = ::ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

std::shared_ptr<CPpdevPort> CPpdevPort::Open(const std::string& device,
                                             const std::string& portsFolder, std::string* whyNot) {
    const auto fail = [whyNot](const std::string& why) {
        if (whyNot) *whyNot = why;
        return nullptr;
    };
    if (const std::optional<std::string> holder = ParallelPortHolder(device, portsFolder)) {
        return fail(device + " is held by " + *holder +
                    " (the line printer driver or another program); free the port and try "
                    "again");
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) {
            return fail("no permission to open " + device +
                        ": add the user to the lp group (sudo usermod -aG lp USER) and log in "
                        "again");
        }
        if (error == ENOENT) {
            return fail("no " + device +
                        ": the machine has no such port, or the parport_pc and ppdev modules "
                        "are not loaded (sudo modprobe -a parport_pc ppdev)");
        }
        return fail("cannot open " + device + ": " + std::strerror(error));
    }
    if (Ioctl(fd, PPCLAIM, nullptr) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(device + " could not be claimed as a parallel port: " + std::strerror(error));
    }
    return std::shared_ptr<CPpdevPort>(new CPpdevPort(fd));
}

CPpdevPort::~CPpdevPort() {
    Ioctl(m_fd, PPRELEASE, nullptr);
    ::close(m_fd);
}

uint8_t CPpdevPort::ReadRegister(uint16_t address) {
    unsigned char value = 0;
    switch (address) {
        case lpt::kDataRegister:
            if (Ioctl(m_fd, PPRDATA, &value) != 0) return kUnknownRegister;
            return value;
        case lpt::kStatusRegister:
            if (Ioctl(m_fd, PPRSTATUS, &value) != 0) return kLostStatus;
            return value;
        case lpt::kControlRegister:
            if (Ioctl(m_fd, PPRCONTROL, &value) != 0) return kUnknownRegister;
            return value;
        default:
            return kUnknownRegister;
    }
}

void CPpdevPort::WriteRegister(uint16_t address, uint8_t value) {
    unsigned char byte = value;
    switch (address) {
        case lpt::kDataRegister:
            Ioctl(m_fd, PPWDATA, &byte);
            break;
        case lpt::kControlRegister:
            Ioctl(m_fd, PPWCONTROL, &byte);
            break;
        default:
            break;
    }
}

std::shared_ptr<IPortRegisters> OpenSystemParallelPort(const std::string& portName,
                                                       std::string* whyNot) {
    const std::optional<std::string> device = ParallelDevicePath(portName);
    if (!device) {
        if (whyNot) *whyNot = portName + " is no parallel port (LPT1: to LPT4:)";
        return nullptr;
    }
    return CPpdevPort::Open(*device, CPpdevPort::kPortsFolder, whyNot);
}

#elif !defined(_WIN32)

// No port access on this platform: the link reports the port as unreachable.
std::shared_ptr<CPpdevPort> CPpdevPort::Open(const std::string&, const std::string&, std::string*) {
    return nullptr;
}
CPpdevPort::~CPpdevPort() = default;
uint8_t CPpdevPort::ReadRegister(uint16_t) { return 0xFF; }
void CPpdevPort::WriteRegister(uint16_t, uint8_t) {}
std::shared_ptr<IPortRegisters> OpenSystemParallelPort(const std::string&, std::string* whyNot) {
    if (whyNot) *whyNot = "this system has no parallel port access";
    return nullptr;
}

#endif
